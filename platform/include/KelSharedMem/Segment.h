#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "velaclock/kel_flume.h"

namespace KelSharedMem {

// The writing end of one shared-memory table (layout and protocol in velaclock/kel_flume.h):
// the segment stays mapped read-write while this object lives. One writer per segment.
class Segment {
 public:
  // Creates or opens the segment `name` (mode 0644 whatever the umask; a symbolic link or a
  // segment of another user is refused), makes room for a record
  // of `recordSize` bytes (a positive multiple of 8) and takes the segment over for
  // `collection` with a new writer id and nothing published. Null with `error` set on failure.
  static std::unique_ptr<Segment> open(const std::string& name, const std::string& collection,
                                       std::size_t recordSize, std::string* error);
  // Removes the segment `name` from the system; readers that mapped it keep their mapping.
  // False with `error` set on failure.
  static bool unlink(const std::string& name, std::string* error);

  Segment(const Segment&) = delete;
  Segment& operator=(const Segment&) = delete;
  // Unmaps the segment and leaves it in place for readers and the next writer.
  ~Segment();

  // Replaces the record with recordSize() bytes from `record`; readers see the old or the new
  // record whole, never a mix.
  void publish(const void* record);

  // The segment's name.
  const std::string& name() const noexcept { return name_; }
  // The record size this writer publishes.
  std::size_t recordSize() const noexcept { return recordSize_; }
  // The id readers see for this writer.
  std::uint64_t writerId() const noexcept { return writerId_; }
  // Records published by this writer.
  std::uint64_t published() const noexcept { return published_; }

 private:
  Segment(std::string name, void* base, std::size_t mapped, std::size_t recordSize);
  void takeOver(const std::string& collection);

  kel_flume_header& header() const noexcept { return *static_cast<kel_flume_header*>(base_); }
  std::uint64_t* recordWords() const noexcept {
    return reinterpret_cast<std::uint64_t*>(static_cast<char*>(base_) + KEL_FLUME_HEADER_SIZE);
  }

  std::string name_;
  void* base_;
  std::size_t mapped_;
  std::size_t recordSize_;
  std::uint64_t writerId_ = 0;
  std::uint64_t published_ = 0;
};

}  // namespace KelSharedMem
