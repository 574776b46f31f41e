// velaclockctl against daemons that misbehave, and its own command line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "e2e/Process.h"
#include "velaclock/kel_flume.h"

namespace {

// A stand-in for velaclockd on a socket of the test's, served by a thread: it answers each request
// line with `reply`, or never answers when `reply` is empty.
class FakeDaemon {
 public:
  FakeDaemon(std::filesystem::path socket, std::string reply)
      : socket_(std::move(socket)), reply_(std::move(reply)), stop_(eventfd(0, EFD_CLOEXEC)) {
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket_.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(listen(listener_, 4), 0);
    thread_ = std::thread([this] { serve(); });
  }
  ~FakeDaemon() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = write(stop_, &one, sizeof one);
    thread_.join();
    close(listener_);
    close(stop_);
    std::filesystem::remove(socket_);
  }
  FakeDaemon(const FakeDaemon&) = delete;
  FakeDaemon& operator=(const FakeDaemon&) = delete;

 private:
  // Waits for `fd` or the stop signal; false on stop.
  bool readable(int fd) const {
    pollfd fds[2] = {{fd, POLLIN, 0}, {stop_, POLLIN, 0}};
    return poll(fds, 2, -1) > 0 && !(fds[1].revents & POLLIN);
  }
  void serve() {
    while (readable(listener_)) {
      const int client = accept(listener_, nullptr, nullptr);
      char chunk[4096];
      ssize_t n;
      while (readable(client) && (n = read(client, chunk, sizeof chunk)) > 0) {
        const auto lines = std::count(chunk, chunk + n, '\n');
        for (long i = 0; i < lines && !reply_.empty(); ++i) {
          const std::string line = reply_ + "\n";
          [[maybe_unused]] const auto sent = send(client, line.data(), line.size(), MSG_NOSIGNAL);
        }
      }
      close(client);
    }
  }

  std::filesystem::path socket_;
  std::string reply_;
  int stop_;
  int listener_;
  std::thread thread_;
};

// Makes the instance's PPS table by hand, as a writer would that has `published` records of
// `recordSize` bytes.
void makePpsTable(const Instance& instance, std::uint32_t recordSize, std::uint64_t published) {
  const std::string name = "/" + instance.sharedMemory("ppsWaiter.timestamps").filename().string();
  const int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0644);
  ASSERT_GE(fd, 0) << name;
  kel_flume_header header{};
  header.magic = KEL_FLUME_MAGIC;
  header.version = KEL_FLUME_VERSION;
  header.record_size = recordSize;
  header.writer_id = 1;
  header.published = published;
  ASSERT_EQ(ftruncate(fd, KEL_FLUME_HEADER_SIZE + recordSize), 0);
  ASSERT_EQ(write(fd, &header, sizeof header), ssize_t(sizeof header));
  close(fd);
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace

TEST(Cli, RepliesOfTheWrongShapeEndInAClearNoValidAnswer) {
  Instance instance;
  const auto socket = (instance.runtime() / "fake.sock").string();
  const std::vector<std::tuple<std::vector<std::string>, std::string, std::string>> cases{
      {{"get", "p"}, R"({"ok":true})", "to `get`: expected `entity` to be an object"},
      {{"set", "p", "a=1"}, R"({"ok":true,"entity":5})", "expected `entity` to be an object"},
      {{"paths"}, R"([1])", "expected the reply to be an object"},
      {{"paths"}, R"({"ok":"yes"})", "expected `ok` to be true or false"},
      {{"paths"}, R"({"ok":false,"error":7})", "expected `error` to be a string"},
      {{"paths"}, R"({"ok":true,"paths":[{"path":1}]})", "expected `path` of each of `paths`"},
      {{"paths"}, R"({"ok":true,"paths":[3]})", "expected each of `paths` to be an object"},
      {{"trace", "x"}, R"({"ok":true,"filter":null})", "expected `filter` to be a string"},
      {{"regs", "h"}, R"({"ok":true,"ham":"h","registers":"00"})", "expected `size`"},
      {{"regs", "h"}, R"({"ok":true,"ham":"h","size":1})", "expected `registers`"},
      {{"show", "muxes"}, R"({"ok":true,"entity":{}})", "to `regs`: expected `registers`"},
      {{"paths"}, "not json", "answered `paths` with something that is not JSON"},
  };
  for (const auto& [arguments, reply, message] : cases) {
    const FakeDaemon fake(socket, reply);
    std::vector<std::string> command{"--socket", socket};
    command.insert(command.end(), arguments.begin(), arguments.end());
    const CommandResult result = instance.ctl(command);
    EXPECT_EQ(result.status, 3) << reply << ": " << result.err;
    EXPECT_TRUE(contains(result.err, message)) << result.err;
  }
}

TEST(Cli, ADaemonThatDoesNotAnswerEndsInATimeout) {
  Instance instance;
  const auto socket = (instance.runtime() / "silent.sock").string();
  const FakeDaemon silent(socket, "");
  const CommandResult result = instance.ctl({"--socket", socket, "--timeout", "0.2", "paths"});
  EXPECT_EQ(result.status, 3);
  EXPECT_TRUE(contains(result.err, "did not answer within 0.2 s")) << result.err;
  for (const std::string bad : {"0", "-1", "nan", "inf", "soon"}) {
    EXPECT_EQ(instance.ctl({"--socket", socket, "--timeout", bad, "paths"}).status, 2) << bad;
  }
}

TEST(Cli, PpsTellsNoDaemonFromNothingPublished) {
  Instance instance;
  const CommandResult none = instance.ctl({"pps"});
  EXPECT_EQ(none.status, 3);
  EXPECT_TRUE(contains(none.err, "no PPS edge table")) << none.err;
  EXPECT_TRUE(contains(none.err, "is velaclockd running?")) << none.err;

  makePpsTable(instance, sizeof(vela_pps_edge_timestamps), 0);
  const CommandResult empty = instance.ctl({"pps"});
  EXPECT_EQ(empty.status, 1);
  EXPECT_TRUE(contains(empty.err, "no PPS edge published yet")) << empty.err;

  std::filesystem::remove(instance.sharedMemory("ppsWaiter.timestamps"));
  makePpsTable(instance, 8, 1);
  const CommandResult foreign = instance.ctl({"pps"});
  EXPECT_EQ(foreign.status, 3);
  EXPECT_TRUE(contains(foreign.err, "is not a PPS edge table")) << foreign.err;
}

TEST(Cli, CommandLinesItCannotSendAreUsageErrors) {
  Instance instance;
  const CommandResult unknown = instance.ctl({"frobnicate"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_TRUE(contains(unknown.err,
                       "unknown command `frobnicate`: expected show, get, set, del, "
                       "trace, pps, regs, paths"))
      << unknown.err;

  const CommandResult latin1 = instance.ctl({"get", "caf\xe9"});
  EXPECT_EQ(latin1.status, 2);
  EXPECT_TRUE(contains(latin1.err, "is not valid UTF-8")) << latin1.err;
  EXPECT_EQ(instance.ctl({"--socket", "", "paths"}).status, 2);
  for (const std::string name : {"..", ".hidden", "a/b", ""}) {
    EXPECT_EQ(runCommand({VELACLOCKCTL, "--instance", name, "pps"}, {}).status, 2) << name;
  }
}
