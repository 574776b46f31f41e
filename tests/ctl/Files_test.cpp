// What `save FILE` and `metrics --output FILE` may replace, and how.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "ctl/Files.h"

namespace {

namespace fs = std::filesystem;
using velaclockctl::LocalFileError;
using velaclockctl::writeFileAtomically;

std::string contents(const fs::path& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

// Not in the anonymous namespace: the suite compiles in batches of sources, and GCC warns of a
// test class deriving from a type local to one of them.
class FilesTest : public ::testing::Test {
 protected:
  FilesTest()
      : directory(fs::temp_directory_path() / ("velaclock-files-" + std::to_string(getpid()))) {
    fs::create_directories(directory);
  }
  ~FilesTest() override { fs::remove_all(directory); }
  fs::path directory;
};

TEST_F(FilesTest, OnlyRegularFilesAreReplacedAndALinkIsFollowed) {
  const fs::path target = directory / "saved.yaml", link = directory / "link.yaml";
  const mode_t umaskBefore = umask(027);
  writeFileAtomically(target, "old\n");
  EXPECT_EQ(umask(umaskBefore), mode_t{027}) << "the umask is left as it was";
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::all, fs::perms{0640});
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
  fs::create_symlink(target, link);
  writeFileAtomically(link, "new\n");
  EXPECT_TRUE(fs::is_symlink(link)) << "the link is followed, not replaced";
  EXPECT_EQ(contents(target), "new\n");
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);

  // Refused, and left as they were: a special file (a named pipe here, a device node as root),
  // a directory, a link to nothing, a file in a missing directory.
  const fs::path pipe = directory / "pipe";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  EXPECT_THROW(writeFileAtomically(pipe, "x"), LocalFileError);
  EXPECT_TRUE(fs::is_fifo(pipe));
  EXPECT_THROW(writeFileAtomically(directory, "x"), LocalFileError);
  fs::create_symlink(directory / "nowhere" / "file", directory / "dangling");
  EXPECT_THROW(writeFileAtomically(directory / "dangling", "x"), LocalFileError);
  EXPECT_THROW(writeFileAtomically(directory / "missing" / "file", "x"), LocalFileError);
  std::vector<fs::path> left;
  for (const auto& entry : fs::directory_iterator(directory))
    left.push_back(entry.path().filename());
  EXPECT_EQ(left.size(), 4U) << "no temporary file stays behind";
}

TEST_F(FilesTest, WritersOfOneFileNeverShareATemporaryFile) {
  const fs::path target = directory / "metrics.prom";
  fs::create_directory(target.string() + ".tmp");  // where a fixed temporary name would go
  std::vector<std::thread> writers;
  writers.reserve(8);
  std::vector<int> failures(8, 0);
  for (int writer = 0; writer < 8; ++writer) {
    writers.emplace_back([&, writer] {
      const std::string text(std::size_t{4096} * (writer + 1), static_cast<char>('a' + writer));
      for (int round = 0; round < 50; ++round) {
        try {
          writeFileAtomically(target, text);
        } catch (const LocalFileError&) {
          ++failures[static_cast<std::size_t>(writer)];
        }
      }
    });
  }
  for (auto& writer : writers) writer.join();
  for (const int failed : failures) EXPECT_EQ(failed, 0);
  const std::string text = contents(target);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text, std::string(text.size(), text.front())) << "one writer's text, whole";
}
