// The control server in process, over real Unix sockets, on virtual time: loop turns poll without
// blocking, so each step runs exactly what the sockets hold.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <system_error>

#include "Kel/Activity.h"
#include "Kel/VirtualTime.h"
#include "host/ControlServer.h"
#include "support/Descriptors.h"
#include "support/UnixSocket.h"

namespace {

using Json = nlohmann::json;

// One end of a client connection, never blocking.
class TestClient {
 public:
  explicit TestClient(const std::filesystem::path& socket)
      : fd_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    EXPECT_TRUE(connectUnix(fd_, socket));
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
        [this](const Json& request, velaclockd::Connection& connection) {
          return handle(request, connection);
        },
        Kel::ActivityFacility::manager(), limits);
  }
  std::unique_ptr<TestClient> connect() {
    return std::make_unique<TestClient>(directory / "control.sock");
  }
  // Lets the server take in and answer what the sockets hold.
  static void serveTurns() {
    for (int turn = 0; turn < 8; ++turn) Kel::ActivityFacility::manager().turn(false);
  }
  // Serves turns until `client` has `count` more complete lines, or 20 rounds have passed.
  static std::vector<std::string> receive(TestClient& client, std::size_t count) {
    std::vector<std::string> received;
    for (int round = 0; round < 20 && received.size() < count; ++round) {
      serveTurns();
      for (auto& line : client.lines()) received.push_back(line);
    }
    return received;
  }

  // A stream that counts the streams alive and, when drained, pushes what is left of linesToSend.
  struct TestStream : velaclockd::Stream {
    TestStream(ControlServerTest& test, velaclockd::Connection& connection)
        : test(test), connection(connection) {
      ++test.streams;
    }
    ~TestStream() override { --test.streams; }
    void drained() override {
      while (test.linesToSend > 0 && connection.push({{"line", std::string(1000, 'z')}})) {
        --test.linesToSend;
      }
    }
    ControlServerTest& test;
    velaclockd::Connection& connection;
  };
  // A reply made later, when the test says so.
  struct LaterReply : velaclockd::PendingReply {};

  // Echoes the request's id; "big" adds `bytes` of text, "latin1" text that is not UTF-8 and
  // "throw" fails with such text; "watch" makes a TestStream, "later" a reply the test makes.
  std::optional<nlohmann::ordered_json> handle(const Json& request,
                                               velaclockd::Connection& connection) {
    ++handled;
    const std::string op = request.value("op", "");
    if (op == "watch") {
      if (!connection.streamIs(std::make_unique<TestStream>(*this, connection))) {
        return nlohmann::ordered_json{{"ok", false}, {"error", "refused"}};
      }
      streamConnection = &connection;
      return nlohmann::ordered_json{{"ok", true}};
    }
    if (op == "later") {
      connection.replyLater(std::make_unique<LaterReply>());
      later = &connection;
      return std::nullopt;
    }
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
  int streams = 0;
  int linesToSend = 0;
  velaclockd::Connection* streamConnection = nullptr;
  velaclockd::Connection* later = nullptr;
};

TEST_F(ControlServerTest, AClientThatDoesNotReadIsNeitherAnsweredNorReadPastTheCap) {
  start({.maxPendingOutput = std::size_t{64} * 1024});
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

// As `nc -N` sends a request: no last newline, then the end of input. A watch so sent goes on.
TEST_F(ControlServerTest, AHalfClosedClientIsAnsweredThenClosedUnlessItWatches) {
  start();
  auto client = connect();
  auto watcher = connect();
  client->send("{\"op\":\"echo\",\"id\":1}\n{\"op\":\"echo\",\"id\":2}");
  client->shutdownWriting();
  watcher->send("{\"op\":\"watch\"}");
  watcher->shutdownWriting();
  serveTurns();
  const auto lines = client->lines();
  ASSERT_EQ(lines.size(), 2U);
  EXPECT_EQ(Json::parse(lines[1])["id"], 2);
  EXPECT_TRUE(client->ended());
  EXPECT_EQ(watcher->lines().size(), 1U);
  time.runUntil(time.now() + 2 * velaclock::idleSeconds);  // its line has ended; a stream may idle
  watcher->lines();
  EXPECT_FALSE(watcher->ended());
  EXPECT_EQ(streams, 1);
}

TEST_F(ControlServerTest, IdleClientsAndUnendingRequestsAreDroppedOnTheActivityClock) {
  start();
  const Kel::Seconds t0 = time.now();
  auto quiet = connect();
  auto partial = connect();
  auto busy = connect();
  partial->send("{\"op\":");
  serveTurns();
  time.runUntil(t0 + 1.5);
  partial->send("\"echo\"");  // more bytes, but the line still has not ended
  serveTurns();
  time.runUntil(t0 + 1.9);
  EXPECT_TRUE(partial->lines().empty());
  time.runUntil(t0 + velaclock::requestSeconds);
  auto lines = partial->lines();
  ASSERT_EQ(lines.size(), 1U);
  EXPECT_NE(errorOf(lines[0]).find("not complete within 2 s"), std::string::npos) << lines[0];
  EXPECT_TRUE(partial->ended());

  time.runUntil(t0 + 20);
  busy->send("{\"op\":\"echo\",\"id\":3}\n");
  serveTurns();
  EXPECT_EQ(busy->lines().size(), 1U);
  time.runUntil(t0 + 29.9);
  EXPECT_TRUE(quiet->lines().empty());
  EXPECT_FALSE(quiet->ended());
  time.runUntil(t0 + velaclock::idleSeconds);
  lines = quiet->lines();
  ASSERT_EQ(lines.size(), 1U);
  EXPECT_NE(errorOf(lines[0]).find("idle for 30 s"), std::string::npos) << lines[0];
  EXPECT_TRUE(quiet->ended());
  busy->lines();
  EXPECT_FALSE(busy->ended());
  time.runUntil(t0 + 20 + velaclock::idleSeconds);
  busy->lines();
  EXPECT_TRUE(busy->ended());
}

// A newcomer to a full table takes the slot of the client quiet longest (and for a second at
// least), else of the one holding an incomplete request line longest; a client in the middle of
// a command keeps its slot, and the newcomer is told to try again. Whoever is sent away may.
TEST_F(ControlServerTest, ANewcomerTakesTheSlotOfAnIdleOrStrayClientNeverOneMidCommand) {
  start({.maxClients = 2});
  const Kel::Seconds t0 = time.now();
  auto commanding = connect();
  auto stray = connect();
  stray->send("{");
  serveTurns();
  time.runUntil(t0 + 0.5);
  commanding->send("{\"op\":\"echo\"}\n");
  serveTurns();
  ASSERT_EQ(commanding->lines().size(), 1U);

  auto first = connect();  // the stray partial line has waited longest
  serveTurns();
  auto lines = stray->lines();
  ASSERT_EQ(lines.size(), 1U);
  EXPECT_NE(errorOf(lines[0]).find("closed to let a new client in"), std::string::npos);
  EXPECT_TRUE(Json::parse(lines[0])["retry"]);
  EXPECT_TRUE(stray->ended());

  time.runUntil(t0 + 1.0);
  first->send("{\"op\":\"echo\"}\n");
  serveTurns();
  auto second = connect();  // both between requests: neither is quiet for a second yet
  serveTurns();
  lines = second->lines();
  ASSERT_EQ(lines.size(), 1U);
  EXPECT_NE(errorOf(lines[0]).find("too many clients"), std::string::npos) << lines[0];
  EXPECT_TRUE(Json::parse(lines[0])["retry"]);
  EXPECT_TRUE(second->ended());
  for (auto* client : {commanding.get(), first.get()}) {
    client->lines();
    EXPECT_FALSE(client->ended());
  }

  time.runUntil(t0 + 1.6);
  auto third = connect();  // `commanding` is quiet for over a second now
  serveTurns();
  commanding->lines();
  EXPECT_TRUE(commanding->ended());
  third->send("{\"op\":\"echo\",\"id\":4}\n");
  serveTurns();
  EXPECT_EQ(third->lines().size(), 1U);
}

// Streams never take the last slot, so a watch beyond them is refused. Ctrl-C on a watcher closes
// its connection for good: its stream, slot and descriptor go at once.
TEST_F(ControlServerTest, AWatcherThatHangsUpIsGoneAtOnceWithItsSlot) {
  start({.maxClients = 3});  // two streams at the most
  auto first = connect();
  auto second = connect();
  first->send("{\"op\":\"watch\"}\n");
  second->send("{\"op\":\"watch\"}\n");
  serveTurns();
  EXPECT_EQ(streams, 2);
  EXPECT_EQ(first->lines().size(), 1U);  // as velaclockctl does: the reply taken, nothing left
  auto third = connect();
  third->send("{\"op\":\"watch\"}\n");  // the last slot stays for a client that asks
  serveTurns();
  const std::vector<std::string> refused = third->lines();
  ASSERT_EQ(refused.size(), 1U);
  EXPECT_EQ(errorOf(refused[0]), "refused");
  first.reset();
  serveTurns();
  EXPECT_EQ(streams, 1);
  third->send("{\"op\":\"watch\"}\n");
  serveTurns();
  EXPECT_EQ(streams, 2);
}

// A stream whose lines are refused is told when there is room again, even when what it then sends
// leaves the socket at once and no wake-up for writing is to come.
TEST_F(ControlServerTest, AStreamThatCaughtUpIsNeverLeftWaiting) {
  start({.maxStreamQueue = 4096});
  auto watcher = connect();
  watcher->send("{\"op\":\"watch\"}\n");
  serveTurns();
  ASSERT_EQ(watcher->lines().size(), 1U);
  int pushed = 0;
  while (streamConnection->push({{"line", std::string(1000, 'z')}})) ++pushed;
  linesToSend = 40;  // ten times what the queue holds, all sent once room comes
  std::size_t received = 0;
  for (int round = 0; round < 20; ++round) {
    serveTurns();
    received += watcher->lines().size();
  }
  EXPECT_EQ(received, std::size_t(pushed) + 40);
}

// A reply made over several turns (a save) holds back only its own client's next requests.
TEST_F(ControlServerTest, AReplyMadeLaterHoldsBackOnlyItsClientsNextRequests) {
  start();
  auto saving = connect();
  auto other = connect();
  saving->send("{\"op\":\"later\"}\n{\"op\":\"echo\",\"id\":2}\n");
  serveTurns();
  other->send("{\"op\":\"echo\",\"id\":3}\n");
  serveTurns();
  EXPECT_EQ(other->lines().size(), 1U);
  time.runUntil(time.now() + 2 * velaclock::idleSeconds);  // waiting is not idling
  EXPECT_TRUE(saving->lines().empty());
  ASSERT_NE(later, nullptr);
  later->replyIs("{\"ok\":true,\"id\":1}\n");
  serveTurns();
  const auto lines = saving->lines();
  ASSERT_EQ(lines.size(), 2U);
  EXPECT_EQ(Json::parse(lines[0])["id"], 1);
  EXPECT_EQ(Json::parse(lines[1])["id"], 2);
  EXPECT_FALSE(saving->ended());

  // Made while an earlier reply still waits for the socket, it goes after that reply, whole.
  saving->send("{\"op\":\"big\",\"bytes\":400000,\"id\":3}\n{\"op\":\"later\"}\n");
  serveTurns();
  later->replyIs("{\"ok\":true,\"id\":4}\n");
  const auto rest = receive(*saving, 2);
  ASSERT_EQ(rest.size(), 2U);
  EXPECT_EQ(Json::parse(rest[0])["id"], 3);
  EXPECT_EQ(Json::parse(rest[1])["id"], 4);
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

// A line that is not a JSON object gets an error and the connection goes on; one longer than a
// request may be gets an error and the connection is closed.
TEST_F(ControlServerTest, MalformedLinesAreAnsweredAndOverlongOnesEndTheConnection) {
  start();
  auto client = connect();
  client->send("hello\n[1,2]\n{\"op\":\"echo\",\"id\":3}\n");
  serveTurns();
  auto lines = client->lines();
  ASSERT_EQ(lines.size(), 3U);
  EXPECT_EQ(errorOf(lines[0]), "request is not a JSON object on one line");
  EXPECT_EQ(errorOf(lines[1]), "request is not a JSON object on one line");
  EXPECT_EQ(Json::parse(lines[2])["id"], 3);
  EXPECT_EQ(handled, 1);

  client->send(std::string(velaclock::maxRequestBytes + 1, 'x'));
  lines = receive(*client, 1);
  ASSERT_EQ(lines.size(), 1U);
  EXPECT_NE(errorOf(lines[0]).find("request longer than 65536 bytes"), std::string::npos);
  serveTurns();
  client->lines();
  EXPECT_TRUE(client->ended());
  EXPECT_EQ(handled, 1);
}

// The control socket's path is taken whole or refused: cut short, it would name another socket.
// Made private from the start, the socket leaves the process's umask as it found it. A server
// refused or gone leaves no descriptor behind.
TEST_F(ControlServerTest, TheSocketIsMadeAtItsWholePathOrRefusedAndLeavesTheUmaskAlone) {
  Kel::ActivityFacility::manager();  // made first: its timer's descriptor outlives any server
  const auto descriptors = openDescriptors();
  const std::string prefix = (directory / "").string();
  const std::string longest =
      prefix + std::string(sizeof(sockaddr_un::sun_path) - 1 - prefix.size(), 's');
  const auto address = velaclock::socketAddress(longest);
  ASSERT_TRUE(address);
  EXPECT_EQ(std::string(address->sun_path), longest);
  EXPECT_FALSE(velaclock::socketAddress(longest + "s"));
  try {
    velaclockd::ControlServer tooLong(
        longest + "s", [](const Json&, velaclockd::Connection&) { return std::nullopt; },
        Kel::ActivityFacility::manager());
    ADD_FAILURE() << "a path longer than a socket address holds was taken";
  } catch (const std::system_error& error) {
    EXPECT_TRUE(error.code() == std::errc::filename_too_long) << error.what();
  }
  EXPECT_TRUE(std::filesystem::is_empty(directory));

  const mode_t before = umask(022);
  start();
  EXPECT_EQ(umask(before), mode_t{022});
  server.reset();
  EXPECT_EQ(openDescriptors(), descriptors);
}
