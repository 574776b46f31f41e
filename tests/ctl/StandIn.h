#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/UnixSocket.h"

// A stand-in for velaclockd on a socket of the test's, served by a thread of the test: each
// connection in turn goes to the next of its scripted answers.
class StandIn {
 public:
  using Answer = std::function<void(int fd)>;

  StandIn(const std::filesystem::path& path, std::vector<Answer> answers)
      : path_(path), listener_(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    std::filesystem::remove(path_);
    EXPECT_TRUE(bindUnix(listener_, path_));
    EXPECT_EQ(listen(listener_, 4), 0);
    thread_ = std::thread([this, answers = std::move(answers)] {
      for (const Answer& answer : answers) {
        const int fd = accept(listener_, nullptr, nullptr);
        if (fd < 0) return;
        answer(fd);
        close(fd);
      }
    });
  }
  // Waits for the answers given; one still waiting for its connection gives up.
  ~StandIn() {
    shutdown(listener_, SHUT_RDWR);
    thread_.join();
    close(listener_);
    std::filesystem::remove(path_);
  }
  StandIn(const StandIn&) = delete;
  StandIn& operator=(const StandIn&) = delete;

  static void send(int fd, const std::string& text) {
    ASSERT_EQ(::send(fd, text.data(), text.size(), MSG_NOSIGNAL), ssize_t(text.size()));
  }
  // The next request line, or "" when the client hung up.
  static std::string requestLine(int fd) {
    std::string line;
    for (char c; read(fd, &c, 1) == 1 && c != '\n';) line += c;
    return line;
  }
  // An answer that replies `line` to each request line until the client hangs up; with an empty
  // `line`, one that never replies.
  static Answer replying(std::string line) {
    return [line = std::move(line)](int fd) {
      while (!requestLine(fd).empty()) {
        if (!line.empty()) send(fd, line + "\n");
      }
    };
  }

 private:
  std::filesystem::path path_;
  int listener_;
  std::thread thread_;
};
