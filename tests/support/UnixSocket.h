#pragma once

#include <sys/socket.h>

#include <filesystem>

#include "velaclock/ControlProtocol.h"

// The address of the Unix socket at `path`, which a test keeps short enough for one.
inline sockaddr_un unixAddress(const std::filesystem::path& path) {
  return velaclock::socketAddress(path).value();
}

// Binds `fd` to the Unix socket at `path`; true when it did.
inline bool bindUnix(int fd, const std::filesystem::path& path) {
  const sockaddr_un address = unixAddress(path);
  return bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

// Connects `fd` to the Unix socket at `path`; true when it did.
inline bool connectUnix(int fd, const std::filesystem::path& path) {
  const sockaddr_un address = unixAddress(path);
  return connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}
