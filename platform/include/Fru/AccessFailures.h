#pragma once

#include <cstdint>

namespace Fru {

// The failed accesses of a real device since it was opened, for the operator's metrics.
struct AccessFailures {
  std::uint64_t count = 0;
  int lastErrno = 0;  // of the latest failure, kept when the device answers again; 0 before any
};

}  // namespace Fru
