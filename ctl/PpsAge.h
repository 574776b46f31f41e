#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

namespace velaclockctl {

// An edge is fresh while it is younger than this: the next one is due each second, so an older
// latest edge means at least one is missing.
inline constexpr double freshEdgeAgeSeconds = 1.5;

// The wall clock now, in nanoseconds since the Unix epoch.
inline std::uint64_t utcNowNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000000U +
         static_cast<std::uint64_t>(now.tv_nsec);
}

// How long ago (s) the edge at `edgeNs` was at `nowNs`; negative for an edge from this clock's
// future (the wall clock was stepped back since).
inline double edgeAgeSeconds(std::uint64_t edgeNs, std::uint64_t nowNs) {
  return nowNs >= edgeNs ? static_cast<double>(nowNs - edgeNs) * 1e-9
                         : -static_cast<double>(edgeNs - nowNs) * 1e-9;
}

inline bool isFreshEdge(double ageSeconds) {
  return ageSeconds < freshEdgeAgeSeconds;
}

// "0.412 s, fresh" or "3.020 s, stale".
inline std::string edgeAgeText(double ageSeconds) {
  char text[48];
  std::snprintf(text, sizeof text, "%.3f s, %s", ageSeconds,
                isFreshEdge(ageSeconds) ? "fresh" : "stale");
  return text;
}

}  // namespace velaclockctl
