#include <gtest/gtest.h>

#include <fstream>

#include "e2e/Process.h"

// A platform description that cannot be used stops velaclockd before anything starts, with a
// message naming file, line and column and what was expected.
TEST(PlatformDescription, BadDescriptionsAreRefusedWithTheirPlace) {
  Instance instance;
  const std::string good =
      "entities:\n"
      "  hardware/clockmux/config/FixedSystem:\n"
      "    type: Hardware::ClockMux::MuxConfigDir\n";
  const std::vector<std::pair<std::string, std::string>> cases{
      {"entities: [", "bad.yaml:1:"},
      {"entities:\n  a/b: {type: Hardware::NoSuchDir}\n",
       "bad.yaml:2:15: unknown entity type `Hardware::NoSuchDir`"},
      {good + "    muxConfig:\n      m: {bitMask: 0x3, speed: 9}\n",
       "bad.yaml:5:25: Hardware::ClockMux::MuxConfig has no attribute or collection `speed`"},
      {good + "    muxConfig:\n      m: {bitMask: lots}\n",
       "bad.yaml:5:20: attribute `bitMask` of Hardware::ClockMux::MuxConfig: expected an "
       "unsigned 32-bit number"},
      {good + "    muxConfig:\n      m: {muxAccessMethod: 256}\n",
       "bad.yaml:5:28: attribute `muxAccessMethod`"},
      {good + "  hardware/clockmux/config/FixedSystem: {type: Hardware::ClockMux::MuxConfigDir}\n",
       "bad.yaml:4:3: `hardware/clockmux/config/FixedSystem` given twice"},
      {good + "    muxConfig:\n      m: {}\n      m: {}\n", "bad.yaml:6:7: entry `m` given twice"},
      {good + "    muxConfig:\n      m: {name: n}\n",
       "expected the entry's key `m` as its name, not `n`"},
      {"entities:\n  a/b: {type: Hardware::ClockMux::MuxConfig}\n  c/d: {bitMask: 1}\n",
       "bad.yaml:3:8: entity at `c/d`: expected its `type`"},
      {"entities:\n  a/b:\n    type: Hardware::Clocking::PortCliConfigDir\n    allPortConfig:\n"
       "      p: {type: Hardware::ClockMux::Sink}\n",
       "bad.yaml:5:17: expected an entity of type Hardware::Clocking::PortConfig"},
      {"hardware:\n  hams:\n    H: {registers: 16, values: {0x20: 1}}\n",
       "register 0x20 of H lies outside its 16 registers"},
      {"hardware:\n  gpo:\n    L: {}\n", "bad.yaml:3:8: expected `asserted`"},
      {"clocks: {}\n", "bad.yaml:1:1: unknown key `clocks`: expected entities or hardware"},
      // Once loaded, a name that is not UTF-8 could not be shown by `get`.
      {"entities:\n  a/b\xff: {type: Kel::Dir}\n", "bad.yaml:2:3: expected UTF-8 text"},
      // A few nested aliases would expand to millions of entities.
      {good + "    muxConfig:\n      m: &m {}\n      n: *m\n", "bad.yaml:5:10: anchors"},
      // The register file would be made outside the instance directory.
      {"hardware:\n  hams:\n    ../../escaped: {persistent: true}\n",
       "bad.yaml:3:5: Ham name `../../escaped`"},
      {"", "bad.yaml: the platform description is empty"},
  };
  for (const auto& [text, message] : cases) {
    const auto file = instance.runtime() / "bad.yaml";
    std::ofstream(file) << text;
    Daemon daemon = instance.daemon({"--platform", file.string()});
    EXPECT_EQ(daemon.wait(), 2) << text;
    const std::string errors = daemon.errors();
    EXPECT_NE(errors.find(file.string() + ":"), std::string::npos) << errors;
    EXPECT_NE(errors.find(message), std::string::npos)
        << "wanted: " << message << "\ngot: " << errors;
    EXPECT_FALSE(std::filesystem::exists(instance.runtime() / "velaclock")) << "started anyway";
  }

  Daemon missing = instance.daemon({"--platform", "/nonexistent/platform.yaml"});
  EXPECT_EQ(missing.wait(), 2);
  EXPECT_NE(missing.errors().find("/nonexistent/platform.yaml: cannot read"), std::string::npos);
  Daemon directory = instance.daemon({"--platform", instance.runtime().string()});
  EXPECT_EQ(directory.wait(), 2);
  EXPECT_NE(directory.errors().find("cannot read the platform description"), std::string::npos);
  Daemon usage = instance.daemon({"--duration", "-1"});
  EXPECT_EQ(usage.wait(), 2);
}
