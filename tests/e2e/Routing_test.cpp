#include <gtest/gtest.h>

#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/Process.h"

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

struct RouteCase {
  std::string cliConfig;              // the sink family's cliConfig path
  std::string sink, source;           // what the operator asks for
  std::vector<std::string> regsRows;  // rows of `regs IntelGpioHam` afterwards
  std::string chain;                  // as `show sinks` prints it
};

}  // namespace

// The operator's road: one `set` of a cliConfig entry that did not exist routes the sink.
TEST(Routing, OneSetOfANewSinkEntryRoutesItThroughTheMuxes) {
  const std::vector<RouteCase> cases{
      // Three muxes; holdoverPpsMux and fpgaPpsMux share register 0x10 under different masks.
      {"hardware/strobe/sink/cliConfig/FixedSystem",
       "asic1/pps-in",
       "system/ocxo1-pps",
       {"0010: 13 02 00 00 00 00 00 00 00 00 00 00 00 00 00 00",
        "0020: 01 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
       "holdoverPpsMux>fpgaPpsMux>asicPpsMux"},
  };
  for (const RouteCase& c : cases) {
    SCOPED_TRACE(c.sink);
    Instance instance;
    Daemon daemon = instance.daemon();
    ASSERT_TRUE(daemon.ready()) << daemon.errors();
    const CommandResult set =
        instance.ctl({"set", c.cliConfig, "cliConfig", c.sink, "sourceName=" + c.source});
    ASSERT_EQ(set.status, 0) << set.err;

    const CommandResult regs = instance.ctl({"regs", "IntelGpioHam"});
    ASSERT_EQ(regs.status, 0) << regs.err;
    for (const std::string& expected : c.regsRows) {
      EXPECT_NE(regs.out.find(expected), std::string::npos) << regs.out;
    }
    const CommandResult sinks = instance.ctl({"show", "sinks"});
    ASSERT_EQ(sinks.status, 0) << sinks.err;
    const std::vector<std::string> cells = row(sinks.out, c.sink);
    ASSERT_EQ(cells.size(), 8u) << sinks.out;
    EXPECT_EQ(cells[3], c.source);  // wanted
    EXPECT_EQ(cells[4], c.source);  // in force
    EXPECT_EQ(cells[5], c.chain);
    EXPECT_EQ(cells[6], c.source);  // what the registers carry to the sink
    EXPECT_EQ(cells[7], "yes");
  }
}

// A sink whose muxes another route took over is shown as not in force.
TEST(Routing, ShowSinksMarksAChainThatNoLongerCarriesTheRecordedSource) {
  Instance instance;
  Daemon daemon = instance.daemon();
  ASSERT_TRUE(daemon.ready()) << daemon.errors();
  ASSERT_EQ(instance
                .ctl({"set", "hardware/strobe/sink/cliConfig/FixedSystem", "cliConfig",
                      "asic1/pps-in", "sourceName=system/ocxo1-pps"})
                .status,
            0);
  const std::vector<std::string> fpga = row(instance.ctl({"show", "sinks"}).out, "fpga1/pps-in1");
  ASSERT_EQ(fpga.size(), 8u);
  EXPECT_EQ(fpga[4], "pps-in1");  // what its status records: the port policy's choice
  EXPECT_EQ(fpga[6], "system/ocxo1-pps");
  EXPECT_EQ(fpga[7], "NO");
}

// The road of one typical event: the port's signal chooses the FPGA's PPS source, which the strobe
// sink monitor routes.
TEST(Routing, ThePortPolicyRoutesTheFpgasPpsInputFromThePortsSignal) {
  Instance instance;
  Daemon daemon = instance.daemon();
  ASSERT_TRUE(daemon.ready()) << daemon.errors();
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
TEST(Routing, RouteExplainsAndChangesNothingUntilApplied) {
  Instance instance;
  Daemon daemon = instance.daemon();
  ASSERT_TRUE(daemon.ready()) << daemon.errors();
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
  EXPECT_EQ(instance.ctl({"regs", "IntelGpioHam"}).out, registersBefore);

  ASSERT_EQ(instance.ctl({"route", "asic1/pps-in", "system/ocxo1-pps", "--apply"}).status, 0);
  const std::string after = instance.ctl({"regs", "IntelGpioHam"}).out;
  EXPECT_NE(after.find("0010: 13 02"), std::string::npos) << after;
  EXPECT_EQ(row(instance.ctl({"show", "sinks"}).out, "asic1/pps-in").at(4), "system/ocxo1-pps");
}
