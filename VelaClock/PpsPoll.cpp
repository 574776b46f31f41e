#include "VelaClock/PpsPoll.h"

#include <cmath>
#include <limits>

#include "Pps/Counter/Hal.h"

namespace VelaClockAgent {

namespace {
constexpr std::uint16_t finePollFrom = 990;  // ms: 10 ms before the edge is due
constexpr std::uint16_t busyPollFrom = 996;  // ms: from here to busyPollTo, no pause
constexpr std::uint16_t busyPollTo = 1003;   // ms
constexpr Kel::Seconds finePollDelay = 0.001;
constexpr Kel::Seconds lostPollDelay = 0.5;
// The largest UTC time whose nanoseconds fit in 64 bits (the year 2554).
constexpr Kel::Seconds latestUtc = 18446744072.0;
}  // namespace

PpsPollStep ppsPollStep(std::uint16_t count) {
  using Pps::Counter::saturatedCount;
  if (count < finePollFrom) return {(finePollFrom - count) / 1000.0, false, false};
  if (count < busyPollFrom) return {finePollDelay, false, false};
  if (count <= busyPollTo) return {0.0, false, false};
  if (count < saturatedCount) return {finePollDelay, false, false};
  return {lostPollDelay, true, count > saturatedCount};
}

std::uint64_t utcNanoseconds(Kel::Seconds utc) {
  if (!(utc > 0)) return 0;
  if (utc >= latestUtc) return std::numeric_limits<std::uint64_t>::max();
  const auto wholeSeconds = static_cast<std::uint64_t>(utc);
  const auto fraction = static_cast<std::uint64_t>(std::fmod(utc, 1.0) * 1e9);
  return wholeSeconds * 1000000000U + fraction;
}

std::uint64_t durationMicroseconds(Kel::Seconds t0, Kel::Seconds t1) {
  const double microseconds = std::round((t1 - t0) * 1e6);
  if (!(microseconds > 0)) return 0;
  if (microseconds >= 1e19) return std::numeric_limits<std::uint64_t>::max();
  return static_cast<std::uint64_t>(microseconds);
}

}  // namespace VelaClockAgent
