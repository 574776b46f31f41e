#include "host/Instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "velaclock/ControlProtocol.h"
#include "velaclock/kel_flume.h"

namespace velaclockd {

namespace {
std::string describeMode(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

std::string describeKind(mode_t mode) {
  if (S_ISREG(mode)) return "regular file";
  if (S_ISDIR(mode)) return "directory";
  if (S_ISLNK(mode)) return "symbolic link";
  if (S_ISSOCK(mode)) return "socket";
  return "special file";
}

// Whether a daemon accepts connections on the socket at `path` (a full backlog counts).
bool someoneListens(const std::filesystem::path& path) {
  const auto address = velaclock::socketAddress(path);
  if (!address) return false;  // bind will say so
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) throw InstanceError(std::string("cannot make a socket: ") + std::strerror(errno));
  const int connected = connect(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address);
  const int error = errno;
  close(fd);
  if (connected == 0 || error == EAGAIN) return true;
  if (error == ECONNREFUSED) return false;
  throw InstanceError("cannot check the socket " + path.string() + ": " + std::strerror(error));
}
}  // namespace

void securePrivateDirectory(const std::filesystem::path& directory) {
  if (mkdir(directory.c_str(), 0700) < 0 && errno != EEXIST) {
    throw InstanceError("cannot make " + directory.string() + ": " + std::strerror(errno));
  }
  struct stat st {};
  if (lstat(directory.c_str(), &st) < 0 || !S_ISDIR(st.st_mode)) {
    throw InstanceError(directory.string() + " is not a directory");
  }
  if (st.st_uid != geteuid() || (st.st_mode & 077)) {
    throw InstanceError(directory.string() + " must be owned by this user with mode 0700 (it is " +
                        describeMode(st.st_mode) + ", owner " + std::to_string(st.st_uid) + ")");
  }
}

void secureSocketDirectory(const std::filesystem::path& socket) {
  const std::filesystem::path directory =
      socket.has_parent_path() ? socket.parent_path() : std::filesystem::path(".");
  struct stat st {};
  if (stat(directory.c_str(), &st) < 0 || !S_ISDIR(st.st_mode)) {
    throw InstanceError("the directory of the control socket " + socket.string() +
                        " does not exist");
  }
  if ((st.st_uid != geteuid() && st.st_uid != 0) || (st.st_mode & 022)) {
    throw InstanceError("others can write " + directory.string() + " (mode " +
                        describeMode(st.st_mode) +
                        "): choose a directory only you can write "
                        "for the control socket");
  }
}

void clearSocketPlace(const std::filesystem::path& socket) {
  struct stat st {};
  if (lstat(socket.c_str(), &st) < 0) {
    if (errno == ENOENT) return;
    throw InstanceError("cannot check " + socket.string() + ": " + std::strerror(errno));
  }
  if (!S_ISSOCK(st.st_mode) || st.st_uid != geteuid()) {
    throw InstanceError("the control socket's path " + socket.string() + " holds a " +
                        describeKind(st.st_mode) + " of user " + std::to_string(st.st_uid) +
                        ": expected nothing, or a socket of this user left by an earlier run; "
                        "remove it or choose another --socket");
  }
  if (someoneListens(socket)) {
    throw InstanceTaken("another velaclockd listens on " + socket.string());
  }
  if (unlink(socket.c_str()) < 0 && errno != ENOENT) {
    throw InstanceError("cannot remove the stale socket " + socket.string() + ": " +
                        std::strerror(errno));
  }
}

std::string instanceLockName(uid_t uid, const std::string& instance) {
  char name[KEL_FLUME_NAME_SIZE];
  const std::size_t length =
      kel_flume_segment_name(name, sizeof name, uid, instance.c_str(), "lock");
  if (length >= sizeof name) throw InstanceError("instance name `" + instance + "` is too long");
  return name;
}

InstanceLock::InstanceLock(const std::string& instance)
    : name_(instanceLockName(geteuid(), instance)) {
  for (;;) {
    fd_ = shm_open(name_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ < 0) {
      throw InstanceError("cannot open the instance lock " + name_ + ": " + std::strerror(errno));
    }
    struct stat st {};
    if (fstat(fd_, &st) < 0) {
      const int error = errno;
      close(fd_);
      throw InstanceError("cannot check the instance lock " + name_ + ": " + std::strerror(error));
    }
    // Made by someone else under our name: whoever can unlock it could let a second daemon in.
    if (st.st_uid != geteuid()) {
      close(fd_);
      throw InstanceError("the instance lock " + name_ + " belongs to user " +
                          std::to_string(st.st_uid) + ", not to this one");
    }
    if (flock(fd_, LOCK_EX | LOCK_NB) < 0) {
      close(fd_);
      throw InstanceTaken("another velaclockd already serves this instance (lock " + name_ + ")");
    }
    if (stillNamed()) return;
    close(fd_);  // removed by the daemon that held it, as it stopped: the name is tried again
  }
}

// Whether the object locked is the one under the lock's name now.
bool InstanceLock::stillNamed() const {
  const int named = shm_open(name_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC, 0);
  if (named < 0) return false;
  struct stat locked {
  }, now{};
  const bool same = fstat(fd_, &locked) == 0 && fstat(named, &now) == 0 &&
                    locked.st_dev == now.st_dev && locked.st_ino == now.st_ino;
  close(named);
  return same;
}

InstanceLock::~InstanceLock() {
  shm_unlink(name_.c_str());
  close(fd_);
}

}  // namespace velaclockd
