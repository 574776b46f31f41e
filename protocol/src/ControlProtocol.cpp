#include "velaclock/ControlProtocol.h"

#include <unistd.h>

#include <algorithm>
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

std::string instanceNameError(const std::string& name) {
  const auto safe = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '.' || c == '-';
  };
  if (name.empty() || name.front() == '.' || !std::all_of(name.begin(), name.end(), safe)) {
    return "instance name `" + name +
           "`: expected letters, digits, '_', '.' and '-', not starting with '.'";
  }
  return {};
}

}  // namespace velaclock
