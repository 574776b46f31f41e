#include "VelaClock/PpsWaiterStats.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace VelaClockAgent {

void PpsWaiterStats::edgePublishedIs(std::uint64_t detectionDelayUs) {
  ++edgesPublished_;
  lastDetectionDelayUs_ = detectionDelayUs;
  detectionDelaySumUs_ += detectionDelayUs;
  ++detectionDelays_[bucketOf(detectionDelayUs)];
}

std::size_t PpsWaiterStats::bucketOf(std::uint64_t delayUs) {
  return std::min<std::size_t>(static_cast<std::size_t>(std::bit_width(delayUs)), delayBuckets - 1);
}

std::uint64_t PpsWaiterStats::bucketUpperUs(std::size_t bucket) {
  return (std::uint64_t{1} << bucket) - 1;
}

std::uint64_t PpsWaiterStats::detectionDelayPercentileUs(double fraction) const {
  if (edgesPublished_ == 0) return 0;
  // The rank of the edge at that share, counted from 1.
  const auto rank = std::max<std::uint64_t>(
      1, static_cast<std::uint64_t>(
             std::ceil(std::clamp(fraction, 0.0, 1.0) * static_cast<double>(edgesPublished_))));
  std::uint64_t seen = 0;
  for (std::size_t bucket = 0; bucket < delayBuckets; ++bucket) {
    seen += detectionDelays_[bucket];
    if (seen >= rank) return bucketUpperUs(bucket);
  }
  return bucketUpperUs(delayBuckets - 1);
}

std::string PpsWaiterStats::detectionDelayHistogram() const {
  std::string text;
  for (std::size_t bucket = 0; bucket < delayBuckets; ++bucket) {
    if (detectionDelays_[bucket] == 0) continue;
    if (!text.empty()) text += ' ';
    text += std::to_string(bucketUpperUs(bucket)) + ':' + std::to_string(detectionDelays_[bucket]);
  }
  return text;
}

}  // namespace VelaClockAgent
