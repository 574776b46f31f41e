#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "e2e/Process.h"

// A test with a daemon of its own on the default system, serving before the test begins. Its own
// instance: the shared-memory edge table is named after it, and the daemons of other tests running
// meanwhile touch nothing it reads.
class RunningDaemon : public ::testing::Test {
 protected:
  using Json = nlohmann::ordered_json;

  void SetUp() override { ASSERT_TRUE(daemon.ready()) << daemon.errors(); }

  // What `velaclockctl ARGUMENTS...` printed, as JSON; a failure fails the test.
  Json json(const std::vector<std::string>& arguments) const {
    const CommandResult done = instance.ctl(arguments);
    EXPECT_EQ(done.status, 0) << testing::PrintToString(arguments) << ": " << done.err;
    return done.status == 0 ? Json::parse(done.out) : Json::object();
  }
  Json get(const std::string& path) const { return json({"get", path}); }

  Instance instance;
  Daemon daemon = instance.daemon();
};
