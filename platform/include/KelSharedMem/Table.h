#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "Kel/Entity.h"
#include "KelFlume/MountInfo.h"

namespace KelSharedMem {

class Segment;

// An entity whose latest record lives in a shared-memory segment that other processes read.
// Subclasses give the record's size and publish records of their own type.
#define KEL_SHAREDMEM_TABLE_MEMBERS(attribute, collection, reference)
class Table : public Kel::Entity {
  KEL_ENTITY(KelSharedMem, Table, Kel::Entity, KEL_SHAREDMEM_TABLE_MEMBERS)

 public:
  // Unmaps the segment, leaving it in place for readers and the next writer.
  // Declared here and defined with the segment's type, which this header leaves incomplete.
  explicit Table(Kel::String name);
  ~Table() override;

  // The size in bytes of one record; a positive multiple of 8, fixed for the table's life.
  virtual std::size_t recordSize() const = 0;

  // Maps `segmentName` and (re)initialises its header for `info`'s collection, replacing any
  // segment attached before; false with `error` set, and the table unchanged, on failure.
  bool attach(const std::string& segmentName, const KelFlume::MountInfo& info, std::string* error);
  // Unmaps the segment, if any; publishing does nothing from then on. The segment stays.
  void detach();
  // Whether records reach a segment.
  bool isAttached() const noexcept { return segment_ != nullptr; }
  // The name of the attached segment, or empty.
  const std::string& segmentName() const;

 protected:
  // Publishes one record (recordSize() bytes); does nothing while not attached.
  void publish(const void* record);

 private:
  std::unique_ptr<Segment> segment_;
};

}  // namespace KelSharedMem
