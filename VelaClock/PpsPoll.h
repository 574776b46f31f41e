#pragma once

#include <cstdint>

#include "Kel/Time.h"

// What one poll of the PPS counter decides, as pure functions of what it read; the PPS waiter
// (PpsWaiterSm) applies the result.
namespace VelaClockAgent {

// What the count read by a poll says, apart from an edge: when to poll next, and whether the PPS
// is lost or the counter went past its saturation point.
struct PpsPollStep {
  Kel::Seconds delay = 0;      // s, from this poll to the next
  bool ppsLost = false;        // the count reached 1020 ms with no edge: ppsUp goes false
  bool overSaturated = false;  // the count went past 1020 ms: the next edge is likely false
  bool operator==(const PpsPollStep&) const = default;
};

// The delay table. The count climbs by one per millisecond from 0 at each edge and, with no
// edge, rests at 1020; the next edge is due at 1000. The waiter sleeps until 10 ms before it is
// due, polls every millisecond, polls without pause from 996 to 1003 ms, every millisecond again
// up to 1019 ms, and at 1020 ms counts the PPS as lost and polls twice a second.
//   0..989: (990 - count) ms   990..995: 1 ms   996..1003: 0 (the next loop turn)
//   1004..1019: 1 ms           1020: 0.5 s, lost   1021..65535: 0.5 s, lost, over-saturated
PpsPollStep ppsPollStep(std::uint16_t count);

// An edge happened since the previous poll when the count dropped below the one read then.
constexpr bool isPpsEdge(std::uint16_t count, std::uint32_t lastTimeSinceEdge) {
  return count < lastTimeSinceEdge;
}

// UTC seconds as nanoseconds since the Unix epoch: the whole seconds (truncated) times 10^9 plus
// the fraction's nanoseconds (truncated). A time before the epoch (or NaN) gives 0.
std::uint64_t utcNanoseconds(Kel::Seconds utc);

// The time of the edge that a count of milliseconds read at `pollTimestamp` (ns) points back to;
// 0, not a wrapped huge time, when the poll is earlier than that (a wall clock before 1970).
constexpr std::uint64_t edgeTimestamp(std::uint64_t pollTimestamp, std::uint16_t count) {
  const std::uint64_t sinceEdge = std::uint64_t{count} * 1000000U;
  return pollTimestamp < sinceEdge ? 0 : pollTimestamp - sinceEdge;
}

// From `t0` to `t1` (s) in whole microseconds, rounded to the nearest (halves away from zero). A
// wall clock stepped back between the two readings gives 0, not a wrapped huge number.
std::uint64_t durationMicroseconds(Kel::Seconds t0, Kel::Seconds t1);

}  // namespace VelaClockAgent
