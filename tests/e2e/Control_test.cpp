#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>

#include "e2e/RawConnection.h"
#include "e2e/RunningDaemon.h"

class Control : public RunningDaemon {};

TEST_F(Control, SetGetAndDeleteRoundTrip) {
  const std::string sinks = "hardware/strobe/sink/cliConfig/FixedSystem";
  const CommandResult set =
      instance.ctl({"set", sinks, "cliConfig", "asic1/pps-in", "sourceName=fpgaPpsMux"});
  ASSERT_EQ(set.status, 0) << set.err;
  EXPECT_EQ(get(sinks)["cliConfig"]["asic1/pps-in"]["sourceName"], "fpgaPpsMux");

  const std::string ports = "hardware/clocking/cliConfig/FixedSystem";
  ASSERT_EQ(
      instance
          .ctl({"set", ports, "allPortConfig", "pps-in2", "--type",
                "Hardware::Clocking::PpsGnssInPortConfig", "signal=gnssPps", "cableDelayNs=-3.25"})
          .status,
      0);
  const Json port = get(ports)["allPortConfig"]["pps-in2"];
  EXPECT_EQ(port["type"], "Hardware::Clocking::PpsGnssInPortConfig");
  EXPECT_EQ(port["signal"], 2);
  EXPECT_EQ(port["cableDelayNs"], -3.25);
  // Only "pps-in1" has a policy: another PPS GNSS input port is reported and left alone.
  EXPECT_FALSE(get("hardware/clocking/cliStatus/FixedSystem")["allPortStatus"].contains("pps-in2"));
  EXPECT_NE(daemon.errors().find("Unexpected port name: pps-in2"), std::string::npos);

  ASSERT_EQ(instance.ctl({"set", "hardware/ppsWaiter/config", "ppsPollPeriod=inf"}).status, 0);
  EXPECT_EQ(get("hardware/ppsWaiter/config")["ppsPollPeriod"], "inf");

  EXPECT_EQ(instance.ctl({"del", ports, "allPortConfig", "pps-in2"}).status, 0);
  EXPECT_FALSE(get(ports)["allPortConfig"].contains("pps-in2"));
  const CommandResult again = instance.ctl({"del", ports, "allPortConfig", "pps-in2"});
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("`allPortConfig` has no entry `pps-in2`"), std::string::npos);
}

// The refusals themselves are the control service's and server's unit tables; here, that one
// reaches the operator with its message and exit 1, and a malformed line leaves the daemon serving.
TEST_F(Control, RefusalsReachTheOperatorAndChangeNothing) {
  const std::string muxes = "hardware/clockmux/config/FixedSystem";
  const Json before = get(muxes);
  const CommandResult result =
      instance.ctl({"set", muxes, "muxConfig", "fpgaPpsMux", "bitMask=0x1f", "bitmask=3"});
  EXPECT_EQ(result.status, 1) << result.out;
  EXPECT_NE(result.err.find("has no attribute `bitmask`"), std::string::npos) << result.err;
  EXPECT_EQ(get(muxes), before);

  RawConnection raw(instance.socket());
  ASSERT_TRUE(raw.connected());
  raw.send("hello\n{\"op\":\"paths\"}\n");
  EXPECT_EQ(Json::parse(raw.reply())["error"], "request is not a JSON object on one line");
  EXPECT_EQ(Json::parse(raw.reply())["ok"], true);  // the same connection still works
}

TEST_F(Control, ACrowdedDaemonStillLetsTheOperatorIn) {
  // Every slot held by a client with a request line it never ends: the one holding it longest
  // makes room, so the CLI gets in (trying again while the daemon says it is too busy).
  std::vector<std::unique_ptr<RawConnection>> holders;
  for (int i = 0; i < 16; ++i) {
    holders.push_back(std::make_unique<RawConnection>(instance.socket()));
    holders.back()->send("{\"op\":\"paths\"}\n{");
    ASSERT_EQ(Json::parse(holders.back()->reply())["ok"], true);  // admitted
  }
  const CommandResult paths = instance.ctl({"paths"});
  EXPECT_EQ(paths.status, 0) << paths.err;

  // A request larger than the socket buffer: the daemon closes while the CLI is still sending,
  // and the CLI reports why.
  std::vector<std::string> big{"set", "hardware/ppsWaiter/config"};
  for (int i = 0; i < 10; ++i)
    big.push_back("a" + std::to_string(i) + "=" + std::string(100000, 'x'));
  const CommandResult large = instance.ctl(big);
  EXPECT_EQ(large.status, 1) << large.err;
  EXPECT_NE(large.err.find("request longer than 65536 bytes"), std::string::npos) << large.err;
}
