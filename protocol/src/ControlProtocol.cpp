#include "velaclock/ControlProtocol.h"

#include <unistd.h>

#include <cstdlib>

namespace velaclock {

std::filesystem::path runtimeDirectory() {
  if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg && *xdg) {
    return std::filesystem::path(xdg) / "velaclock";
  }
  return std::filesystem::path("/tmp") / ("velaclock-" + std::to_string(getuid()));
}

std::filesystem::path socketPath(const std::string& instance) {
  return runtimeDirectory() / (instance + ".sock");
}

}  // namespace velaclock
