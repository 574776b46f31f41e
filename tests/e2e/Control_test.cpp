#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>

#include "e2e/Process.h"
#include "e2e/RawConnection.h"

namespace {

using Json = nlohmann::ordered_json;

}  // namespace

class Control : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(daemon.ready()) << daemon.errors(); }
  Json get(const std::string& path) {
    const CommandResult got = instance.ctl({"get", path});
    EXPECT_EQ(got.status, 0) << got.err;
    return got.status == 0 ? Json::parse(got.out) : Json();
  }

  Instance instance;
  Daemon daemon = instance.daemon();
};

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

TEST_F(Control, RefusedRequestsChangeNothing) {
  const std::string muxes = "hardware/clockmux/config/FixedSystem";
  const Json before = get(muxes);
  const std::vector<std::pair<std::vector<std::string>, std::string>> refused{
      {{"set", muxes, "muxConfig", "fpgaPpsMux", "bitMask=0x1f", "controlRegister=0x1ffffffff"},
       "attribute `controlRegister` of Hardware::ClockMux::MuxConfig: expected an unsigned 32-bit"},
      {{"set", muxes, "muxConfig", "fpgaPpsMux", "bitmask=3"},
       "has no attribute `bitmask` (it has: controlRegister, bitMask, muxAccessMethod)"},
      {{"set", muxes, "muxConfigs", "x", "bitMask=3"}, "has no collection `muxConfigs`"},
      {{"set", muxes, "muxConfig", "newMux", "--type", "Hardware::ClockMux::Sink"},
       "cannot be an entry of `muxConfig`"},
      {{"set", muxes, "muxConfig", "fpgaPpsMux", "muxAccessMethod=teleport"},
       "expected a number from 0 to 255 or a value name"},
      {{"get", "hardware/clockmux"}, "no entity at path `hardware/clockmux`"},
      {{"set", "hardware/tundra/gpo", "entity", "PCA9554-1-smaRelaySw", "writeCount=0"},
       "cannot be set here"},
      {{"regs", "NoSuchHam"}, "no register bank for Ham `NoSuchHam`"},
      {{"trace", "VelaClockAgent/9-0"}, "bad trace filter term"},
  };
  for (const auto& [arguments, message] : refused) {
    const CommandResult result = instance.ctl(arguments);
    EXPECT_EQ(result.status, 1) << arguments[0] << " " << result.out;
    EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
  }
  EXPECT_EQ(get(muxes), before);
}

TEST_F(Control, MalformedRequestsGetAnErrorAndTheDaemonGoesOn) {
  RawConnection raw(instance.socket());
  ASSERT_TRUE(raw.connected());
  raw.send("hello\n");
  EXPECT_EQ(Json::parse(raw.reply())["error"], "request is not a JSON object on one line");
  raw.send("[1,2]\n{\"op\":\"launch\"}\n{\"op\":\"get\"}\n");
  EXPECT_EQ(Json::parse(raw.reply())["error"], "request is not a JSON object on one line");
  EXPECT_NE(raw.reply().find("unknown op `launch`"), std::string::npos);
  EXPECT_NE(raw.reply().find("request needs `path`"), std::string::npos);
  raw.send("{\"op\":\"paths\"}\n");
  EXPECT_EQ(Json::parse(raw.reply())["ok"], true);  // the same connection still works

  raw.send(std::string(std::size_t{70} * 1024, 'x'));
  EXPECT_NE(raw.reply().find("request longer than 65536 bytes"), std::string::npos);
  EXPECT_EQ(raw.reply(), "");  // and closed
  EXPECT_EQ(instance.ctl({"paths"}).status, 0);
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
