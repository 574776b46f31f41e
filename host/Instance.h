#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace velaclockd {

// A place for the control socket that others could tamper with, or an instance already served.
class InstanceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Makes `directory` (creating it 0700 when absent) and checks that only this user can use it:
// owned by us, no access for group or others. Throws InstanceError.
void securePrivateDirectory(const std::filesystem::path& directory);

// Checks that nobody but us (or root) can write the directory that holds `socket`, so that the
// socket cannot be replaced under us. Throws InstanceError.
void secureSocketDirectory(const std::filesystem::path& socket);

// Holds the lock of one instance while it lives, so that a second daemon on the same instance is
// refused and the first keeps its socket. Throws InstanceError when another process holds it.
class InstanceLock {
 public:
  explicit InstanceLock(const std::filesystem::path& lockFile);
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

 private:
  int fd_;
};

}  // namespace velaclockd
