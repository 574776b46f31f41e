// The control server in process, over real Unix sockets, on virtual time: loop turns poll without
// blocking, so each step runs exactly what the sockets hold.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>

#include "Kel/Activity.h"
#include "Kel/VirtualTime.h"
#include "host/ControlServer.h"

namespace {

using Json = nlohmann::json;

// One end of a client connection, never blocking.
class TestClient {
 public:
  explicit TestClient(const std::filesystem::path& socket)
      : fd_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    fcntl(fd_, F_SETFL, O_NONBLOCK);
  }
  ~TestClient() { close(fd_); }
  TestClient(const TestClient&) = delete;
  TestClient& operator=(const TestClient&) = delete;

  void send(const std::string& bytes) {
    ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
  }
  void shutdownWriting() { ::shutdown(fd_, SHUT_WR); }
  // Reads what has arrived; returns the complete lines among it.
  std::vector<std::string> lines() {
    char chunk[65536];
    ssize_t n;
    while ((n = read(fd_, chunk, sizeof chunk)) > 0) received_.append(chunk, std::size_t(n));
    ended_ = n == 0 || (n < 0 && errno != EAGAIN);
    std::vector<std::string> complete;
    for (std::size_t end; (end = received_.find('\n')) != std::string::npos;) {
      complete.push_back(received_.substr(0, end));
      received_.erase(0, end + 1);
    }
    return complete;
  }
  // Whether the server has closed the connection (as of the last lines()).
  bool ended() const { return ended_; }
  // Bytes sent that the server has not read yet.
  int unreadByServer() const {
    int bytes = 0;
    ioctl(fd_, SIOCOUTQ, &bytes);
    return bytes;
  }

 private:
  int fd_;
  std::string received_;
  bool ended_ = false;
};

// The error of a reply line, or "" when it is not an error reply.
std::string errorOf(const std::string& line) {
  const Json reply = Json::parse(line);
  return reply.value("ok", true) ? "" : reply.value("error", "");
}

}  // namespace

class ControlServerTest : public ::testing::Test {
 protected:
  ControlServerTest()
      : directory(std::filesystem::temp_directory_path() /
                  ("velaclock-control-" + std::to_string(getpid()))) {
    std::filesystem::create_directories(directory);
  }
  ~ControlServerTest() override {
    server.reset();
    std::filesystem::remove_all(directory);
  }

  void start(velaclockd::ControlLimits limits = {}) {
    server = std::make_unique<velaclockd::ControlServer>(
        directory / "control.sock",
        [this](const Json& request, velaclockd::Connection&) { return handle(request); },
        Kel::ActivityFacility::manager(), limits);
  }
  std::unique_ptr<TestClient> connect() {
    return std::make_unique<TestClient>(directory / "control.sock");
  }
  // Lets the server take in and answer what the sockets hold.
  static void serveTurns() {
    for (int turn = 0; turn < 8; ++turn) Kel::ActivityFacility::manager().turn(false);
  }

  // Echoes the request's id; "big" adds `bytes` of text, "latin1" text that is not UTF-8 and
  // "throw" fails with such text.
  nlohmann::ordered_json handle(const Json& request) {
    ++handled;
    const std::string op = request.value("op", "");
    if (op == "throw") throw std::runtime_error("bad \xff byte");
    nlohmann::ordered_json reply{{"ok", true}, {"id", request.value("id", -1)}};
    if (op == "big") reply["data"] = std::string(request.value("bytes", 0U), 'x');
    if (op == "latin1") reply["text"] = "caf\xe9";
    return reply;
  }

  Kel::VirtualTime time;
  std::filesystem::path directory;
  std::unique_ptr<velaclockd::ControlServer> server;
  int handled = 0;
};

TEST_F(ControlServerTest, AClientThatDoesNotReadIsNeitherAnsweredNorReadPastTheCap) {
  velaclockd::ControlLimits limits;
  limits.maxPendingOutput = std::size_t{64} * 1024;
  start(limits);
  constexpr int requests = 400;
  auto client = connect();
  std::string pipeline;
  for (int id = 0; id < requests; ++id) {
    pipeline += R"({"op":"big","bytes":8192,"pad":")" + std::string(150, ' ') + R"(","id":)" +
                std::to_string(id) + "}\n";
  }
  client->send(pipeline);
  serveTurns();
  // Answered: 8 replies of 8 KiB up to the cap, and what the kernel's socket buffers hold.
  EXPECT_LT(handled, requests / 4);
  EXPECT_GT(client->unreadByServer(), 0) << "further requests must wait in the socket";

  std::vector<int> ids;
  for (int round = 0; round < 10 * requests && ids.size() < requests; ++round) {
    for (const auto& line : client->lines()) ids.push_back(Json::parse(line)["id"]);
    serveTurns();
  }
  ASSERT_EQ(ids.size(), std::size_t(requests)) << "no request is lost";
  for (int id = 0; id < requests; ++id) EXPECT_EQ(ids[std::size_t(id)], id);
}

TEST_F(ControlServerTest, AHalfClosedClientIsAnsweredThenClosed) {
  start();
  auto client = connect();
  client->send("{\"op\":\"echo\",\"id\":1}\n{\"op\":\"echo\",\"id\":2}");  // no last newline
  client->shutdownWriting();
  serveTurns();
  const auto lines = client->lines();
  ASSERT_EQ(lines.size(), 2U);
  EXPECT_EQ(Json::parse(lines[1])["id"], 2);
  EXPECT_TRUE(client->ended());
}

TEST_F(ControlServerTest, IdleClientsAreDroppedOnTheActivityClock) {
  start();
  const Kel::Seconds t0 = time.now();
  auto quiet = connect();
  auto partial = connect();
  auto busy = connect();
  partial->send("{\"op\":\"echo\"");
  serveTurns();
  time.runUntil(t0 + 20);
  busy->send("{\"op\":\"echo\",\"id\":3}\n");
  serveTurns();
  EXPECT_EQ(busy->lines().size(), 1U);

  time.runUntil(t0 + 29.9);
  serveTurns();
  for (auto* client : {quiet.get(), partial.get(), busy.get()}) {
    EXPECT_TRUE(client->lines().empty());
    EXPECT_FALSE(client->ended());
  }
  time.runUntil(t0 + velaclock::idleSeconds);
  for (auto* client : {quiet.get(), partial.get()}) {
    const auto lines = client->lines();
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_NE(errorOf(lines[0]).find("idle for 30 s"), std::string::npos) << lines[0];
    EXPECT_TRUE(client->ended());
  }
  busy->lines();
  EXPECT_FALSE(busy->ended());
  time.runUntil(t0 + 20 + velaclock::idleSeconds);
  busy->lines();
  EXPECT_TRUE(busy->ended());
}

TEST_F(ControlServerTest, AFullTableEvictsTheQuietestClientWithNothingInFlight) {
  velaclockd::ControlLimits limits;
  limits.maxClients = 3;
  start(limits);
  const Kel::Seconds t0 = time.now();
  auto quietest = connect();
  auto answered = connect();
  auto partial = connect();
  serveTurns();
  time.runUntil(t0 + 1);
  partial->send("{");  // in flight: never evicted
  time.runUntil(t0 + 5);
  answered->send("{\"op\":\"echo\"}\n");
  serveTurns();
  ASSERT_EQ(answered->lines().size(), 1U);

  time.runUntil(t0 + 10);
  auto newcomer = connect();
  serveTurns();
  auto lines = quietest->lines();
  ASSERT_EQ(lines.size(), 1U);
  EXPECT_NE(errorOf(lines[0]).find("closed to let a new client in"), std::string::npos);
  EXPECT_TRUE(quietest->ended());
  newcomer->send("{\"op\":\"echo\",\"id\":4}\n");
  serveTurns();
  ASSERT_EQ(newcomer->lines().size(), 1U);

  auto second = connect();  // `answered` (t0 + 5) is now quieter than `newcomer` (t0 + 10)
  serveTurns();
  answered->lines();
  EXPECT_TRUE(answered->ended());
  EXPECT_FALSE(newcomer->ended());

  newcomer->send("{");
  second->send("{");
  serveTurns();
  auto refused = connect();  // nobody can make room
  serveTurns();
  lines = refused->lines();
  ASSERT_EQ(lines.size(), 1U);
  EXPECT_NE(errorOf(lines[0]).find("too many clients"), std::string::npos) << lines[0];
  EXPECT_TRUE(refused->ended());
  for (auto* client : {partial.get(), newcomer.get(), second.get()}) {
    client->lines();
    EXPECT_FALSE(client->ended());
  }
}

TEST_F(ControlServerTest, RepliesStayValidUtf8AndAFailingHandlerGetsAnErrorReply) {
  start();
  auto client = connect();
  client->send("{\"op\":\"latin1\"}\n{\"op\":\"throw\"}\n{\"op\":\"echo\",\"id\":9}\n");
  serveTurns();
  const auto lines = client->lines();
  ASSERT_EQ(lines.size(), 3U);
  EXPECT_EQ(Json::parse(lines[0])["text"], "caf\xef\xbf\xbd");  // U+FFFD in place of the byte
  EXPECT_EQ(errorOf(lines[1]), "bad \xef\xbf\xbd byte");
  EXPECT_EQ(Json::parse(lines[2])["id"], 9);
}
