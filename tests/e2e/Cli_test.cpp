// velaclockctl reading an instance's shared memory as a user runs it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include "e2e/Process.h"
#include "velaclock/kel_flume.h"

namespace {

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
