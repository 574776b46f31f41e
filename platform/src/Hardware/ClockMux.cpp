#include "Hardware/ClockMux.h"

namespace Clock::Mux {

std::ostream& operator<<(std::ostream& out, AccessMethod method) {
  switch (method) {
    case AccessMethod::clockMuxHam:
      return out << "clockMuxHam";
    case AccessMethod::cpldRegister:
      return out << "cpldRegister";
    case AccessMethod::fpgaRegister:
      return out << "fpgaRegister";
  }
  return out << static_cast<unsigned>(method);
}

}  // namespace Clock::Mux

namespace Hardware::ClockMux {
namespace {
[[maybe_unused]] const bool registered =
    (Kel::kelModuleIs<SourceControl, Sink, MuxConfig, MuxConfigDir, MuxStatus, MuxStatusDir>(
         "Hardware/ClockMux"),
     true);
}  // namespace
}  // namespace Hardware::ClockMux
