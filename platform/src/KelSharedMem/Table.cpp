#include "KelSharedMem/Table.h"

#include "Kel/TypeInfo.h"
#include "KelSharedMem/Segment.h"

namespace KelSharedMem {

namespace {
// Lets mount profiles and generic code name the base type of every table.
[[maybe_unused]] const bool registered = (Kel::kelModuleIs<Table>("KelSharedMem"), true);
}  // namespace

Table::Table(Kel::String name) : Kel::Entity(std::move(name)) {}

Table::~Table() = default;

bool Table::attach(const std::string& segmentName, const KelFlume::MountInfo& info,
                   std::string* error) {
  if (std::string why = info.unsupportedReason(); !why.empty()) {
    *error = "table " + name() + ": " + why;
    return false;
  }
  std::unique_ptr<Segment> segment =
      Segment::open(segmentName, info.collectionInfo().name(), recordSize(), error);
  if (!segment) return false;
  segment_ = std::move(segment);
  return true;
}

void Table::detach() {
  segment_.reset();
}

const std::string& Table::segmentName() const {
  static const std::string none;
  return segment_ ? segment_->name() : none;
}

void Table::publish(const void* record) {
  if (segment_) segment_->publish(record);
}

}  // namespace KelSharedMem
