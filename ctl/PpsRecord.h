#pragma once

#include <optional>
#include <string>

#include "velaclock/kel_flume.h"

namespace velaclockctl {

// The latest PPS edge as published in shared memory by the daemon of `instance`.
struct PpsRecord {
  vela_pps_edge_timestamps edge{};
  kel_flume_read_info info{};
};

// Reads the record of this user's instance; nullopt with `why` set when there is none to read.
std::optional<PpsRecord> readPpsRecord(const std::string& instance, std::string& why);

// "2026-12-06T19:33:52.123456789Z" for UTC nanoseconds since the epoch.
std::string utcNanoseconds(std::uint64_t ns);

}  // namespace velaclockctl
