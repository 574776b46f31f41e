#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>
#include <filesystem>

// The address of the Unix socket at `path`.
inline sockaddr_un unixAddress(const std::filesystem::path& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  return address;
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
