#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/Options.h"

namespace {

// velaclockd WORDS...: the options, or the status it stops with.
std::variant<velaclockd::Options, int> parsed(std::vector<std::string> words) {
  words.insert(words.begin(), "velaclockd");
  std::vector<char*> argv;
  argv.reserve(words.size());
  for (auto& word : words) argv.push_back(word.data());
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  auto options = velaclockd::parseOptions(static_cast<int>(argv.size()), argv.data());
  testing::internal::GetCapturedStderr();
  testing::internal::GetCapturedStdout();
  return options;
}

}  // namespace

// Each of these is a usage error (exit 2) before anything starts.
TEST(Options, WhatCannotBeRunIsAUsageError) {
  const std::vector<std::vector<std::string>> usages{
      {"--duration", "nan"},    {"--duration", "inf"},
      {"--duration", "0"},      {"--duration", "-1"},
      {"--platform", ""},       {"--socket", ""},
      {"--check", ""},          {"--instance", ".."},
      {"--instance", "a/b"},    {"--instance", ""},
      {"--rt-priority", "100"}, {"--rt-priority", "-1"},
      {"--no-such-option"},     {"stray"}};
  for (const auto& usage : usages) {
    const auto result = parsed(usage);
    ASSERT_TRUE(std::holds_alternative<int>(result)) << usage[0];
    EXPECT_EQ(std::get<int>(result), 2) << usage[0] << " " << usage.back();
  }
  EXPECT_EQ(std::get<int>(parsed({"--help"})), 0);
}

TEST(Options, WhatIsGivenIsKeptAndWhatIsNotKeepsItsDefault) {
  const auto given = std::get<velaclockd::Options>(parsed(
      {"--instance", "lab-2", "--duration", "0.5", "--socket", "/run/v.sock", "--rt-priority", "99",
       "--lock-memory", "--slice-id", "Linecard2", "--trace", "*/0"}));
  EXPECT_EQ(given.instance, "lab-2");
  EXPECT_EQ(given.duration, 0.5);
  EXPECT_EQ(given.socket, "/run/v.sock");
  EXPECT_EQ(given.realTime.priority, 99);
  EXPECT_TRUE(given.realTime.lockMemory);
  EXPECT_EQ(given.sliceId, "Linecard2");
  EXPECT_EQ(given.trace, "*/0");

  const auto defaults = std::get<velaclockd::Options>(parsed({}));
  EXPECT_EQ(defaults.instance, "default");
  EXPECT_FALSE(defaults.platform || defaults.socket || defaults.duration || defaults.check ||
               defaults.trace);
  EXPECT_EQ(defaults.realTime.priority, 0);
  EXPECT_FALSE(defaults.realTime.lockMemory);
  EXPECT_EQ(defaults.agent.filename(), "libVelaClockAgent.so");
}
