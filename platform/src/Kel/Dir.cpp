#include "Kel/Dir.h"

#include "Kel/Activity.h"

namespace Kel {
namespace {
[[maybe_unused]] const bool registered = (kelModuleIs<Dir, ActivityManagerConfig>("Kel"), true);
}  // namespace
}  // namespace Kel
