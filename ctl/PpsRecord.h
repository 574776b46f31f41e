#pragma once

#include <cstdint>
#include <string>

#include "velaclock/kel_flume.h"

namespace velaclockctl {

// The latest PPS edge as published in shared memory by the daemon of `instance`.
struct PpsRecord {
  vela_pps_edge_timestamps edge{};
  kel_flume_read_info info{};
};

// What reading the record found.
enum class PpsReadStatus {
  ok,            // the record was read whole
  noTable,       // no segment of that name: no velaclockd of this user and instance has run
  badTable,      // the segment is not a PPS edge table (of this layout)
  notPublished,  // the table is there but holds no edge yet
  busy,          // every attempt overlapped a write
};

struct PpsReading {
  PpsReadStatus status = PpsReadStatus::noTable;
  PpsRecord record;  // valid when status is ok
  std::string why;   // what went wrong, otherwise
};

// Reads the PPS edge table of this user's `instance`.
PpsReading readPpsRecord(const std::string& instance);

// "2026-12-06T19:33:52.123456789Z" for UTC nanoseconds since the epoch.
std::string utcNanoseconds(std::uint64_t ns);

}  // namespace velaclockctl
