#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "e2e/RawConnection.h"
#include "e2e/RunningDaemon.h"

namespace {
using Json = nlohmann::ordered_json;

// The next stream line of `watcher` as JSON (null when none came).
Json next(RawConnection& watcher) {
  const std::string line = watcher.reply();
  return line.empty() ? Json() : Json::parse(line);
}
}  // namespace

// Changes arrive in the order they happen: the operator's set first, then the agent's route.
class Watch : public RunningDaemon {};

TEST_F(Watch, AWatcherSeesASetAndWhatTheAgentDoesAboutItInOrder) {
  RawConnection watcher(instance.socket());
  watcher.send(R"({"op":"watch","paths":["hardware/strobe/sink/cliConfig/FixedSystem",)"
               R"("hardware/clockmux/status/FixedSystem"]})"
               "\n");
  EXPECT_EQ(next(watcher)["watching"].size(), 2u);

  ASSERT_EQ(instance
                .ctl({"set", "hardware/strobe/sink/cliConfig/FixedSystem", "cliConfig",
                      "asic1/pps-in", "sourceName=fpgaPpsMux"})
                .status,
            0);
  const Json added = next(watcher);
  EXPECT_EQ(added["collection"], "cliConfig");
  EXPECT_EQ(added["key"], "asic1/pps-in");
  const Json wanted = next(watcher);
  EXPECT_EQ(wanted["within"][0]["key"], "asic1/pps-in");
  EXPECT_EQ(wanted["attribute"], "sourceName");
  EXPECT_EQ(wanted["value"], "fpgaPpsMux");
  const Json routed = next(watcher);  // the agent's route, after the change that asked for it
  EXPECT_EQ(routed["path"], "hardware/clockmux/status/FixedSystem");
  EXPECT_EQ(routed["within"][0]["key"], "asicPpsMux");
  EXPECT_EQ(routed["attribute"], "sourceSelect");
  EXPECT_EQ(routed["value"], "fpgaPpsMux");

  RawConnection bad(instance.socket());
  bad.send(R"({"op":"watch","paths":["no/such/path"]})"
           "\n");
  EXPECT_NE(bad.reply().find("no entity at path `no/such/path`"), std::string::npos);
}
