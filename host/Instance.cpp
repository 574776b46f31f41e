#include "host/Instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace velaclockd {

namespace {
std::string describeMode(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
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

InstanceLock::InstanceLock(const std::filesystem::path& lockFile)
    : fd_(open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
  if (fd_ < 0) {
    throw InstanceError("cannot open " + lockFile.string() + ": " + std::strerror(errno));
  }
  if (flock(fd_, LOCK_EX | LOCK_NB) < 0) {
    close(fd_);
    throw InstanceError("another velaclockd already serves this instance (lock " +
                        lockFile.string() + ")");
  }
}

InstanceLock::~InstanceLock() {
  close(fd_);
}

}  // namespace velaclockd
