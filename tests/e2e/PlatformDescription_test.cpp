#include <gtest/gtest.h>

#include <fstream>

#include "e2e/Process.h"

// A platform description that cannot be used stops velaclockd before anything starts, with a
// message naming file, line and column and what was expected. The loader's unit tables check
// every refusal; here, one refused text and one file that cannot be read prove the wiring.
TEST(PlatformDescription, BadDescriptionsAreRefusedWithTheirPlace) {
  Instance instance;
  const auto file = instance.runtime() / "bad.yaml";
  std::ofstream(file) << "entities:\n  a/b: {type: Hardware::NoSuchDir}\n";
  Daemon daemon = instance.daemon({"--platform", file.string()});
  EXPECT_EQ(daemon.wait(), 2);
  EXPECT_NE(
      daemon.errors().find(file.string() + ":2:15: unknown entity type `Hardware::NoSuchDir`"),
      std::string::npos)
      << daemon.errors();
  EXPECT_FALSE(std::filesystem::exists(instance.runtime() / "velaclock")) << "started anyway";

  Daemon missing = instance.daemon({"--platform", "/nonexistent/platform.yaml"});
  EXPECT_EQ(missing.wait(), 2);
  EXPECT_NE(missing.errors().find("/nonexistent/platform.yaml: cannot read"), std::string::npos);
}
