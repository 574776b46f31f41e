#include "VelaClockAgent/PpsWaiterTypes.h"

#include <array>

namespace VelaClockAgent {

namespace {
[[maybe_unused]] const bool registered =
    (Kel::kelModuleIs<PpsWaiterConfig, PpsWaiterStatus, PpsWaiterTimestamps>(
         "VelaClockAgent/PpsWaiter"),
     true);
}  // namespace

void PpsWaiterTimestamps::ppsEdgeTimestampsIs(const PpsEdgeTimestamps& record) {
  ppsEdgeTimestamps_ = record;
  // Published word by word so that the padding after the leading word goes out as zeros.
  static_assert(std::endian::native == std::endian::little);
  const std::array<std::uint64_t, 3> words{record.leadingWord, record.edgeTimestamp,
                                           record.pollTimestamp};
  publish(words.data());
  notify(ppsEdgeTimestampsId, &ppsEdgeTimestamps_);
}

void PpsWaiterTimestamps::kelDescribeMore(Kel::TypeBuilder<PpsWaiterTimestamps>& builder) {
  builder.readOnly<std::uint64_t>("edgeTimestamp", [](const PpsWaiterTimestamps& t) {
    return t.ppsEdgeTimestamps().edgeTimestamp;
  });
  builder.readOnly<std::uint64_t>("pollTimestamp", [](const PpsWaiterTimestamps& t) {
    return t.ppsEdgeTimestamps().pollTimestamp;
  });
}

}  // namespace VelaClockAgent
