#include "KelFlume/MountInfo.h"

#include <fmt/format.h>

#include "velaclock/kel_flume.h"

namespace KelFlume {

std::string MountInfo::unsupportedReason() const {
  if (type_ != latestRecord_) {
    return fmt::format("table kind {} is not supported (only latestRecord_)", unsigned(type_));
  }
  const CollectionInfo& c = collection_;
  if (c.name().empty()) return "the table has no collection";
  // The name travels in the segment header, where readers can see which collection it is.
  if (c.name().size() >= KEL_FLUME_COLLECTION_SIZE) {
    return fmt::format("collection name '{}' is longer than {} characters", c.name(),
                       KEL_FLUME_COLLECTION_SIZE - 1);
  }
  if (c.records() != 1) {
    return fmt::format("collection '{}' has {} record slots; a latest-record table has exactly 1",
                       c.name(), c.records());
  }
  if (c.history()) {
    return fmt::format(
        "collection '{}' asks for a reader history, which a latest-record table "
        "does not keep",
        c.name());
  }
  return {};
}

}  // namespace KelFlume
