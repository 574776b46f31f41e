#include "host/ServiceNotifier.h"

#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

namespace velaclockd {

ServiceNotifier::ServiceNotifier() {
  const char* socketName = std::getenv("NOTIFY_SOCKET");
  if (!socketName) return;
  const std::string name = socketName;
  // Only paths and abstract names; anything else (an empty name, a name too long) is not a socket
  // this daemon can reach, and it goes on unsupervised.
  if ((name.front() != '/' && name.front() != '@') || name.size() >= sizeof address_.sun_path) {
    return;
  }
  address_.sun_family = AF_UNIX;
  std::memcpy(address_.sun_path, name.data(), name.size());
  if (name.front() == '@') address_.sun_path[0] = '\0';
  // An abstract name is not NUL-terminated: its length says where it ends.
  addressLength_ = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size() +
                                          (name.front() == '/' ? 1 : 0));
  fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}

ServiceNotifier::~ServiceNotifier() {
  if (fd_ >= 0) close(fd_);
}

bool ServiceNotifier::send(std::string_view message) const {
  if (fd_ < 0) return false;
  const ssize_t sent = sendto(fd_, message.data(), message.size(), MSG_NOSIGNAL | MSG_DONTWAIT,
                              reinterpret_cast<const sockaddr*>(&address_), addressLength_);
  return sent == static_cast<ssize_t>(message.size());
}

}  // namespace velaclockd
