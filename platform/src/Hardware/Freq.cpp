#include "Hardware/Freq.h"

namespace Hardware::Freq {
namespace {
[[maybe_unused]] const bool registered =
    (Kel::kelModuleIs<HARDWARE_SIGNAL_TYPES>("Hardware/Freq"), true);
}  // namespace
}  // namespace Hardware::Freq
