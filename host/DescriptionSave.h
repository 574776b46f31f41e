#pragma once

#include <string>

#include "Corral/EntityManager.h"
#include "host/PlatformDescription.h"

namespace velaclockd {

// The state database and the simulated hardware as a platform description (YAML) that
// `velaclockd --platform` loads back: every entity as `get` shows it, except that an entity its
// client rebuilds at start (mounted `rebuilt`) is saved empty; every register bank of `loaded`
// with its registers as they are now; every output line at the level it is driven now.
std::string savedDescription(const Corral::EntityManager& database,
                             const PlatformDescription& loaded);

}  // namespace velaclockd
