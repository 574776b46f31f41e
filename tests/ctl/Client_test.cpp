// velaclockctl's client against a stand-in daemon on a real socket, run in a thread of the test.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "ctl/Client.h"

namespace {

namespace fs = std::filesystem;

// Listens on a socket and hands each connection, in turn, to the next of its scripted answers.
class StandIn {
 public:
  using Answer = std::function<void(int fd)>;

  StandIn(const fs::path& path, std::vector<Answer> answers)
      : listener_(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
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
  }

 private:
  int listener_;
  std::thread thread_;
};

void send(int fd, const std::string& text) {
  ASSERT_EQ(::send(fd, text.data(), text.size(), MSG_NOSIGNAL), ssize_t(text.size()));
}

std::string requestLine(int fd) {
  std::string line;
  for (char c; read(fd, &c, 1) == 1 && c != '\n';) line += c;
  return line;
}

}  // namespace

// Sent away before its request was read, the client asks again; refused for a reason, it stops.
TEST(Client, ARequestTheDaemonWasTooBusyToTakeIsSentAgain) {
  const fs::path socket =
      fs::temp_directory_path() / ("velaclock-client-" + std::to_string(getpid()));
  fs::remove(socket);
  std::string second;
  {
    StandIn daemon(socket, {[](int fd) {
                              send(fd, R"({"ok":false,"error":"busy","retry":true})"
                                       "\n");
                            },
                            [&](int fd) {
                              second = requestLine(fd);
                              send(fd, R"({"ok":true,"answer":42})"
                                       "\n");
                            },
                            [](int fd) {
                              requestLine(fd);
                              send(fd, R"({"ok":false,"error":"no such path"})"
                                       "\n");
                            }});
    velaclockctl::Client client(socket, 5.0);
    const auto reply = client.request({{"op", "get"}, {"path", "a/b"}});
    EXPECT_EQ(reply.member("answer", velaclockctl::Shape::unsignedNumber), 42);
    EXPECT_EQ(second, R"({"op":"get","path":"a/b"})");
    velaclockctl::Client another(socket, 5.0);
    EXPECT_THROW(another.request({{"op", "get"}, {"path", "x"}}), velaclockctl::Refused);
  }
  fs::remove(socket);
}
