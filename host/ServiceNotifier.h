#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <string_view>

namespace velaclockd {

// Sends notifications to the service manager's socket (NOTIFY_SOCKET: a path, or '@' and an
// abstract name) without ever waiting: a manager that stops reading must not stop the event loop,
// which is what libsystemd's sd_notify would do, as it blocks on a full receive queue. Without
// NOTIFY_SOCKET it sends nothing.
class ServiceNotifier {
 public:
  ServiceNotifier();
  ~ServiceNotifier();
  ServiceNotifier(const ServiceNotifier&) = delete;
  ServiceNotifier& operator=(const ServiceNotifier&) = delete;

  // True when a service manager listens.
  bool enabled() const { return fd_ >= 0; }
  // Sends `message` ("READY=1", "WATCHDOG=1", ...) whole; false when it cannot go now (the
  // receiver's queue is full) or cannot go at all.
  bool send(std::string_view message) const;

 private:
  int fd_ = -1;
  sockaddr_un address_{};
  socklen_t addressLength_ = 0;
};

}  // namespace velaclockd
