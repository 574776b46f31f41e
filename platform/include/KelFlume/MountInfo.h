#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "Kel/String.h"

namespace KelFlume {

// How a shared-memory table keeps its records.
enum KelFlumeType : std::uint8_t {
  latestRecord_ = 0,  // one record per collection; each write replaces it
};

// One collection of a table: its name, how many record slots it has and whether readers keep a
// history of it.
class CollectionInfo {
 public:
  // A collection named `name` with `records` slots, with or without a reader history.
  CollectionInfo(Kel::String name, std::uint32_t records, bool history)
      : name_(std::move(name)), records_(records), history_(history) {}

  // The collection's name.
  const Kel::String& name() const noexcept { return name_; }
  // How many record slots the collection has.
  std::uint32_t records() const noexcept { return records_; }
  // Whether readers keep a history of the records.
  bool history() const noexcept { return history_; }

 private:
  Kel::String name_;
  std::uint32_t records_;
  bool history_;
};

// What a writer asks of a table when it mounts one: its kind and its (single) collection.
class MountInfo {
 public:
  // A table of `type` with no collection yet.
  explicit MountInfo(KelFlumeType type) : type_(type) {}

  // The table's kind.
  KelFlumeType type() const noexcept { return type_; }
  // The table's collection (unnamed until collectionInfoIs is called).
  const CollectionInfo& collectionInfo() const noexcept { return collection_; }
  // Sets the table's collection, replacing any earlier one.
  void collectionInfoIs(const CollectionInfo& collection) { collection_ = collection; }

  // Why a table cannot be served as described, or empty when it can.
  std::string unsupportedReason() const;

 private:
  KelFlumeType type_;
  CollectionInfo collection_{"", 1, false};
};

}  // namespace KelFlume
