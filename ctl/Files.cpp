#include "ctl/Files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace velaclockctl {

namespace {
[[noreturn]] void failed(const std::filesystem::path& path, const char* what) {
  throw std::runtime_error("cannot " + std::string(what) + " " + path.string() + ": " +
                           std::strerror(errno));
}
}  // namespace

void writeFileAtomically(const std::filesystem::path& path, const std::string& text) {
  const std::filesystem::path temporary = path.string() + ".tmp";
  const int fd =
      open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) failed(temporary, "create");
  for (std::size_t written = 0; written < text.size();) {
    const ssize_t n = write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      close(fd);
      unlink(temporary.c_str());
      failed(temporary, "write");
    }
    written += static_cast<std::size_t>(n);
  }
  if (fsync(fd) < 0 || close(fd) < 0) {
    unlink(temporary.c_str());
    failed(temporary, "write");
  }
  if (rename(temporary.c_str(), path.c_str()) < 0) {
    unlink(temporary.c_str());
    failed(path, "replace");
  }
}

}  // namespace velaclockctl
