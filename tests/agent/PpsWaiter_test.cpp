#include <gtest/gtest.h>

#include "Fru/Ham.h"
#include "Pps/Counter/QuillHal.h"

#include <cmath>

#include "agent/PpsWaiterFixture.h"
#include "host/EntityJson.h"
#include "support/CapturedTrace.h"

using namespace VelaClockAgent;

namespace {
using Lines = std::vector<std::string>;
const std::string handleInitializedText = "void VelaClockAgent::PpsWaiterSm::handleInitialized()";
const std::string noCounterText =
    "ppsCounter on PpsWaiterConfig was null. Cannot initialize PpsWaiterSm";
const std::string halFailedText = "ppsWaiter hal creation failed. Cannot initialize PpsWaiterSm";
const std::string halMadeText = "ppsWaiter hal creation succeeded";
}  // namespace

TEST_F(PpsWaiterFixture, WithoutACounterItWaitsForOne) {
  CapturedTrace trace("VelaClockAgent");
  start(nullptr);
  EXPECT_FALSE(waiter->initialized());
  EXPECT_FALSE(status->ppsUp());
  EXPECT_EQ(waiter->hal(), nullptr);
  EXPECT_EQ(waiter->nextPollTime(), Kel::infiniteTime);
  EXPECT_EQ(trace.messages(), (Lines{handleInitializedText, noCounterText}));
  ASSERT_EQ(trace.lines.size(), 2u);
  EXPECT_NE(trace.lines[1].find(" VelaClockAgent/0 VelaClock/PpsWaiterSm.cpp:"), std::string::npos);
  EXPECT_NE(trace.lines[1].find(" PpsWaiterSm::tryMakeHal " + noCounterText), std::string::npos);
  time.runFor(10);
  EXPECT_EQ(waiter->stats().polls(), 0u);

  config->ppsCounterIs(lumenCounter());  // the counter arrives: the first poll one period later
  EXPECT_TRUE(waiter->initialized());
  EXPECT_EQ(waiter->nextPollTime(), time.now() + 1.0);
  EXPECT_EQ(trace.count(halMadeText), 1u);
}

TEST_F(PpsWaiterFixture, NullEntitiesNeverCrashAndAPollWithoutATableStillArmsTheNext) {
  waiter = PpsWaiterSm::PpsWaiterSmIs(nullptr, nullptr);
  EXPECT_FALSE(waiter->initialized());
  waiter->handlePpsPollPeriod();
  waiter->initializedIs(true);  // as reflection could: still no HAL to poll
  waiter->handlePpsPollClock();
  EXPECT_EQ(waiter->stats().polls(), 0u);

  start(lumenCounter());
  waiter->ppsWaiterTimestampsIs(nullptr);
  pollWith(1000);
  pollWith(2);
  EXPECT_TRUE(status->ppsUp());
  EXPECT_NEAR(waiter->nextPollTime() - time.now(), 0.988, 1e-9);
  EXPECT_TRUE(published->records.empty());
  EXPECT_EQ(waiter->stats().edgesPublished(), 0u);
}

TEST_F(PpsWaiterFixture, AMockCounterIsFirstPolledOnePeriodAfterConstruction) {
  start(mockCounter(), 1.0);
  EXPECT_TRUE(waiter->initialized());
  EXPECT_FALSE(status->ppsUp());
  EXPECT_EQ(waiter->hal()->fwkType().name(), "Pps::Counter::MockHal");
  EXPECT_EQ(waiter->nextPollTime(), time.now() + 1.0);
  EXPECT_EQ(waiter->stats().polls(), 0u);  // the poll that binding ran did nothing

  time.runFor(1.0);  // on a whole second of the wall clock: the count reads 0
  EXPECT_EQ(waiter->stats().polls(), 1u);
  EXPECT_TRUE(published->records.empty());  // the first poll cannot report an edge
  EXPECT_DOUBLE_EQ(waiter->floatingPpsPollPeriod(), 0.99);
  time.runFor(1.5);
  ASSERT_EQ(published->records.size(), 1u);
  EXPECT_TRUE(status->ppsUp());
  const std::uint64_t edge = VelaClockAgent::utcNanoseconds(1.8e9 + 2);
  EXPECT_GE(published->records[0].edgeTimestamp, edge);  // seen by the first turn after it
  EXPECT_LT(published->records[0].edgeTimestamp, edge + 200000);
}

TEST_F(PpsWaiterFixture, APeriodOfZeroOrInfinityTurnsPollingOff) {
  start(lumenCounter(), 0.0);
  EXPECT_TRUE(waiter->initialized());
  EXPECT_FALSE(status->ppsUp());
  EXPECT_EQ(waiter->nextPollTime(), Kel::infiniteTime);
  time.runFor(5);
  EXPECT_TRUE(counter->reads.empty());
  config->ppsPollPeriodIs(0.25);
  const Kel::Seconds changed = time.now();
  time.runFor(1);
  ASSERT_FALSE(counter->reads.empty());
  EXPECT_EQ(counter->reads.front(), changed + 0.25);

  pollWith(1000);
  pollWith(2);
  ASSERT_TRUE(status->ppsUp());
  config->ppsPollPeriodIs(Kel::infiniteTime);
  EXPECT_FALSE(status->ppsUp());
  const auto polled = counter->reads.size();
  time.runFor(10);
  EXPECT_EQ(counter->reads.size(), polled);

  // A period that is not a number arms nothing either, so it cannot leave ppsUp standing.
  config->ppsPollPeriodIs(1.0);
  pollWith(1000);
  pollWith(2);
  config->ppsPollPeriodIs(std::nan(""));
  EXPECT_FALSE(status->ppsUp());
  EXPECT_EQ(waiter->nextPollTime(), Kel::infiniteTime);
}

TEST_F(PpsWaiterFixture, ACounterChangeDropsPpsAndRebuildsTheHalKeepingTheLastCount) {
  start(lumenCounter());
  pollWith(1000);
  pollWith(500);
  ASSERT_TRUE(status->ppsUp());
  const Kel::Ptr<Pps::Counter::Hal> lumenHal = waiter->hal();
  Pps::Counter::simPulse().countOverrideIs(100);
  config->ppsCounterIs(mockCounter());
  EXPECT_FALSE(status->ppsUp());
  EXPECT_NE(waiter->hal(), lumenHal);
  EXPECT_EQ(waiter->hal()->fwkType().name(), "Pps::Counter::MockHal");
  EXPECT_EQ(waiter->lastTimeSinceEdge(), 500u);
  EXPECT_EQ(lumenHal->references(), 1u);  // the old HAL is released

  waiter->handlePpsPollClock();  // 100 is below the 500 read from the old HAL: an edge
  ASSERT_EQ(published->records.size(), 2u);
  EXPECT_EQ(published->records[1].edgeTimestamp, utcNowNs() - 100000000U);
  EXPECT_TRUE(status->ppsUp());
}

TEST_F(PpsWaiterFixture, AnUnknownCounterTypeKeepsTheHalBuiltBefore) {
  start(lumenCounter());
  const Kel::Ptr<Pps::Counter::Hal> hal = waiter->hal();
  auto unknown = mockCounter();
  unknown->counterTypeIs(7);
  CapturedTrace trace("VelaClockAgent");
  config->ppsCounterIs(unknown);
  EXPECT_EQ(waiter->hal(), hal);
  EXPECT_TRUE(waiter->initialized());
  EXPECT_EQ(trace.count(halMadeText), 1u);

  // With none built before, it fails; so does a description whose type disagrees with its code.
  start(unknown);
  EXPECT_EQ(waiter->hal(), nullptr);
  EXPECT_FALSE(waiter->initialized());
  auto mislabelled = lumenCounter();
  mislabelled->counterTypeIs(Hardware::Pps::quillCounterType);
  config->ppsCounterIs(mislabelled);
  EXPECT_EQ(waiter->hal(), nullptr);
  EXPECT_EQ(trace.count(halFailedText), 2u);
}

TEST_F(PpsWaiterFixture, AnInvalidHalIsKeptButNeverPolled) {
  CapturedTrace trace("VelaClockAgent/0");
  start(lumenCounter(0x42));  // nothing answers there
  ASSERT_NE(waiter->hal(), nullptr);
  EXPECT_FALSE(waiter->hal()->valid());
  EXPECT_FALSE(waiter->initialized());
  EXPECT_EQ(trace.messages(), Lines{halFailedText});

  config->ppsPollPeriodIs(0.5);  // still arms a poll, which then does nothing and arms nothing
  EXPECT_EQ(waiter->nextPollTime(), time.now() + 0.5);
  waiter->lastTimeSinceEdgeIs(700);
  time.runFor(5);
  EXPECT_EQ(waiter->stats().polls(), 0u);
  EXPECT_EQ(waiter->nextPollTime(), Kel::infiniteTime);
  EXPECT_EQ(waiter->lastTimeSinceEdge(), 700u);
  EXPECT_EQ(waiter->floatingPpsPollPeriod(), 0.0);
}

// Edges read 2 ms and 40 ms after they happened are counted as the operator's metrics and `show
// pps` show them, under the names they read: two edges, four polls, one detection delay in the
// bucket up to 2047 us and one in the bucket up to 65535 us, which bound the median and the 99th
// percentile.
TEST_F(PpsWaiterFixture, CountsEachPollAndEdgeWithItsDetectionDelay) {
  start(lumenCounter());
  for (const std::uint16_t count : {1000, 2, 999, 40}) pollWith(count);
  const auto json = velaclockd::entityToJson(*waiter);
  EXPECT_EQ(json["edgesPublished"], 2);
  EXPECT_EQ(json["polls"], 4);
  EXPECT_EQ(json["falseEdgesDiscarded"], 0);
  EXPECT_EQ(json["saturations"], 0);
  EXPECT_EQ(json["lastDetectionDelayUs"], 40000);
  EXPECT_EQ(json["detectionDelaySumUs"], 42000);
  EXPECT_EQ(json["detectionDelayHistogram"], "2047:1 65535:1");
  EXPECT_EQ(json["detectionDelayP50Us"], 2047);
  EXPECT_EQ(json["detectionDelayP99Us"], 65535);
  // A delay no bucket was made for (a wall clock stepped far) still lands in the last one.
  EXPECT_EQ(VelaClockAgent::PpsWaiterStats::bucketOf(UINT64_MAX),
            VelaClockAgent::PpsWaiterStats::delayBuckets - 1);
  const Kel::Ptr<Pps::Counter::Hal> hal = waiter->hal();
  const auto* tryMakeHal = waiter->fwkType().operation("tryMakeHal");
  ASSERT_NE(tryMakeHal, nullptr);
  tryMakeHal->invoke(*waiter, "");
  EXPECT_NE(waiter->hal(), hal);
}

// A Quill counter is read through the Ham its configuration names, as a Lumen one is through the
// register window.
TEST_F(PpsWaiterFixture, AQuillCounterIsPolledThroughItsHam) {
  auto quill = Kel::makePtr<Hardware::Pps::QuillCounter>("quill");
  quill->counterBaseIs(counterBase);
  quill->hamIs(Kel::makePtr<Fru::Ham>(Pps::Counter::LumenHal::registerWindow,
                                      Fru::HamType::memoryMapped, nullptr, 0, 0, ""));
  start(quill);
  EXPECT_NE(dynamic_cast<const Pps::Counter::QuillHal*>(waiter->hal().get()), nullptr);
  pollWith(1000);
  pollWith(2);
  EXPECT_EQ(published->records.size(), 1u);
  EXPECT_TRUE(status->ppsUp());
}
