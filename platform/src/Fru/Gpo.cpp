#include "Fru/Gpo.h"

#include <map>

#include "Fru/Hardware.h"
#include "Kel/Trace.h"

namespace Fru {

namespace {
std::map<Kel::String, GpoLine>& lines() {
  static std::map<Kel::String, GpoLine> all;
  return all;
}
}  // namespace

GpoLine& gpoLine(const Kel::String& name) {
  return lines()[name];
}

void gpoLinesDelAll() {
  lines().clear();
}

std::ostream& operator<<(std::ostream& out, LineDrive drive) {
  switch (drive) {
    case LineDrive::driven:
      return out << "driven";
    case LineDrive::accessFailed:
      return out << "accessFailed";
    case LineDrive::readBackMismatch:
      return out << "readBackMismatch";
    case LineDrive::refused:
      return out << "refused";
  }
  return out << static_cast<unsigned>(drive);
}

void Gpo::assertedIs(bool asserted) const {
  GpoLine& line = gpoLine(name());
  // A real line's record follows what its device holds; a simulated line is its record.
  if (const auto driver = describedOutputLine(name())) {
    if (const LineDrive drive = driver->assertedIs(asserted); drive != LineDrive::driven) {
      static Kel::TraceHandle& trace = Kel::traceHandle("Fru");
      KEL_TRACE(trace, 0) << "line " << name() << " not driven " << (asserted ? "high" : "low")
                          << ": " << drive;
      return;
    }
  }
  line.asserted = asserted;
  ++line.writes;
}

bool Gpo::asserted() const {
  return gpoLine(name()).asserted;
}

unsigned Gpo::writeCount() const {
  return gpoLine(name()).writes;
}

void Gpo::kelDescribeMore(Kel::TypeBuilder<Gpo>& builder) {
  builder.readOnly<bool>("asserted", [](const Gpo& gpo) { return gpo.asserted(); });
  builder.readOnly<unsigned>("writeCount", [](const Gpo& gpo) { return gpo.writeCount(); });
}

}  // namespace Fru
