#include "Hardware/Clocking.h"

namespace Hardware::Clocking {

std::ostream& operator<<(std::ostream& out, Signal signal) {
  switch (signal) {
    case Signal::none:
      return out << "none";
    case Signal::pps:
      return out << "pps";
    case Signal::gnssPps:
      return out << "gnssPps";
    case Signal::gnssPpsTod:
      return out << "gnssPpsTod";
  }
  return out << static_cast<unsigned>(signal);
}

namespace {
[[maybe_unused]] const bool registered =
    (Kel::kelModuleIs<PortConfig, PpsGnssInPortConfig, PortStatus, PpsGnssInPortStatus,
                      PortCliConfigDir, PortCliStatusDir>("Hardware/Clocking"),
     true);
}  // namespace

}  // namespace Hardware::Clocking
