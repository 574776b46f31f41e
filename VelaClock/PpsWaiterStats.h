#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace VelaClockAgent {

// What the PPS waiter counts about its own work, for the operator; none of it changes what the
// waiter publishes. Counting allocates nothing.
class PpsWaiterStats {
 public:
  // Log-spaced buckets of detection delay (pollTimestamp - edgeTimestamp, in µs): bucket 0 holds
  // 0, bucket k holds 2^(k-1) to 2^k - 1. The largest count, 65535 ms, falls in the last.
  static constexpr std::size_t delayBuckets = 27;
  using Histogram = std::array<std::uint64_t, delayBuckets>;

  void pollIs() { ++polls_; }
  // A genuine edge published, seen `detectionDelayUs` after it happened.
  void edgePublishedIs(std::uint64_t detectionDelayUs);
  // A drop of the count after it went past saturation, taken for a false edge and discarded.
  void falseEdgeIs() { ++falseEdgesDiscarded_; }
  // The count found past its saturation point while it was not already.
  void saturationIs() { ++saturations_; }

  std::uint64_t polls() const { return polls_; }
  std::uint64_t edgesPublished() const { return edgesPublished_; }
  std::uint64_t falseEdgesDiscarded() const { return falseEdgesDiscarded_; }
  std::uint64_t saturations() const { return saturations_; }
  std::uint64_t lastDetectionDelayUs() const { return lastDetectionDelayUs_; }
  std::uint64_t detectionDelaySumUs() const { return detectionDelaySumUs_; }
  const Histogram& detectionDelays() const { return detectionDelays_; }

  // The bucket of a delay, and the largest delay (µs) a bucket holds.
  static std::size_t bucketOf(std::uint64_t delayUs);
  static std::uint64_t bucketUpperUs(std::size_t bucket);
  // The largest delay (µs) of the bucket where the share `fraction` (0 to 1) of the published
  // edges is reached: an upper bound of that percentile. 0 when no edge was published.
  std::uint64_t detectionDelayPercentileUs(double fraction) const;
  // The non-empty buckets as "<upper µs>:<edges>", separated by blanks.
  std::string detectionDelayHistogram() const;

 private:
  std::uint64_t polls_ = 0;
  std::uint64_t edgesPublished_ = 0;
  std::uint64_t falseEdgesDiscarded_ = 0;
  std::uint64_t saturations_ = 0;
  std::uint64_t lastDetectionDelayUs_ = 0;
  std::uint64_t detectionDelaySumUs_ = 0;
  Histogram detectionDelays_{};
};

}  // namespace VelaClockAgent
