#include "Hardware/Strobe.h"

namespace Hardware::Strobe {
namespace {
[[maybe_unused]] const bool registered =
    (Kel::kelModuleIs<HARDWARE_SIGNAL_TYPES>("Hardware/Strobe"), true);
}  // namespace
}  // namespace Hardware::Strobe
