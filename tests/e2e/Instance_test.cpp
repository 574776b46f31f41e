// A daemon's identity is its user and instance name: locks and shared memory follow it, whatever
// the runtime directory or the socket's place.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "e2e/Process.h"
#include "support/UnixSocket.h"
#include "velaclock/kel_flume.h"

namespace {

// The writer generation of the instance's PPS table, or 0 when there is none.
std::uint64_t ppsWriter(const Instance& instance) {
  const std::string name = "/" + instance.sharedMemory("ppsWaiter.timestamps").filename().string();
  kel_flume_segment segment{};
  if (kel_flume_open(&segment, name.c_str()) != 0) return 0;
  vela_pps_edge_timestamps edge{};
  kel_flume_read_info info{};
  const auto status = kel_flume_read(&segment, &edge, sizeof edge, &info);
  kel_flume_close(&segment);
  return status == KEL_FLUME_OK || status == KEL_FLUME_EMPTY ? info.writer_id : 0;
}

// Leaves a socket file at `path` that nobody listens on, as a daemon that died would.
void leaveStaleSocket(const std::filesystem::path& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_TRUE(bindUnix(fd, path));
  close(fd);
}

}  // namespace

TEST(InstanceIdentity, OneDaemonPerUserAndInstanceWhateverItsRuntimeDirectoryOrSocket) {
  Instance instance;
  Daemon first = instance.daemon();
  ASSERT_TRUE(first.ready()) << first.errors();
  EXPECT_TRUE(std::filesystem::exists(instance.sharedMemory("lock")));
  struct stat st {};
  ASSERT_EQ(stat((instance.runtime() / "velaclock").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(stat(instance.socket().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // Mounts complete on the loop's first turn, before any request is answered.
  ASSERT_EQ(instance.ctl({"paths"}).status, 0);
  const std::uint64_t writer = ppsWriter(instance);
  ASSERT_NE(writer, 0U) << "the PPS table is named after uid and instance";

  ScratchDirectory otherRuntime("runtime");
  Daemon elsewhere({"--instance", instance.name()},
                   instance.environmentWith({{"XDG_RUNTIME_DIR", otherRuntime.path().string()}}));
  EXPECT_EQ(elsewhere.wait(), 1);
  EXPECT_NE(elsewhere.errors().find("another velaclockd already serves this instance"),
            std::string::npos)
      << elsewhere.errors();
  Daemon otherSocket = instance.daemon({"--socket", (instance.runtime() / "other.sock").string()});
  EXPECT_EQ(otherSocket.wait(), 1);
  const auto open = instance.runtime() / "open";
  std::filesystem::create_directories(open);
  std::filesystem::permissions(open, std::filesystem::perms::all);
  Daemon exposed({"--socket", (open / "s").string()}, instance.environment());
  EXPECT_EQ(exposed.wait(), 2);
  EXPECT_NE(exposed.errors().find("others can write"), std::string::npos) << exposed.errors();

  EXPECT_EQ(ppsWriter(instance), writer) << "the running daemon's table was taken over";
  EXPECT_EQ(instance.ctl({"paths"}).status, 0);

  EXPECT_EQ(first.stop(), 0);
  EXPECT_FALSE(std::filesystem::exists(instance.sharedMemory("lock"))) << "left by a clean stop";
  std::ofstream(instance.sharedMemory("lock")) << "";  // as a daemon that died leaves it: stale
  Daemon after = instance.daemon();
  EXPECT_TRUE(after.ready()) << after.errors();
}

TEST(InstanceIdentity, ALockObjectThatIsNotOursIsRefused) {
  Instance instance;
  const auto lock = instance.sharedMemory("lock");
  std::filesystem::create_symlink(instance.runtime() / "target", lock);
  Daemon followed = instance.daemon();
  EXPECT_EQ(followed.wait(), 2);
  EXPECT_NE(followed.errors().find("cannot open the instance lock"), std::string::npos)
      << followed.errors();
  EXPECT_FALSE(std::filesystem::exists(instance.runtime() / "target"));
  std::filesystem::remove(lock);

  if (geteuid() == 0) {  // only root can make a file for another user
    std::ofstream(lock) << "not a lock of ours";
    ASSERT_EQ(chown(lock.c_str(), 65534, 65534), 0);
    Daemon foreign = instance.daemon();
    EXPECT_EQ(foreign.wait(), 2);
    EXPECT_NE(foreign.errors().find("belongs to user 65534"), std::string::npos)
        << foreign.errors();
  }
}

TEST(InstanceIdentity, OnlyAStaleSocketOfOursIsReplaced) {
  Instance instance;
  const auto place = instance.runtime() / "place.sock";
  std::ofstream(place) << "precious";
  Daemon onAFile = instance.daemon({"--socket", place.string()});
  EXPECT_EQ(onAFile.wait(), 2);
  EXPECT_NE(onAFile.errors().find("holds a regular file"), std::string::npos) << onAFile.errors();
  EXPECT_EQ(readFile(place), "precious");
  std::filesystem::remove(place);

  leaveStaleSocket(place);
  Daemon replacing = instance.daemon({"--socket", place.string()});
  ASSERT_TRUE(replacing.ready()) << replacing.errors();
  // The socket says where to talk, the instance who is talked to: its PPS table is found.
  EXPECT_FALSE(std::filesystem::exists(instance.socket()));
  EXPECT_EQ(instance.ctl({"paths"}).status, 3);  // nothing at the default socket
  const CommandResult pps = instance.ctl({"--socket", place.string(), "pps"});
  EXPECT_TRUE(pps.status == 0 || pps.status == 1) << pps.err;

  const Instance other;
  Daemon intruder({"--instance", other.name(), "--socket", place.string()}, instance.environment());
  EXPECT_EQ(intruder.wait(), 1);
  EXPECT_NE(intruder.errors().find("another velaclockd listens on"), std::string::npos)
      << intruder.errors();
  EXPECT_EQ(instance.ctl({"--socket", place.string(), "paths"}).status, 0);
}
