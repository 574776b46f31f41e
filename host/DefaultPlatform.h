#pragma once

namespace velaclockd {

// The embedded default fixed system (config/default-platform.yaml, compiled in).
extern const char* const defaultPlatformDescription;
inline constexpr const char* defaultPlatformName = "embedded default system";

}  // namespace velaclockd
