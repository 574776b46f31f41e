#include "Hardware/Pps.h"

namespace Hardware::Pps {
namespace {
[[maybe_unused]] const bool registered =
    (Kel::kelModuleIs<CounterCommon, LumenCounter, QuillCounter>("Hardware/Pps"), true);
}  // namespace
}  // namespace Hardware::Pps
