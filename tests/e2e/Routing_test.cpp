#include <gtest/gtest.h>

#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/RunningDaemon.h"

namespace {

// The whitespace-separated cells of the row of `show` output that begins with `first`.
std::vector<std::string> row(const std::string& table, const std::string& first) {
  std::istringstream lines(table);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream cells(line);
    std::vector<std::string> row{std::istream_iterator<std::string>(cells), {}};
    if (!row.empty() && row.front() == first) return row;
  }
  return {};
}

}  // namespace

class Routing : public RunningDaemon {};

// The operator's road: one `set` of a cliConfig entry that did not exist routes the sink through
// three muxes, two of which share register 0x10 under different masks. The FPGA's PPS input,
// whose mux that route took over, is then shown as not in force.
TEST_F(Routing, OneSetRoutesANewSinkAndTheSinkWhoseMuxItTookIsShownNotInForce) {
  const std::string source = "system/ocxo1-pps";
  const CommandResult set = instance.ctl({"set", "hardware/strobe/sink/cliConfig/FixedSystem",
                                          "cliConfig", "asic1/pps-in", "sourceName=" + source});
  ASSERT_EQ(set.status, 0) << set.err;

  const CommandResult regs = instance.ctl({"regs", "IntelGpioHam"});
  EXPECT_NE(regs.out.find("0010: 13 02 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
                          "0020: 01 01 00"),
            std::string::npos)
      << regs.out;
  const std::string sinks = instance.ctl({"show", "sinks"}).out;
  EXPECT_EQ(row(sinks, "asic1/pps-in"),
            (std::vector<std::string>{"asic1/pps-in", "strobe", "fpga1/ptp-pps", source, source,
                                      "holdoverPpsMux>fpgaPpsMux>asicPpsMux", source, "yes"}))
      << sinks;
  const std::vector<std::string> fpga = row(sinks, "fpga1/pps-in1");
  ASSERT_EQ(fpga.size(), 8u) << sinks;
  EXPECT_EQ(fpga[4], "pps-in1");  // what its status records: the port policy's choice
  EXPECT_EQ(fpga[6], source);
  EXPECT_EQ(fpga[7], "NO");
}

// The road of one typical event: the port's signal chooses the FPGA's PPS source, which the strobe
// sink monitor routes.
TEST_F(Routing, ThePortPolicyRoutesTheFpgasPpsInputFromThePortsSignal) {
  const std::string ports = "hardware/clocking/cliConfig/FixedSystem";
  ASSERT_EQ(instance.ctl({"set", ports, "allPortConfig", "pps-in1", "signal=2"}).status, 0);
  const std::vector<std::string> port = row(instance.ctl({"show", "ports"}).out, "pps-in1");
  ASSERT_EQ(port.size(), 9u);
  EXPECT_EQ(port[6], "system/gps1");  // the source the policy chose, its chain, and in force
  EXPECT_EQ(port[7], "fpgaPpsMux");
  EXPECT_EQ(port[8], "yes");
  const CommandResult status = instance.ctl({"get", "hardware/clocking/cliStatus/FixedSystem"});
  EXPECT_NE(status.out.find("\"signal\": 2"), std::string::npos) << status.out;
  EXPECT_NE(status.out.find("\"cableDelayNs\": 12.5"), std::string::npos) << status.out;
}

// `route` explains before anything is switched: the chain, each register before and after, or why
// there is no route; with --apply the agent then routes it.
TEST_F(Routing, RouteExplainsAndChangesNothingUntilApplied) {
  const std::string registersBefore = instance.ctl({"regs", "IntelGpioHam"}).out;
  const CommandResult route = instance.ctl({"route", "asic1/pps-in", "system/ocxo1-pps"});
  EXPECT_EQ(route.status, 0) << route.err;
  // Register 0x10 starts at 0x01 (the port policy's route); two muxes share it.
  EXPECT_EQ(row(route.out, "holdoverPpsMux"),
            (std::vector<std::string>{"holdoverPpsMux", "0x10", "0x30", "system/ocxo1-pps", "0x10",
                                      "0x01", "0x11"}));
  EXPECT_EQ(row(route.out, "fpgaPpsMux"),
            (std::vector<std::string>{"fpgaPpsMux", "0x10", "0x07", "holdoverPpsMux", "0x03",
                                      "0x11", "0x13"}));
  EXPECT_EQ(row(route.out, "asicPpsMux"),
            (std::vector<std::string>{"asicPpsMux", "0x11", "0x03", "fpgaPpsMux", "0x02", "0x01",
                                      "0x02"}));

  const CommandResult unreachable = instance.ctl({"route", "asic1/pps-in", "port1/rx-clk"});
  EXPECT_EQ(unreachable.status, 1);
  EXPECT_NE(unreachable.out.find("no mux of the sink's tree offers the source"), std::string::npos);
  EXPECT_NE(unreachable.out.find("muxes searched: asicPpsMux, fpgaPpsMux, holdoverPpsMux"),
            std::string::npos)
      << unreachable.out;
  const CommandResult noSink = instance.ctl({"route", "asic9/none", "system/gps1"});
  EXPECT_EQ(noSink.status, 1);
  EXPECT_NE(noSink.out.find("no mux drives the sink"), std::string::npos);
  const CommandResult refused = instance.ctl({"route", "asic1/pps-in", "port1/rx-clk", "--apply"});
  EXPECT_NE(refused.err.find("the sink's tree offers the source; nothing applied"),
            std::string::npos)
      << refused.err;
  EXPECT_EQ(instance.ctl({"regs", "IntelGpioHam"}).out, registersBefore);

  ASSERT_EQ(instance.ctl({"route", "asic1/pps-in", "system/ocxo1-pps", "--apply"}).status, 0);
  const std::string after = instance.ctl({"regs", "IntelGpioHam"}).out;
  EXPECT_NE(after.find("0010: 13 02"), std::string::npos) << after;
  EXPECT_EQ(row(instance.ctl({"show", "sinks"}).out, "asic1/pps-in").at(4), "system/ocxo1-pps");
}
