#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

// The seeds of a randomised test: the fixed ones it always runs, then the one given in the
// environment variable VELACLOCK_SEED, if any, to try another or to replay one that failed.
inline std::vector<std::uint64_t> testSeeds(std::vector<std::uint64_t> fixed) {
  if (const char* given = std::getenv("VELACLOCK_SEED")) fixed.push_back(std::stoull(given));
  return fixed;
}
