#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/UnixSocket.h"

// A stand-in for systemd's notification socket: the datagrams a service sends it, one by one.
class NotifySocket {
 public:
  explicit NotifySocket(std::filesystem::path path)
      : path_(std::move(path)), fd_(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    std::filesystem::remove(path_);
    bound_ = bindUnix(fd_, path_);
  }
  ~NotifySocket() {
    close(fd_);
    std::filesystem::remove(path_);
  }
  NotifySocket(const NotifySocket&) = delete;
  NotifySocket& operator=(const NotifySocket&) = delete;
  bool bound() const { return bound_; }
  const std::filesystem::path& path() const { return path_; }

  // The next datagram, or "" when none comes within `milliseconds`.
  std::string next(int milliseconds = 10000) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, milliseconds) != 1) return "";
    char buffer[4096];
    const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : "";
  }
  // The next datagram that is not a watchdog pet.
  std::string nextNotPet() {
    std::string message;
    do {
      message = next();
    } while (message == "WATCHDOG=1");
    return message;
  }
  // Fills the socket's queue, as a manager that stopped reading would let it fill.
  void fill() const {
    const int sender = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const sockaddr_un address = unixAddress(path_);
    while (sendto(sender, "X", 1, 0, reinterpret_cast<const sockaddr*>(&address), sizeof address) ==
           1) {
    }
    close(sender);
  }

 private:
  std::filesystem::path path_;
  int fd_;
  bool bound_ = false;
};
