#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "Corral/MountGroup.h"
#include "Hardware/ClockMux.h"
#include "Kel/Activity.h"
#include "Kel/Dir.h"
#include "Kel/VirtualTime.h"

using Kel::makePtr;
using Kel::Ptr;
namespace fs = std::filesystem;

namespace {

// A profile directory of its own for each test.
class ProfileDir {
 public:
  ProfileDir() : path_(fs::temp_directory_path() / ("corral-" + std::to_string(getpid()))) {
    fs::create_directories(path_);
  }
  ~ProfileDir() { fs::remove_all(path_); }
  void write(const std::string& name, const std::string& text) {
    std::ofstream(path_ / (name + ".yaml")) << text;
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

class RecordingMounter : public Corral::Mounter {
 public:
  void doMountsComplete(Corral::MountStatus status,
                        const Ptr<Corral::EntityManager>& manager) override {
    statuses.push_back(status);
    seen = manager;
  }
  std::vector<Corral::MountStatus> statuses;
  Ptr<Corral::EntityManager> seen;
};

const char* goodProfile = R"(mounts:
  - {path: hardware/clockmux/config/FixedSystem, type: Hardware::ClockMux::MuxConfigDir, access: read}
  - {path: hardware/clockmux/status/FixedSystem, type: Hardware::ClockMux::MuxStatusDir, access: write}
  - {path: hardware/tundra/gpo, type: Kel::Dir, access: read}
)";

}  // namespace

TEST(Corral, MountsCompleteOnALaterTurnWithWhatTheProfileNames) {
  Kel::VirtualTime time;
  ProfileDir profiles;
  profiles.write("Agent", goodProfile);
  auto manager = makePtr<Corral::EntityManager>("test", profiles.path());
  const auto config = makePtr<Hardware::ClockMux::MuxConfigDir>("FixedSystem");
  manager->entityIs("hardware/clockmux/config/FixedSystem", config);
  // Stored under a mounted path, but not of the mounted type.
  manager->entityIs("hardware/clockmux/status/FixedSystem",
                    makePtr<Hardware::ClockMux::MuxConfigDir>("FixedSystem"));
  manager->entityIs("hardware/unmounted", makePtr<Kel::Dir>("unmounted"));

  auto mounter = makePtr<RecordingMounter>();
  auto group = manager->getMountGroup(mounter);
  group->doMountProfile("Agent");
  group->doClose(false, "", 0);
  group.reset();  // the pending completion keeps the group
  EXPECT_TRUE(mounter->statuses.empty());
  EXPECT_EQ(manager->getEntity("hardware/clockmux/config/FixedSystem"), nullptr);

  time.settle();
  ASSERT_EQ(mounter->statuses, std::vector<Corral::MountStatus>{Corral::mountSuccess_});
  EXPECT_EQ(mounter->seen, manager);
  EXPECT_EQ(manager->getEntity("hardware/clockmux/config/FixedSystem"), config);
  EXPECT_EQ(manager->getEntity("hardware/clockmux/status/FixedSystem"), nullptr);
  EXPECT_EQ(manager->getEntity("hardware/tundra/gpo"), nullptr);  // mounted, holds nothing
  EXPECT_TRUE(manager->isMounted("hardware/tundra/gpo"));
  EXPECT_EQ(manager->getEntity("hardware/unmounted"), nullptr);
  EXPECT_NE(manager->storedEntity("hardware/unmounted"), nullptr);
}

TEST(Corral, ClosingWithADelayOrSynchronously) {
  Kel::VirtualTime time;
  ProfileDir profiles;
  profiles.write("Agent", goodProfile);
  auto manager = makePtr<Corral::EntityManager>("test", profiles.path());
  auto mounter = makePtr<RecordingMounter>();

  const Kel::Seconds start = time.now();
  auto delayed = manager->getMountGroup(mounter);
  delayed->doMountProfile("Agent");
  delayed->doClose(false, "delayed", 2.0);
  delayed.reset();
  time.runUntil(start + 1.9);
  EXPECT_TRUE(mounter->statuses.empty());
  time.runUntil(start + 2.0);
  EXPECT_EQ(mounter->statuses.size(), 1u);

  auto now = manager->getMountGroup(mounter);
  now->doMountProfile("Agent");
  now->doClose(true, "now", 0);
  EXPECT_EQ(mounter->statuses.size(), 2u);
  now->doClose(true, "again", 0);  // a closed group completes once
  EXPECT_EQ(mounter->statuses.size(), 2u);
}

// A profile written out reads back as it was, whatever its paths hold.
TEST(Corral, AWrittenProfileReadsBackAsItWas) {
  const Corral::MountProfile profile{
      "Written",
      {{"a/b", "Kel::Dir", Corral::Access::read},
       {"odd: {path}, #not a comment", "Hardware::ClockMux::MuxStatusDir", Corral::Access::write,
        true}}};
  const auto text = Corral::mountProfileText(profile, "two\nlines");
  EXPECT_EQ(text.rfind("# two\n# lines\n", 0), 0U) << text;
  const auto read = Corral::parseMountProfile(text, "w.yaml", "Written");
  ASSERT_EQ(read.status, Corral::mountSuccess_) << read.error;
  ASSERT_EQ(read.profile.mounts.size(), 2U);
  for (std::size_t i = 0; i < 2; ++i) {
    const Corral::Mount& back = read.profile.mounts[i];
    const Corral::Mount& given = profile.mounts[i];
    EXPECT_EQ(std::tie(back.path, back.type, back.access, back.rebuilt),
              std::tie(given.path, given.type, given.access, given.rebuilt));
  }
}

TEST(Corral, MissingOrMalformedProfilesFailTheGroupAndMountNothing) {
  Kel::VirtualTime time;
  ProfileDir profiles;
  profiles.write("Good", goodProfile);
  struct Malformed {
    const char* name;
    const char* text;
    const char* error;
  };
  const std::vector<Malformed> malformed{
      {"Broken", "mounts: [", "Broken.yaml:1:"},
      {"NoList", "paths: []", "expected a map with a `mounts` list"},
      {"Unknown", "mounts:\n  - {path: a, type: No::Such, access: read}",
       "Unknown.yaml:2:21: unknown entity type `No::Such`"},
      {"Access", "mounts:\n  - {path: a, type: Kel::Dir, access: maybe}",
       "expected `access`: read or write"},
      {"Missing", "mounts:\n  - {path: a, type: Kel::Dir}", "Missing.yaml:2:5: expected `access`"},
      {"Extra", "mounts:\n  - {path: a, type: Kel::Dir, access: read, mode: 1}",
       "unknown key `mode`"},
      {"Twice",
       "mounts:\n  - {path: a, type: Kel::Dir, access: read}\n  - {path: a, type: Kel::Dir, "
       "access: write}",
       "Twice.yaml:3:5: path `a` is mounted twice"},
  };
  for (const auto& [name, text, error] : malformed) {
    profiles.write(name, text);
    const auto result = Corral::readMountProfile(profiles.path(), name);
    EXPECT_EQ(result.status, Corral::mountProfileMalformed_) << name;
    EXPECT_NE(result.error.find(error), std::string::npos) << result.error;
  }
  const auto missing = Corral::readMountProfile(profiles.path(), "Absent");
  EXPECT_EQ(missing.status, Corral::mountProfileMissing_);
  EXPECT_NE(missing.error.find("Absent.yaml"), std::string::npos);

  auto manager = makePtr<Corral::EntityManager>("test", profiles.path());
  manager->entityIs("hardware/clockmux/config/FixedSystem",
                    makePtr<Hardware::ClockMux::MuxConfigDir>("FixedSystem"));
  auto mounter = makePtr<RecordingMounter>();
  auto group = manager->getMountGroup(mounter);
  group->doMountProfile("Good");
  group->doMountProfile("Twice");
  group->doClose(false, "", 0);
  time.settle();
  EXPECT_EQ(mounter->statuses, std::vector<Corral::MountStatus>{Corral::mountProfileMalformed_});
  EXPECT_NE(group->error().find("mounted twice"), std::string::npos);
  EXPECT_FALSE(manager->isMounted("hardware/clockmux/config/FixedSystem"));
  EXPECT_EQ(manager->getEntity("hardware/clockmux/config/FixedSystem"), nullptr);
}
