#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <set>

#include "e2e/Process.h"

namespace {

using Json = nlohmann::ordered_json;

// The paths of the agent's mount profile with the type mounted there.
std::vector<std::pair<std::string, std::string>> profileMounts() {
  std::vector<std::pair<std::string, std::string>> mounts;
  const YAML::Node profile = YAML::LoadFile(VELACLOCK_PROFILE);
  for (const auto& mount : profile["mounts"]) {
    mounts.emplace_back(mount["path"].as<std::string>(), mount["type"].as<std::string>());
  }
  return mounts;
}

// The paths whose content the agent rebuilds at start.
std::set<std::string> rebuiltPaths() {
  std::set<std::string> rebuilt;
  for (const auto& mount : YAML::LoadFile(VELACLOCK_PROFILE)["mounts"]) {
    if (mount["rebuilt"] && mount["rebuilt"].as<bool>())
      rebuilt.insert(mount["path"].as<std::string>());
  }
  return rebuilt;
}

}  // namespace

// The default system serves every path of the agent's mount profile with its type. What `save`
// writes loads back: a second daemon on it shows every entity as the first did (a status its
// agent rebuilds is saved empty and rebuilt), and routes the sources the first had chosen, though
// its registers are back at their power-on values.
TEST(Daemon, ServesEveryMountedPathAndWhatSaveWritesLoadsBack) {
  Instance instance;
  Daemon first = instance.daemon();
  ASSERT_TRUE(first.ready()) << first.errors();
  ASSERT_EQ(instance
                .ctl({"set", "hardware/freq/source/cliConfig/FixedSystem", "cliConfig",
                      "system/ocxo1", "adjustmentPpb=1e-40", "configImageFile=a \"b\".bin"})
                .status,
            0);
  ASSERT_EQ(instance
                .ctl({"set", "hardware/freq/sink/cliConfig/FixedSystem", "cliConfig",
                      "fpga1/ref-clk", "sourceName=system/gps1-10m"})
                .status,
            0);
  const auto saved = instance.runtime() / "saved.yaml";
  ASSERT_EQ(instance.ctl({"save", saved.string()}).status, 0);
  std::map<std::string, std::string> shown;
  ASSERT_EQ(profileMounts().size(), 19u);
  for (const auto& [path, type] : profileMounts()) {
    const CommandResult got = instance.ctl({"get", path});
    ASSERT_EQ(got.status, 0) << path << ": " << got.err;
    EXPECT_EQ(Json::parse(got.out)["type"], type) << path;
    shown[path] = got.out;
  }
  const CommandResult muxes = instance.ctl({"show", "muxes"});
  EXPECT_NE(muxes.out.find("fpgaRefMux      0x21      0x03  0       system/gps1-10m  0x02    "),
            std::string::npos)
      << muxes.out;
  const std::string registers = instance.ctl({"regs", "IntelGpioHam"}).out;
  EXPECT_EQ(first.stop(), 0);
  EXPECT_FALSE(std::filesystem::exists(instance.socket()));
  EXPECT_EQ(instance.ctl({"paths"}).status, 3);  // no daemon any more

  EXPECT_EQ(runCommand({VELACLOCKD, "--check", saved.string()}, instance.environment()).status, 0);
  std::ofstream(instance.runtime() / "bad.yaml") << "entities: {a/b: {type: Nope}}\n";
  const CommandResult bad = runCommand(
      {VELACLOCKD, "--check", (instance.runtime() / "bad.yaml").string()}, instance.environment());
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("bad.yaml:1:24: unknown entity type `Nope`"), std::string::npos)
      << bad.err;

  // Another instance, as after a power cycle: its register file holds the power-on values.
  Instance other;
  const auto registerFiles = other.runtime() / "velaclock" / other.name();
  std::filesystem::create_directories(registerFiles);
  for (const auto& directory : {registerFiles.parent_path(), registerFiles}) {
    std::filesystem::permissions(directory, std::filesystem::perms::owner_all);
  }
  std::string powerOn(256, '\0');
  powerOn[0x10] = 0x02;
  powerOn[0x11] = powerOn[0x20] = powerOn[0x21] = 0x01;
  std::ofstream(registerFiles / "IntelGpioHam.regs", std::ios::binary) << powerOn;
  Daemon second = other.daemon({"--platform", saved.string()});
  ASSERT_TRUE(second.ready()) << second.errors();
  const Json sinks = Json::parse(other.ctl({"show", "sinks", "--json"}).out);
  for (const Json& sink : sinks) {
    EXPECT_EQ(sink["ok"], "yes") << sink.dump();
    if (sink["sink"] == "fpga1/ref-clk") {
      EXPECT_EQ(sink["carries"], "system/gps1-10m");
    }
  }
  for (const auto& [path, text] : shown) {
    // What the agent rebuilds at start follows the configuration, not what it was before: the
    // settings loaded reach status at the next walk, as after any start.
    if (rebuiltPaths().contains(path)) continue;
    EXPECT_EQ(other.ctl({"get", path}).out, text) << path;
  }
  EXPECT_EQ(other.ctl({"regs", "IntelGpioHam"}).out, registers);
}

// A failed mount is the supervision test's; a directory missing from the description is reported
// as the agent's invariant, and the daemon goes on.
TEST(Daemon, AMissingDirectoryIsReportedAsAnInvariant) {
  Instance instance;
  YAML::Node platform = YAML::LoadFile(VELACLOCK_DEFAULT_PLATFORM);
  platform["entities"].remove("hardware/clockmux/status/FixedSystem");
  platform["entities"].remove("hardware/clocking/cliConfig/FixedSystem");
  std::ofstream(instance.runtime() / "nostatus.yaml") << platform;
  Daemon daemon = instance.daemon({"--platform", (instance.runtime() / "nostatus.yaml").string()});
  ASSERT_TRUE(daemon.ready()) << daemon.errors();
  EXPECT_EQ(daemon.stop(), 0);
  EXPECT_NE(daemon.errors().find("invariant failed: muxStatusDir (VelaClock/VelaClockAgent.cpp:"),
            std::string::npos)
      << daemon.errors();
}

TEST(Daemon, AnAgentThatCannotBeLoaded) {
  Instance instance;
  Daemon missing = instance.daemon({"--agent", "/nonexistent/libVelaClockAgent.so"});
  EXPECT_EQ(missing.wait(), 1);
  EXPECT_NE(missing.errors().find("cannot load the agent library"), std::string::npos);
  Daemon noFactory = instance.daemon({"--agent", VELACLOCK_KEL_LIBRARY});
  EXPECT_EQ(noFactory.wait(), 1);
  EXPECT_NE(noFactory.errors().find("exports no agent factory `kelAgentFactory`"),
            std::string::npos)
      << noFactory.errors();
}

// The option table is the host's unit test; here, that a usage error stops the daemon before it
// makes anything: '..' as an instance used to put files straight into the runtime directory. A
// trace filter it cannot read is refused, not left unapplied.
TEST(Daemon, BadUsageIsRefusedBeforeAnythingStarts) {
  Instance instance;
  Daemon daemon({"--instance", ".."}, instance.environment());
  EXPECT_EQ(daemon.wait(), 2);
  EXPECT_FALSE(std::filesystem::exists(instance.runtime() / "velaclock"));
  EXPECT_EQ(instance.daemon({"--trace", "VelaClockAgent/9-0", "--duration", "1"}).wait(), 2);
}
