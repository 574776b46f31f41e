#include <gtest/gtest.h>

#include <fstream>

#include "e2e/Process.h"

// A platform description that cannot be used stops velaclockd before anything starts, with a
// message naming file, line and column and what was expected.
TEST(PlatformDescription, BadDescriptionsAreRefusedWithTheirPlace) {
  Instance instance;
  // One of each kind; the loader's unit tables check every refusal.
  const std::vector<std::pair<std::string, std::string>> cases{
      {"entities: [", "bad.yaml:1:"},
      {"entities:\n  a/b: {type: Hardware::NoSuchDir}\n",
       "bad.yaml:2:15: unknown entity type `Hardware::NoSuchDir`"},
      {"hardware:\n  gpo:\n    L: {}\n", "bad.yaml:3:8: expected `asserted`"},
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
