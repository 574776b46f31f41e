#include <gtest/gtest.h>

#include <cmath>

#include "agent/PpsWaiterFixture.h"
#include "support/CapturedTrace.h"

using namespace VelaClockAgent;

namespace {
// One row of the delay table, at a bound.
struct Row {
  std::uint16_t count;
  PpsPollStep step;
};
const Row rows[] = {
    {0, {0.990, false, false}},    {989, {0.001, false, false}},  {990, {0.001, false, false}},
    {995, {0.001, false, false}},  {996, {0.0, false, false}},    {1003, {0.0, false, false}},
    {1004, {0.001, false, false}}, {1019, {0.001, false, false}}, {1020, {0.5, true, false}},
    {1021, {0.5, true, true}},     {65535, {0.5, true, true}},
};
const std::string saturationText =
    "found pps time past normal saturation point (1020ms), gottimeSinceEdge=";
}  // namespace

TEST(PpsPoll, TheDelayTableAndTheEdgeTestAtTheirBounds) {
  for (const Row& row : rows) {
    const PpsPollStep step = ppsPollStep(row.count);
    EXPECT_DOUBLE_EQ(step.delay, row.step.delay) << row.count;
    EXPECT_EQ(step.ppsLost, row.step.ppsLost) << row.count;
    EXPECT_EQ(step.overSaturated, row.step.overSaturated) << row.count;
  }
  EXPECT_TRUE(isPpsEdge(2, 1000));
  EXPECT_FALSE(isPpsEdge(2, 2));
  EXPECT_FALSE(isPpsEdge(0, 0));  // the first poll, with nothing read before, sees no edge
  EXPECT_TRUE(isPpsEdge(1020, 65535));
  EXPECT_EQ(edgeTimestamp(5000000000, 2), 4998000000u);
  EXPECT_EQ(edgeTimestamp(1000000, 2), 0u);  // a poll before 1970 plus 2 ms: 0, not wrapped
  EXPECT_EQ(utcNanoseconds(1.5), 1500000000u);
  EXPECT_EQ(utcNanoseconds(-1.0), 0u);
  EXPECT_EQ(utcNanoseconds(1e300), UINT64_MAX);             // past what 64 bits of nanoseconds hold
  EXPECT_EQ(durationMicroseconds(10.0, 10.0000025), 3u);    // halves away from zero
  EXPECT_EQ(durationMicroseconds(10.0, 9.0), 0u);           // a wall clock stepped back
  EXPECT_EQ(durationMicroseconds(0.0, 1e300), UINT64_MAX);  // or stepped far ahead
}

TEST_F(PpsWaiterFixture, EachRowOfTheTableIsWhatAPollApplies) {
  start(lumenCounter());
  for (const Row& row : rows) {
    SCOPED_TRACE(row.count);
    status->ppsUpIs(true);
    waiter->counterOverSaturationIs(false);
    waiter->lastTimeSinceEdgeIs(0);  // no edge: only the table
    CapturedTrace trace("VelaClockAgent/9");
    pollWith(row.count);
    EXPECT_DOUBLE_EQ(waiter->floatingPpsPollPeriod(), row.step.delay);
    EXPECT_EQ(waiter->nextPollTime(), time.now() + row.step.delay);
    EXPECT_EQ(waiter->lastTimeSinceEdge(), row.count);
    EXPECT_EQ(status->ppsUp(), !row.step.ppsLost);
    EXPECT_EQ(waiter->counterOverSaturation(), row.step.overSaturated);
    EXPECT_EQ(trace.count(saturationText + std::to_string(row.count) +
                          ". Skipping next Pps edge notification"),
              row.step.overSaturated ? 1u : 0u);
  }
  EXPECT_TRUE(published->records.empty());
}

TEST_F(PpsWaiterFixture, AGenuineEdgeIsPublishedOnce) {
  start(lumenCounter());
  pollWith(1000);
  CapturedTrace trace("VelaClockAgent/7-9");
  pollWith(2);
  const std::uint64_t poll = utcNowNs();
  ASSERT_EQ(published->records.size(), 1u);
  EXPECT_EQ(published->records[0], (PpsEdgeTimestamps{0, poll - 2000000, poll}));
  EXPECT_TRUE(status->ppsUp());
  EXPECT_NEAR(waiter->nextPollTime() - time.now(), 0.988, 1e-9);
  EXPECT_EQ(
      trace.messages(),
      (std::vector<std::string>{
          "void VelaClockAgent::PpsWaiterSm::handlePpsPollClock()", "It took 0us to get pps count",
          "PPS edge detected count:2 edgeTimestamp:" + std::to_string(poll - 2000000) +
              " pollTimestampMS:" + std::to_string(poll)}));
  ASSERT_EQ(trace.lines.size(), 3u);  // each names the poll as its origin
  EXPECT_NE(trace.lines[2].find(" VelaClockAgent/7 VelaClock/PpsWaiterSm.cpp:"), std::string::npos);
  EXPECT_NE(trace.lines[2].find(" handlePpsPollClock PPS edge detected"), std::string::npos);
  pollWith(2);  // the same count: no edge
  EXPECT_EQ(published->records.size(), 1u);
  pollWith(0);  // a count of 0: the edge is the poll itself
  ASSERT_EQ(published->records.size(), 2u);
  EXPECT_EQ(published->records[1].edgeTimestamp, published->records[1].pollTimestamp);
  EXPECT_EQ(waiter->stats().edgesPublished(), 2u);
  EXPECT_EQ(waiter->stats().lastDetectionDelayUs(), 0u);
}

TEST_F(PpsWaiterFixture, TheDropAfterAnOverSaturatedCountIsAFalseEdge) {
  start(lumenCounter());
  pollWith(1500);
  EXPECT_FALSE(status->ppsUp());
  EXPECT_TRUE(waiter->counterOverSaturation());
  CapturedTrace trace("VelaClockAgent/9");
  pollWith(3);
  const std::uint64_t poll = utcNowNs();
  EXPECT_TRUE(published->records.empty());
  EXPECT_FALSE(status->ppsUp());
  EXPECT_FALSE(waiter->counterOverSaturation());
  EXPECT_EQ(
      trace.count("(likely) false PPS edge occured: timeSinceEdge: 3,edgeTimestamp: " +
                  std::to_string(poll - 3000000) + ", pollTimestampMS: " + std::to_string(poll)),
      1u);
  EXPECT_NE(trace.lines.back().find(" PpsWaiterSm::handlePpsPollClock (likely)"),
            std::string::npos);
  pollWith(500);
  pollWith(2);  // the next drop is published as usual
  EXPECT_EQ(published->records.size(), 1u);
  EXPECT_TRUE(status->ppsUp());

  // Past saturation, then a drop that is still past it: a false edge, and the flag again.
  pollWith(1500);
  pollWith(1200);
  EXPECT_TRUE(waiter->counterOverSaturation());
  EXPECT_EQ(published->records.size(), 1u);
  EXPECT_EQ(waiter->stats().falseEdgesDiscarded(), 2u);
  EXPECT_EQ(waiter->stats().saturations(), 3u);
  pollWith(1200);  // resting there raises it no further
  EXPECT_EQ(waiter->stats().saturations(), 3u);
}

TEST_F(PpsWaiterFixture, AWallClockStepNeitherDelaysNorHurriesAPoll) {
  // A pulse on the activity clock, which no wall-clock step moves: the schedule must not move.
  start(lumenCounter(), 0.25);
  const Kel::Seconds origin = time.now();
  counter->script = [origin] {
    const double ms = std::fmod(Kel::System::currentTime() - origin, 1.0) * 1000;
    return static_cast<std::uint16_t>(ms);
  };
  std::vector<std::uint64_t> pollUtcs;
  const auto script = counter->script;
  counter->script = [&pollUtcs, script] {
    pollUtcs.push_back(utcNanoseconds(Kel::System::currentTimeUtc()));
    return script();
  };
  for (int step = 0; step < 20; ++step) {
    time.runFor(0.4321);
    time.source().utcStepBy(step % 2 ? -0.7 : 0.3);
  }
  // The schedule written out, apart from the code: the delay after a poll that read `count`.
  const auto delayAfter = [](std::uint16_t count) -> Kel::Seconds {
    if (count < 990) return (990 - count) * 1e-3;
    if (count < 996 || (count > 1003 && count < 1020)) return 1e-3;
    return count <= 1003 ? 1e-4 : 0.5;  // the next turn, which costs 0.1 ms here
  };
  const auto& reads = counter->reads;
  ASSERT_GT(reads.size(), 100u);
  for (std::size_t i = 1; i < reads.size(); ++i) {
    EXPECT_NEAR(reads[i] - reads[i - 1], delayAfter(counter->counts[i - 1]), 1e-9) << i;
  }
  // Each edge carries the wall clock as it was at its poll, steps included.
  ASSERT_GE(published->records.size(), 7u);
  for (const PpsEdgeTimestamps& record : published->records) {
    const auto at = std::find(pollUtcs.begin(), pollUtcs.end(), record.pollTimestamp);
    ASSERT_NE(at, pollUtcs.end());
    const auto count = counter->counts[static_cast<std::size_t>(at - pollUtcs.begin())];
    EXPECT_EQ(record.edgeTimestamp, record.pollTimestamp - count * 1000000ULL);
  }
}
