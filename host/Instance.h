#pragma once

#include <sys/types.h>

#include <filesystem>
#include <stdexcept>
#include <string>

namespace velaclockd {

// A place for the control socket that others could tamper with, or an instance already served.
class InstanceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Another daemon serves the instance, or listens on the control socket's path.
class InstanceTaken : public InstanceError {
 public:
  using InstanceError::InstanceError;
};

// Makes `directory` (creating it 0700 when absent) and checks that only this user can use it:
// owned by us, no access for group or others. Throws InstanceError.
void securePrivateDirectory(const std::filesystem::path& directory);

// Checks that nobody but us (or root) can write the directory that holds `socket`, so that the
// socket cannot be replaced under us. Throws InstanceError.
void secureSocketDirectory(const std::filesystem::path& socket);

// Makes room for a control socket at `socket`: removes a socket of this user that nobody listens
// on any more (left by a daemon that died). Throws InstanceTaken when a daemon listens there, and
// InstanceError for anything else at that path, which it leaves alone.
void clearSocketPlace(const std::filesystem::path& socket);

// The shared-memory name of the lock of this user's `instance`: "/velaclock.<uid>.<instance>.lock",
// beside the instance's shared-memory tables (see kel_flume_segment_name).
std::string instanceLockName(uid_t uid, const std::string& instance);

// Holds the lock of one instance, the identity (effective uid, instance name), while it lives, so
// that a second daemon of that identity is refused whatever its runtime directory or socket, and
// the first keeps its socket and shared memory. Throws InstanceTaken when another process holds
// it, InstanceError when the lock object cannot be used (a symbolic link, another user's).
class InstanceLock {
 public:
  explicit InstanceLock(const std::string& instance);
  // Removes the lock object, then unlocks it. A daemon that opened it just before finds, once it
  // holds the lock, that the object is no longer the one under the name, and tries again; so two
  // never both hold "the" lock. One left by a daemon that died is stale: nobody holds it.
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

 private:
  bool stillNamed() const;

  std::string name_;
  int fd_ = -1;
};

}  // namespace velaclockd
