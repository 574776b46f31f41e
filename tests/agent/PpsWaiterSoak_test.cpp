#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "agent/PpsWaiterFixture.h"
#include "support/Seeds.h"

using namespace VelaClockAgent;

namespace {

constexpr std::uint64_t nsPerSecond = 1000000000;
constexpr std::uint64_t nsPerMs = 1000000;
constexpr std::uint64_t nsPerUs = 1000;
// An edge published after an operator's fault may be a glitch, or missing, until the waiter has
// found the pulse again: edges within this time after a fault are not held to "exactly once".
constexpr double settleAfterFault = 2.0;

// What the counter really saw, kept by the test apart from the waiter: the faults it made and
// the edges that follow from them.
struct Truth {
  std::vector<std::pair<double, double>> stopped;    // UTC [from, to)
  std::vector<double> glitches;                      // UTC
  std::vector<std::pair<double, double>> faults;     // UTC [from, to] of every fault
  std::vector<std::pair<double, double>> saturated;  // UTC [from, to]: the count read past 1020

  bool running(double second) const {
    return std::none_of(stopped.begin(), stopped.end(),
                        [second](const auto& s) { return s.first <= second && second < s.second; });
  }
  // No fault during the settling time before `second`.
  bool quiet(double second) const {
    return std::none_of(faults.begin(), faults.end(), [second](const auto& fault) {
      return fault.first <= second && second - fault.second <= settleAfterFault;
    });
  }
  // The edges of the counter (whole seconds while the pulse ran, and glitches), in ns.
  std::vector<std::uint64_t> edges(double from, double to) const {
    std::vector<std::uint64_t> all;
    for (double second = std::ceil(from); second <= to; ++second) {
      if (running(second)) all.push_back(static_cast<std::uint64_t>(second) * nsPerSecond);
    }
    for (double glitch : glitches)
      all.push_back(static_cast<std::uint64_t>(glitch * 1e6) * nsPerUs);
    std::sort(all.begin(), all.end());
    return all;
  }
};

// Faults of the simulated pulse, one at a time with the pulse running in between. `runFor` lets
// time pass; `whileStopped(length)` runs while the pulse is stopped and lets `length` pass.
class FaultSchedule {
 public:
  using Pass = std::function<void(double seconds)>;
  FaultSchedule(std::uint64_t seed, Pass runFor, Pass whileStopped)
      : random_(seed), runFor_(std::move(runFor)), whileStopped_(std::move(whileStopped)) {}

  Truth run(double hours) {
    Truth truth;
    const double end = utc() + hours * 3600;
    while (utc() < end) {
      runFor_(uniform(3, 120));
      switch (std::uniform_int_distribution<int>(0, 2)(random_)) {
        case 0:
          stop(truth);
          break;
        case 1:
          truth.glitches.push_back(std::round(utc() * 1e6) / 1e6);
          truth.faults.emplace_back(utc(), utc());
          Pps::Counter::simPulse().glitchIs();
          break;
        default:
          saturate(truth);
          break;
      }
    }
    runFor_(5);
    return truth;
  }

 private:
  static double utc() { return Kel::System::currentTimeUtc(); }
  double uniform(double from, double to) {
    return std::uniform_real_distribution<double>(from, to)(random_);
  }
  void stop(Truth& truth) {
    const double from = utc();
    Pps::Counter::simPulse().pulseStoppedIs(true);
    whileStopped_(uniform(0.1, 60));
    Pps::Counter::simPulse().pulseStoppedIs(false);
    truth.stopped.emplace_back(from, utc());
    truth.faults.emplace_back(from, utc());
  }
  void saturate(Truth& truth) {
    const double from = utc();
    const auto count = std::uniform_int_distribution<std::uint16_t>(1021, 65535)(random_);
    Pps::Counter::simPulse().countOverrideIs(count);
    runFor_(uniform(1.1, 30));  // long enough for a poll to see it
    Pps::Counter::simPulse().countOverrideIs(std::nullopt);
    truth.faults.emplace_back(from, utc());
    truth.saturated.emplace_back(from, utc());
  }

  std::mt19937_64 random_;
  Pass runFor_;
  Pass whileStopped_;
};

}  // namespace

// A day of a pulse stopped, restored, glitched and pushed past saturation at random: every edge
// away from a fault is published exactly once, every published edge is one the counter saw, a
// stopped pulse is reported down within 1.1 s, and the waiter's counters agree.
TEST_F(PpsWaiterFixture, ADayOfFaultsAtRandom) {
  time.turnCostIs(2.5e-4);
  const auto runFor = [this](double seconds) { time.runFor(seconds); };
  const auto whileStopped = [this](double length) {
    if (length < 1.1) return time.runFor(length);
    time.runFor(1.1);
    EXPECT_FALSE(status->ppsUp()) << "still up 1.1 s after the pulse stopped";
    time.runFor(length - 1.1);
  };
  for (const std::uint64_t seed : testSeeds({20240611})) {
    SCOPED_TRACE("seed " + std::to_string(seed) + " (VELACLOCK_SEED replays it)");
    const double begin = Kel::System::currentTimeUtc();
    start(mockCounter());
    const auto before = static_cast<std::ptrdiff_t>(published->records.size());
    const Truth truth = FaultSchedule(seed, runFor, whileStopped).run(24);
    const double end = Kel::System::currentTimeUtc();
    const auto edges = truth.edges(begin, end);
    const std::vector<PpsEdgeTimestamps> got(published->records.begin() + before,
                                             published->records.end());

    std::uint64_t previous = 0;
    for (const PpsEdgeTimestamps& record : got) {
      ASSERT_GT(record.edgeTimestamp, previous) << "an edge published twice, or out of order";
      previous = record.edgeTimestamp;
      // The counter's edge that this one stands for: at most its millisecond resolution before.
      const auto at = std::upper_bound(edges.begin(), edges.end(), record.edgeTimestamp + nsPerUs);
      ASSERT_NE(at, edges.begin()) << record.edgeTimestamp;
      EXPECT_LT(record.edgeTimestamp, *std::prev(at) + nsPerMs + nsPerUs)
          << "published " << record.edgeTimestamp << ", which the counter never saw";
    }
    // The drop after a count past saturation points back into it: never published.
    for (const auto& [from, to] : truth.saturated) {
      const auto after = std::lower_bound(
          got.begin(), got.end(), utcNanoseconds(from),
          [](const PpsEdgeTimestamps& r, std::uint64_t ns) { return r.edgeTimestamp < ns; });
      EXPECT_TRUE(after == got.end() || after->edgeTimestamp > utcNanoseconds(to))
          << "a false edge published: " << after->edgeTimestamp;
    }
    for (double second = std::ceil(begin) + settleAfterFault; second < end - 1; ++second) {
      if (!truth.running(second) || !truth.quiet(second)) continue;
      const auto edge = static_cast<std::uint64_t>(second) * nsPerSecond;
      // The records are in order (checked above): those standing for this edge are one run.
      const auto first = std::partition_point(got.begin(), got.end(), [edge](const auto& r) {
        return r.edgeTimestamp + nsPerUs < edge;
      });
      const auto last = std::partition_point(first, got.end(), [edge](const auto& r) {
        return r.edgeTimestamp < edge + nsPerMs + nsPerUs;
      });
      ASSERT_EQ(last - first, 1) << "edge at " << second;
    }
    const PpsWaiterStats& stats = waiter->stats();
    EXPECT_EQ(stats.edgesPublished(), got.size());
    EXPECT_EQ(stats.falseEdgesDiscarded(), truth.saturated.size());
    EXPECT_EQ(stats.saturations(), truth.saturated.size());
    std::uint64_t histogram = 0;
    for (const std::uint64_t bucket : stats.detectionDelays()) histogram += bucket;
    EXPECT_EQ(histogram, stats.edgesPublished());
    EXPECT_TRUE(status->ppsUp());
    EXPECT_GT(truth.faults.size(), 1000u);
  }
}
