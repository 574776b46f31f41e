#include "Fru/Gpo.h"

#include <map>

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

void Gpo::assertedIs(bool asserted) const {
  GpoLine& line = gpoLine(name());
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
