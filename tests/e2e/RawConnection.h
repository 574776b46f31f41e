#pragma once

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/UnixSocket.h"

// A raw connection to the control socket, for what velaclockctl would never do: malformed or
// pipelined requests, subscriptions read line by line, clients that stop reading.
class RawConnection {
 public:
  explicit RawConnection(const std::filesystem::path& socket)
      : fd_(::socket(AF_UNIX, SOCK_STREAM, 0)) {
    connected_ = connectUnix(fd_, socket);
  }
  ~RawConnection() { close(fd_); }
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  bool connected() const { return connected_; }
  void send(const std::string& bytes) {
    ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
  }
  // The next line, or "" when the daemon closed the connection or sent nothing for a generous
  // while (a stuck test then fails instead of hanging).
  std::string reply() {
    std::string line;
    for (char c;;) {
      pollfd ready{fd_, POLLIN, 0};
      if (poll(&ready, 1, 10000) != 1 || read(fd_, &c, 1) != 1 || c == '\n') return line;
      line += c;
    }
  }

 private:
  int fd_;
  bool connected_ = false;
};
