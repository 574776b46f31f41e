#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "agent/SignalFixture.h"
#include "support/Golden.h"

using namespace VelaClockAgent;

// The mechanism the four monitors share, on the strobe sources.
TEST_F(SignalFixture, StatusEntriesFollowTheConfig) {
  strobeSourceConfig->sourceConfigIs("a");
  strobeSourceConfig->sourceConfigIs("b");
  strobeSourceStatus->sourceStatusIs("stray")->hasAntennaIs(true);
  strobeSourceCli->cliConfigIs("a")->configuredAdjustmentIs(1.5F);
  strobeSourceCli->cliConfigIs("b");
  CapturedTrace trace("VelaClockAgent/0");
  const auto monitor = StrobeSourceDirMonitorSm::StrobeSourceDirMonitorSmIs(
      strobeSourceConfig, strobeSourceStatus, strobeSourceCli);
  EXPECT_TRUE(monitor->hasNotificationActive());
  EXPECT_EQ(trace.count("a strobe source config found"), 2u);   // the config walk runs twice
  EXPECT_EQ(trace.count("handling strobe source config"), 0u);  // the settings walk not at all
  EXPECT_EQ(strobeSourceStatus->sourceStatus().keys(),
            (std::vector<Kel::String>{"a", "b", "stray"}));
  EXPECT_EQ(strobeSourceStatus->sourceStatus("a")->configuredAdjustment(), 0.0F);
  EXPECT_EQ(monitor->cliConfigEntries().size(), 2u);

  logChanges(strobeSourceStatus, "status");
  logChanges(strobeSourceCli, "cliConfig");
  strobeSourceConfig->sourceConfigIs("c");  // added: a status entry with defaults, no cliConfig
  strobeSourceConfig->sourceConfigIs(Kel::makePtr<Hardware::Strobe::SourceConfig>("a"));
  strobeSourceConfig->sourceConfigDel("b");  // gone: its status, then its cliConfig
  EXPECT_EQ(changes, (std::vector<std::string>{"status c", "status b", "cliConfig b"}));
  EXPECT_EQ(strobeSourceStatus->sourceStatus().keys(),
            (std::vector<Kel::String>{"a", "c", "stray"}));
  EXPECT_EQ(monitor->cliConfigEntries().size(), 1u);  // b's per-entry reactor went with it
  EXPECT_EQ(strobeSourceCli->cliConfig("c"), nullptr);
}

TEST_F(SignalFixture, OneSettingChangeAppliesEveryEntryThatHasAStatus) {
  for (const char* name : {"a", "b", "c"}) strobeSourceConfig->sourceConfigIs(name);
  strobeSourceCli->cliConfigIs("a")->configuredAdjustmentIs(1.0F);
  const auto b = strobeSourceCli->cliConfigIs("b");
  b->configuredAdjustmentIs(2.0F);
  b->hasAntennaIs(true);
  strobeSourceCli->cliConfigIs("unlisted")->hasAntennaIs(true);
  const auto monitor = StrobeSourceDirMonitorSm::StrobeSourceDirMonitorSmIs(
      strobeSourceConfig, strobeSourceStatus, strobeSourceCli);
  const auto status = [&](const char* name) {
    const auto s = strobeSourceStatus->sourceStatus(name);
    return std::pair(s->configuredAdjustment(), s->hasAntenna());
  };
  EXPECT_EQ(status("b"), std::pair(0.0F, false));  // settings filed before wait for a walk

  CapturedTrace trace("VelaClockAgent/0");
  strobeSourceCli->cliConfig("a")->configuredAdjustmentIs(1.25F);
  EXPECT_EQ(status("a"), std::pair(1.25F, false));
  EXPECT_EQ(status("b"), std::pair(2.0F, true));
  EXPECT_EQ(strobeSourceStatus->sourceStatus("unlisted"), nullptr);  // reported, not created
  EXPECT_EQ(trace.count(" status for the source was NOT found - ignoring it"), 1u);

  strobeSourceStatus->sourceStatus("b")->configuredAdjustmentIs(9.0F);
  strobeSourceCli->cliConfig("a")->hasAntennaIs(true);  // the other attribute: b rewritten too
  EXPECT_EQ(status("b"), std::pair(2.0F, true));

  auto c = Kel::makePtr<Hardware::Strobe::SourceCliConfig>("c");
  c->configuredAdjustmentIs(7.0F);
  strobeSourceCli->cliConfigIs(c);  // filed whole: it only gets its per-entry reactor
  EXPECT_EQ(status("c"), std::pair(0.0F, false));
  EXPECT_EQ(monitor->cliConfigEntries().size(), 4u);
  strobeSourceCli->cliConfig("c")->hasAntennaIs(true);
  EXPECT_EQ(status("c"), std::pair(7.0F, true));

  auto replacement = Kel::makePtr<Hardware::Strobe::SourceCliConfig>("a");
  replacement->configuredAdjustmentIs(3.0F);
  strobeSourceCli->cliConfigIs(replacement);  // another object under the name: the walk runs
  EXPECT_EQ(status("a"), std::pair(3.0F, false));
  strobeSourceCli->cliConfigDel("c");
  EXPECT_EQ(monitor->cliConfigEntries().find("c"), nullptr);
}

TEST_F(SignalFixture, FrequencySourcesStartFromTheirConfigAndTakeTheUsersSettings) {
  const auto osc = freqSourceConfig->sourceConfigIs("osc");
  osc->frequencyIs(10000000);
  osc->defaultAdjustmentPpbIs(0.5F);
  const auto wanted = freqSourceCli->cliConfigIs("osc");
  wanted->adjustmentPpbIs(2.0F);
  wanted->configImageFileIs("a.bin");
  const auto monitor = FreqSourceDirMonitorSm::FreqSourceDirMonitorSmIs(
      freqSourceConfig, freqSourceStatus, freqSourceCli);
  const auto status = freqSourceStatus->sourceStatus("osc");
  EXPECT_EQ(status->frequency(), 10000000u);
  EXPECT_EQ(status->adjustmentPpb(), 0.5F);  // the user's value waits for the next walk
  EXPECT_EQ(status->sourceConfigImageFile(), "");

  wanted->configImageFileIs("b.bin");
  EXPECT_EQ(status->adjustmentPpb(), 2.0F);
  EXPECT_EQ(status->sourceConfigImageFile(), "b.bin");

  osc->frequencyIs(20000000);  // an attribute of a config entry: not watched
  EXPECT_EQ(status->frequency(), 10000000u);
  const auto refiled = Kel::makePtr<Hardware::Freq::SourceConfig>("osc");
  refiled->frequencyIs(25000000);
  refiled->defaultAdjustmentPpbIs(0.75F);
  freqSourceConfig->sourceConfigIs(refiled);  // the config side writes the adjustment too
  EXPECT_EQ(status->frequency(), 25000000u);
  EXPECT_EQ(status->adjustmentPpb(), 0.75F);
  EXPECT_EQ(status->sourceConfigImageFile(), "b.bin");
  wanted->adjustmentPpbIs(3.0F);  // the adjustment alone is heard too
  EXPECT_EQ(status->adjustmentPpb(), 3.0F);
}

TEST_F(SignalFixture, ASinkIsRoutedWhenTheSourceItWantsDiffersFromItsStatus) {
  addMux("m1", 0x10, 0x0F, {{"gps", 1}, {"m2", 2}}, {"fpga"});
  addMux("m2", 0x11, 0x0F, {{"osc", 3}, {"sma", 4}});
  addMux("m3", 0x12, 0x0F, {{"gps", 1}, {"osc", 2}}, {"asic"});
  strobeSinkConfig->sinkConfigIs("fpga")->defaultSourceNameIs("gps");
  strobeSinkConfig->sinkConfigIs("asic")->defaultSourceNameIs("gps");
  strobeSinkStatus->sinkStatusIs("fpga")->sourceNameIs("stale");
  strobeSinkCli->cliConfigIs("fpga")->sourceNameIs("osc");  // filed before: waits for a walk
  startMonitor();  // the mux Ham exists: a route at construction would reach the registers
  const auto monitor = StrobeSinkDirMonitorSm::StrobeSinkDirMonitorSmIs(
      strobeSinkConfig, strobeSinkStatus, strobeSinkCli, config, status);
  const auto sinkSource = [&](const char* sink) {
    return strobeSinkStatus->sinkStatus(sink)->sourceName();
  };
  EXPECT_EQ(sinkSource("fpga"), "gps");  // construction starts every sink from its default
  EXPECT_TRUE(bank->accesses().empty());

  strobeSinkCli->cliConfigIs("asic")->sourceNameIs("gps");  // the same as status: nothing to do
  strobeSinkCli->cliConfig("asic")->sourceNameIs("osc");    // one change walks every sink
  EXPECT_EQ(writes(*bank), (Writes{{0x11, 0x03}, {0x10, 0x02}, {0x12, 0x02}}));
  EXPECT_EQ(sinkSource("fpga"), "osc");
  EXPECT_EQ(sinkSource("asic"), "osc");
  EXPECT_EQ(selected("m1"), "m2");

  bank->accessesDelAll();
  strobeSinkCli->cliConfig("fpga")->sourceNameIs("nowhere");  // no route: recorded all the same
  EXPECT_TRUE(bank->accesses().empty());
  EXPECT_EQ(sinkSource("fpga"), "nowhere");
  strobeSinkCli->cliConfig("asic")->sourceNameIs("gps");  // the next walk does not try again
  EXPECT_EQ(writes(*bank), (Writes{{0x12, 0x01}}));

  strobeSinkCli->cliConfig("fpga")->sourceNameIs("sma");
  bank->accessesDelAll();
  const auto refiled = Kel::makePtr<Hardware::Strobe::SinkConfig>("fpga");
  refiled->defaultSourceNameIs("gps");
  strobeSinkConfig->sinkConfigIs(refiled);  // back to the default, registers untouched
  EXPECT_EQ(sinkSource("fpga"), "gps");
  EXPECT_TRUE(bank->accesses().empty());
  strobeSinkCli->cliConfigIs("orphan")->sourceNameIs("osc");  // no status entry: never routed
  strobeSinkCli->cliConfig("orphan")->sourceNameIs("sma");
  EXPECT_EQ(strobeSinkStatus->sinkStatus("orphan"), nullptr);
  EXPECT_EQ(writes(*bank), (Writes{{0x11, 0x04}, {0x10, 0x02}}));  // fpga again, not orphan
  bank->stuckBitsIs(0x12, 0x0F, 0x00);  // m3's register keeps none of what it is sent
  strobeSinkCli->cliConfig("asic")->sourceNameIs("osc");
  EXPECT_EQ(monitor->extra().counters.readBackMismatches, 1U);
}

// What sets each monitor's traces apart; the shared lines are checked once, on the strobe sources.
TEST_F(SignalFixture, EachMonitorTracesInItsOwnWords) {
  setenv("SIMULATION_VMID", "", 1);  // routes are refused silently; sinks still record them
  strobeSourceConfig->sourceConfigIs("s");
  strobeSourceCli->cliConfigIs("s");
  const auto strobeSources = StrobeSourceDirMonitorSm::StrobeSourceDirMonitorSmIs(
      strobeSourceConfig, strobeSourceStatus, strobeSourceCli);
  CapturedTrace trace("VelaClockAgent/0");
  strobeSourceCli->cliConfig("s")->hasAntennaIs(true);
  strobeSourceCli->cliConfigIs("new");
  strobeSourceConfig->sourceConfigDel("s");
  EXPECT_TRUE(matchesGolden(trace.messages(), "signal/strobe-sources.trace"));
  for (const auto& origin : trace.origins()) {  // the shared mechanism's lines too
    EXPECT_THAT(origin, testing::StartsWith("VelaClock/Strobe.cpp:"));
  }

  freqSourceConfig->sourceConfigIs("f");
  freqSourceCli->cliConfigIs("f");
  const auto freqSources = FreqSourceDirMonitorSm::FreqSourceDirMonitorSmIs(
      freqSourceConfig, freqSourceStatus, freqSourceCli);
  trace.lines.clear();
  freqSourceCli->cliConfig("f")->configImageFileIs("f.bin");
  freqSourceCli->cliConfigIs("g");
  EXPECT_TRUE(matchesGolden(trace.messages(), "signal/freq-sources.trace"));

  strobeSinkConfig->sinkConfigIs("k")->defaultSourceNameIs("gps");
  freqSinkConfig->sinkConfigIs("k")->defaultSourceNameIs("gps");
  const auto strobeSinks = StrobeSinkDirMonitorSm::StrobeSinkDirMonitorSmIs(
      strobeSinkConfig, strobeSinkStatus, strobeSinkCli, config, status);
  const auto freqSinks = FreqSinkDirMonitorSm::FreqSinkDirMonitorSmIs(
      freqSinkConfig, freqSinkStatus, freqSinkCli, config, status);
  trace.lines.clear();
  strobeSinkCli->cliConfigIs("k")->sourceNameIs("gps");  // the default: already in force
  strobeSinkCli->cliConfig("k")->sourceNameIs("osc");
  freqSinkCli->cliConfigIs("k")->sourceNameIs("gps");
  freqSinkCli->cliConfig("k")->sourceNameIs("osc");
  EXPECT_TRUE(matchesGolden(trace.messages(), "signal/sinks.trace"));
  EXPECT_EQ(strobeSinkStatus->sinkStatus("k")->sourceName(), "osc");
  EXPECT_EQ(freqSinkStatus->sinkStatus("k")->sourceName(), "osc");
}
