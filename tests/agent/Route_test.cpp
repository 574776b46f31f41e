#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "agent/MuxFixture.h"
#include "support/Golden.h"
#include "support/Seeds.h"

using VelaClockAgent::MuxSetupInfo;
using VelaClockAgent::setupMuxesForSink;

TEST_F(MuxFixture, ATwoLevelRouteIsProgrammedFarthestFirst) {
  addMux("m1", 0x10, 0x0F, {{"gps", 1}, {"m2", 2}}, {"fpga"});
  addMux("m2", 0x11, 0x0F, {{"osc", 3}, {"sma", 4}});
  startMonitor();
  CapturedTrace trace("VelaClockAgent/0");
  EXPECT_TRUE(setupMuxesForSink("fpga", "sma", config, status));
  EXPECT_EQ(writes(*bank), (Writes{{0x11, 0x04}, {0x10, 0x02}}));
  EXPECT_EQ(selected("m2"), "sma");
  EXPECT_EQ(selected("m1"), "m2");  // the parent selects its child by name

  std::vector<std::string> route;  // the search's own lines and the list it dumps
  for (const auto& m : trace.messages()) {
    if (m.rfind("setupMuxesForSink", 0) == 0 || m.rfind("dumpMuxes", 0) == 0) route.push_back(m);
  }
  EXPECT_TRUE(matchesGolden(route, "route/two-level.trace"));
}

TEST_F(MuxFixture, TheSearchFollowsTheLastMuxSourceAndBacksUpFromDeadEnds) {
  addMux("m1", 0x10, 0xFF, {{"a", 1}, {"b", 2}, {"gps", 3}}, {"fpga"});
  addMux("a", 0x11, 0x0F, {{"osc", 1}, {"sma", 2}});
  addMux("b", 0x12, 0x0F, {{"ptp", 1}, {"gnss2", 2}});
  startMonitor();

  // On b, the last mux source: a is never searched and never programmed.
  auto search = VelaClockAgent::searchRoute("fpga", "ptp", config);
  EXPECT_EQ(search.offeringMux, "b");
  EXPECT_EQ(search.muxesToSetup, (std::vector<MuxSetupInfo>{{"m1", 1}, {"a", 2}, {"b", 2}}));
  EXPECT_TRUE(setupMuxesForSink("fpga", "ptp", config, status));
  EXPECT_EQ(writes(*bank), (Writes{{0x12, 0x01}, {0x10, 0x02}}));
  EXPECT_EQ(selected("a"), "");

  // On a: b is a dead end, so the search backs up to a.
  bank->accessesDelAll();
  search = VelaClockAgent::searchRoute("fpga", "sma", config);
  EXPECT_EQ(search.offeringMux, "a");
  EXPECT_EQ(search.muxesToSetup, (std::vector<MuxSetupInfo>{{"m1", 1}, {"a", 2}}));
  EXPECT_TRUE(setupMuxesForSink("fpga", "sma", config, status));
  EXPECT_EQ(writes(*bank), (Writes{{0x11, 0x02}, {0x10, 0x01}}));
  EXPECT_EQ(selected("m1"), "a");
  EXPECT_EQ(selected("b"), "ptp");  // untouched since the first route
}

TEST_F(MuxFixture, ADirectSourceWinsOverADeeperOne) {
  addMux("m1", 0x10, 0x0F, {{"deep", 1}, {"gps", 2}}, {"fpga"});
  addMux("deep", 0x11, 0x0F, {{"gps", 1}});
  startMonitor();
  EXPECT_TRUE(setupMuxesForSink("fpga", "gps", config, status));
  EXPECT_EQ(writes(*bank), (Writes{{0x10, 0x02}}));
  EXPECT_EQ(selected("deep"), "");
}

TEST_F(MuxFixture, NoRouteEndsInOneTraceAndNothingProgrammed) {
  addMux("m1", 0x10, 0x0F, {{"loop", 1}, {"gps", 2}}, {"fpga"});
  addMux("loop", 0x11, 0x0F, {{"m1", 1}, {"osc", 2}});
  addMux("end", 0x12, 0x0F, {{"osc", 1}});
  addMux("join", 0x13, 0x0F, {{"end", 1}, {"via", 2}}, {"asic"});  // two ways down to end
  addMux("via", 0x14, 0x0F, {{"end", 1}});
  startMonitor();
  const std::vector<std::tuple<const char*, const char*, const char*>> cases{
      {"fpga", "sma", "the mux sources form a cycle"},
      {"asic", "sma", "no mux of the sink's tree offers the source"},
      {"nowhere", "gps", "no mux drives the sink"},
  };
  for (const auto& [sink, source, why] : cases) {
    CapturedTrace trace("VelaClockAgent/0");
    EXPECT_FALSE(setupMuxesForSink(sink, source, config, status)) << sink;
    EXPECT_EQ(trace.count(std::string("no route from source ") + source + " to sink " + sink +
                          ": " + why),
              1u)
        << sink;
    EXPECT_EQ(trace.count("setting the mux"), 0u);
  }
  EXPECT_TRUE(bank->accesses().empty());
  EXPECT_EQ(selected("m1"), "");
}

TEST_F(MuxFixture, ASimulatedSystemRoutesNothingAndSaysNothing) {
  addMux("m1", 0x10, 0x0F, {{"gps", 1}}, {"fpga"});
  startMonitor();
  setenv("SIMULATION_VMID", "", 1);
  CapturedTrace trace("*");
  EXPECT_FALSE(setupMuxesForSink("fpga", "gps", config, status));
  EXPECT_TRUE(trace.lines.empty());
  EXPECT_TRUE(bank->accesses().empty());
}

// Random mux graphs, cycles and joins included: the search finds a route exactly when one exists
// (by plain reachability), and what it programs leads from the sink to the source.
TEST_F(MuxFixture, EveryRouteThatExistsIsFoundAndProgrammedRight) {
  startMonitor();
  for (const std::uint64_t seed : testSeeds({20261207})) {
    SCOPED_TRACE("seed " + std::to_string(seed) + " (VELACLOCK_SEED replays it)");
    std::mt19937 random(seed);
    for (int round = 0; round < 300; ++round) {
      config = Kel::makePtr<Hardware::ClockMux::MuxConfigDir>("FixedSystem");
      status = Kel::makePtr<Hardware::ClockMux::MuxStatusDir>("FixedSystem");
      monitor = VelaClockAgent::MuxDirMonitorSm::MuxDirMonitorSmIs(config, status);
      const int muxes = 2 + int(random() % 6);
      std::map<std::string, std::vector<std::string>> inputs;
      for (int m = 0; m < muxes; ++m) {
        const std::string name = "m" + std::to_string(m);
        auto mux = Kel::makePtr<Hardware::ClockMux::MuxConfig>(name);
        mux->controlRegisterIs(std::uint32_t(m));
        mux->bitMaskIs(0x0F);
        for (int i = 0, n = 1 + int(random() % 3); i < n; ++i) {
          const bool toMux = random() % 2;
          const std::string source =
              toMux ? "m" + std::to_string(random() % muxes) : "s" + std::to_string(random() % 4);
          if (mux->source(source)) continue;
          mux->sourceIs(source)->bitValueIs(std::uint32_t(1 + inputs[name].size()));
          inputs[name].push_back(source);
        }
        if (m == 0) mux->sinkIs("sink");
        config->muxConfigIs(mux);
      }
      const std::string source = "s" + std::to_string(random() % 4);
      std::set<std::string> reached{"m0"}, frontier{"m0"};
      while (!frontier.empty()) {
        std::set<std::string> next;
        for (const auto& mux : frontier) {
          for (const auto& in : inputs[mux]) {
            if (in[0] == 'm' && reached.insert(in).second) next.insert(in);
          }
        }
        frontier = next;
      }
      const bool exists = std::any_of(reached.begin(), reached.end(), [&](const std::string& m) {
        const auto& in = inputs[m];
        return std::find(in.begin(), in.end(), source) != in.end();
      });
      ASSERT_EQ(setupMuxesForSink("sink", source, config, status), exists) << "round " << round;
      if (!exists) continue;
      // Follow the selections from the sink's mux: each step selects an input the mux has.
      std::string at = "m0";
      for (int hop = 0; hop <= muxes && at != source; ++hop) {
        const std::string chosen = selected(at);
        ASSERT_NE(std::find(inputs[at].begin(), inputs[at].end(), chosen), inputs[at].end())
            << "round " << round << " mux " << at;
        at = chosen;
      }
      EXPECT_EQ(at, source) << "round " << round;
    }
  }
}
