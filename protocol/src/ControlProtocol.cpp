#include "velaclock/ControlProtocol.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

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

std::optional<sockaddr_un> socketAddress(const std::filesystem::path& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.native().size() >= sizeof address.sun_path) return std::nullopt;
  std::strcpy(address.sun_path, path.c_str());
  return address;
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
