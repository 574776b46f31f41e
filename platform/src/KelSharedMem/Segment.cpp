#include "KelSharedMem/Segment.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <limits>

namespace KelSharedMem {

namespace {

constexpr mode_t segmentMode = 0644;

std::string systemError(const std::string& name, const char* step, int error) {
  return fmt::format("shared-memory segment {}: {} failed: {}", name, step, std::strerror(error));
}

// Closes the descriptor on every way out of Segment::open; the mapping outlives it.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int fd() const { return fd_; }

 private:
  int fd_;
};

template <class T>
void storeRelaxed(T& field, T value) {
  std::atomic_ref<T>(field).store(value, std::memory_order_relaxed);
}

// The writer's side of the sequence lock: readers that overlap the scope retry. Starting from an
// odd count (a writer that died inside a write) still ends on a fresh even count.
class WriteSection {
 public:
  explicit WriteSection(std::uint64_t& sequence)
      : sequence_(sequence), odd_(sequence_.load(std::memory_order_relaxed) | 1) {
    sequence_.store(odd_, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
  }
  WriteSection(const WriteSection&) = delete;
  WriteSection& operator=(const WriteSection&) = delete;
  ~WriteSection() { sequence_.store(odd_ + 1, std::memory_order_release); }

 private:
  std::atomic_ref<std::uint64_t> sequence_;
  std::uint64_t odd_;
};

// The pid in the upper half helps whoever looks into a segment; the clock and a per-process count
// make the lower half differ between writers of one process and across pid reuse.
std::uint64_t newWriterId(std::uint64_t previous) {
  static std::atomic<std::uint32_t> writers{0};
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  const auto nanoseconds = std::uint64_t(now.tv_sec) * 1000000000U + std::uint64_t(now.tv_nsec);
  const auto salt = std::uint64_t(writers.fetch_add(1) + 1) * 0x9E3779B9U;
  std::uint64_t id = (std::uint64_t(::getpid()) << 32) | std::uint32_t(nanoseconds ^ salt);
  // Readers tell writers apart by the id alone, and 0 looks like a segment nobody set up.
  while (id == previous || id == 0) ++id;
  return id;
}

std::string checkedRecordSize(std::size_t recordSize) {
  if (recordSize == 0 || recordSize % 8 != 0 ||
      recordSize > std::numeric_limits<std::uint32_t>::max() - KEL_FLUME_HEADER_SIZE) {
    return fmt::format("record size {} is not a positive multiple of 8 that fits the header",
                       recordSize);
  }
  return {};
}

// The segment's name carries our user id: one that another user made under it is a trap set for
// our readers, not ours to write.
bool ownedByUs(const struct stat& status, const std::string& name, std::string* error) {
  if (status.st_uid == ::geteuid()) return true;
  *error = fmt::format("shared-memory segment {}: owned by user {}, not by this user ({})", name,
                       status.st_uid, ::geteuid());
  return false;
}

// Enforces the mode: readers run as other users, and the creator's umask must not lock them out.
bool modeEnforced(int fd, const struct stat& status, const std::string& name, std::string* error) {
  if ((status.st_mode & 07777) == segmentMode || ::fchmod(fd, segmentMode) == 0) return true;
  *error = systemError(name, "fchmod", errno);
  return false;
}

// Grows the segment to `size` but never shrinks it: a reader of a larger, older record may still
// be copying from beyond the new end, and would fault.
bool sizeEnsured(int fd, const struct stat& status, std::size_t size, const std::string& name,
                 std::string* error) {
  if (status.st_size >= off_t(size) || ::ftruncate(fd, off_t(size)) == 0) return true;
  *error = systemError(name, "ftruncate", errno);
  return false;
}

}  // namespace

std::unique_ptr<Segment> Segment::open(const std::string& name, const std::string& collection,
                                       std::size_t recordSize, std::string* error) {
  if (std::string why = checkedRecordSize(recordSize); !why.empty()) {
    *error = fmt::format("shared-memory segment {}: {}", name, why);
    return nullptr;
  }
  if (collection.size() >= KEL_FLUME_COLLECTION_SIZE) {
    *error =
        fmt::format("shared-memory segment {}: collection name '{}' is too long", name, collection);
    return nullptr;
  }
  const Descriptor fd(
      ::shm_open(name.c_str(), O_CREAT | O_RDWR | O_NOFOLLOW | O_CLOEXEC, segmentMode));
  if (fd.fd() < 0) {
    *error = systemError(name, "shm_open", errno);
    return nullptr;
  }
  struct stat status {};
  if (::fstat(fd.fd(), &status) != 0) {
    *error = systemError(name, "fstat", errno);
    return nullptr;
  }
  if (!ownedByUs(status, name, error)) return nullptr;
  const std::size_t size = KEL_FLUME_HEADER_SIZE + recordSize;
  if (!modeEnforced(fd.fd(), status, name, error) ||
      !sizeEnsured(fd.fd(), status, size, name, error)) {
    return nullptr;
  }
  void* base = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd.fd(), 0);
  if (base == MAP_FAILED) {
    *error = systemError(name, "mmap", errno);
    return nullptr;
  }
  std::unique_ptr<Segment> segment(new Segment(name, base, size, recordSize));
  segment->takeOver(collection);
  return segment;
}

bool Segment::unlink(const std::string& name, std::string* error) {
  if (::shm_unlink(name.c_str()) == 0) return true;
  *error = systemError(name, "shm_unlink", errno);
  return false;
}

Segment::Segment(std::string name, void* base, std::size_t mapped, std::size_t recordSize)
    : name_(std::move(name)), base_(base), mapped_(mapped), recordSize_(recordSize) {}

Segment::~Segment() {
  ::munmap(base_, mapped_);
}

void Segment::takeOver(const std::string& collection) {
  kel_flume_header& h = header();
  const WriteSection section(h.sequence);
  writerId_ = newWriterId(std::atomic_ref<std::uint64_t>(h.writer_id).load());
  storeRelaxed(h.magic, KEL_FLUME_MAGIC);
  storeRelaxed(h.version, std::uint32_t(KEL_FLUME_VERSION));
  storeRelaxed(h.record_size, std::uint32_t(recordSize_));
  storeRelaxed(h.writer_id, writerId_);
  storeRelaxed(h.published, std::uint64_t(0));
  for (std::size_t i = 0; i < KEL_FLUME_COLLECTION_SIZE; ++i) {
    storeRelaxed(h.collection[i], i < collection.size() ? collection[i] : '\0');
  }
  for (std::uint8_t& byte : h.reserved) storeRelaxed(byte, std::uint8_t(0));
  for (std::size_t i = 0; i < recordSize_ / 8; ++i)
    storeRelaxed(recordWords()[i], std::uint64_t(0));
}

void Segment::publish(const void* record) {
  const auto* bytes = static_cast<const unsigned char*>(record);
  const WriteSection section(header().sequence);
  for (std::size_t i = 0; i < recordSize_ / 8; ++i) {
    // The caller's record need not be aligned for 64-bit loads.
    std::uint64_t word;
    std::memcpy(&word, bytes + i * 8, sizeof word);
    storeRelaxed(recordWords()[i], word);
  }
  storeRelaxed(header().published, ++published_);
}

}  // namespace KelSharedMem
