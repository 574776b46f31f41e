#include "ctl/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace velaclockctl {

namespace {
[[noreturn]] void failed(const std::filesystem::path& path, const char* what, int error) {
  throw LocalFileError("cannot " + std::string(what) + " " + path.string() + ": " +
                       std::strerror(error));
}

const char* kindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISFIFO(mode)) return "a named pipe";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

[[noreturn]] void notRegular(const std::filesystem::path& path, const std::string& what) {
  throw LocalFileError(path.string() + " is " + what +
                       ": expected a regular file to replace, or a new file's name");
}

// Writes all of `text` to `fd`; the errno of a failure, or 0.
int writeAll(int fd, const std::string& text) {
  for (std::size_t written = 0; written < text.size();) {
    const ssize_t n = write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    written += static_cast<std::size_t>(n);
  }
  return 0;
}
}  // namespace

std::filesystem::path fileDestination(const std::filesystem::path& path) {
  struct stat status {};
  if (lstat(path.c_str(), &status) < 0) {
    if (errno != ENOENT) failed(path, "look at", errno);
    const std::filesystem::path directory = path.has_parent_path() ? path.parent_path() : ".";
    struct stat parent {};
    if (stat(directory.c_str(), &parent) < 0) failed(directory, "write into", errno);
    if (!S_ISDIR(parent.st_mode)) notRegular(directory, kindOf(parent.st_mode) + std::string());
    return path;
  }
  if (S_ISREG(status.st_mode)) return path;
  if (!S_ISLNK(status.st_mode)) notRegular(path, kindOf(status.st_mode));
  std::error_code error;
  std::filesystem::path target = std::filesystem::canonical(path, error);
  if (error)
    notRegular(path, "a symbolic link to nothing that can be written (" + error.message() + ")");
  if (stat(target.c_str(), &status) < 0) failed(target, "look at", errno);
  if (!S_ISREG(status.st_mode)) {
    notRegular(path, "a symbolic link to " + target.string() + ", " + kindOf(status.st_mode));
  }
  return target;
}

void writeFileAtomically(const std::filesystem::path& path, const std::string& text) {
  const std::filesystem::path target = fileDestination(path);
  struct stat existing {};
  const bool replacing = stat(target.c_str(), &existing) == 0;
  const std::filesystem::path directory = target.has_parent_path() ? target.parent_path() : ".";
  std::string temporary = (directory / ("." + target.filename().string() + ".XXXXXX")).string();
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) failed(directory, "create a file in", errno);
  // A new file gets what the umask allows of 0644, as a plain creation would; one replaced keeps
  // its mode.
  const mode_t mask = umask(0);
  umask(mask);
  const mode_t mode = replacing ? existing.st_mode & 07777 : 0644 & ~mask;
  int error = writeAll(fd, text);
  if (error == 0 && fchmod(fd, mode) < 0) error = errno;
  if (error == 0 && fsync(fd) < 0) error = errno;
  if (close(fd) < 0 && error == 0) error = errno;
  if (error == 0 && rename(temporary.c_str(), target.c_str()) < 0) error = errno;
  if (error != 0) {
    unlink(temporary.c_str());
    failed(target, "write", error);
  }
}

}  // namespace velaclockctl
