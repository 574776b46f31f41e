/*
 * Reading velaclock's shared-memory tables from any program, in C or C++, without the platform
 * library. Only POSIX shared memory and the GCC/Clang __atomic builtins are needed; in strict C
 * modes define _POSIX_C_SOURCE (200809L) before the first include so that shm_open is declared.
 *
 * A table is one POSIX shared-memory segment, named after the writer's identity, its effective
 * user id and instance name, and the table's mount path:
 *     "/velaclock." <uid in decimal> "." <instance> "." <mount path>
 * where each '/' of the path is written '.', and a '.' or '%' of the instance or the path "%2e" or
 * "%25" (see kel_flume_segment_name); e.g. "/velaclock.1000.main.ppsWaiter.timestamps", holding
 *     offset 0                      struct kel_flume_header (KEL_FLUME_HEADER_SIZE bytes)
 *     offset KEL_FLUME_HEADER_SIZE  the latest record (record_size bytes, a multiple of 8)
 * Each write replaces the record. The segment outlives its writer; a writer that starts again
 * takes the segment over with a new writer_id and a published count of 0.
 *
 * Writer and readers share no lock. The writer runs a sequence lock over the header and record:
 *   writer:  s = sequence; sequence = s + 1 (relaxed); release fence;
 *            record words and published (relaxed atomic stores); sequence = s + 2 (release)
 *   reader:  s1 = sequence (acquire), retry while odd; copy the words (relaxed atomic loads);
 *            acquire fence; s2 = sequence (relaxed); the copy is whole when s1 == s2
 * so the writer never waits for readers, and a reader retries a bounded number of times rather
 * than return a record that was being overwritten under it. All multi-byte fields are in the
 * host's byte order; a segment is only meant for programs on the same host.
 */
#ifndef VELACLOCK_KEL_FLUME_H
#define VELACLOCK_KEL_FLUME_H

#include <errno.h>
#include <fcntl.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#if !defined(__GNUC__) && !defined(__clang__)
#error "kel_flume.h needs the GCC/Clang __atomic builtins"
#endif

/* "KELFLUME" read as a little-endian 64-bit word. */
#define KEL_FLUME_MAGIC UINT64_C(0x454d554c464c454b)
#define KEL_FLUME_VERSION 1u
#define KEL_FLUME_HEADER_SIZE 128u
#define KEL_FLUME_COLLECTION_SIZE 32u
/* Room for any segment name (NAME_MAX plus the terminating NUL). */
#define KEL_FLUME_NAME_SIZE 256u
/* Enough for a reader to get past any number of back-to-back writes of a small record. */
#define KEL_FLUME_READ_ATTEMPTS 10000u

struct kel_flume_header {
  uint64_t magic;       /* KEL_FLUME_MAGIC once a writer has set the segment up */
  uint32_t version;     /* KEL_FLUME_VERSION */
  uint32_t record_size; /* bytes of the record after the header; a multiple of 8 */
  uint64_t writer_id;   /* new each time a writer (re)initialises the segment; never 0 */
  uint64_t sequence;    /* odd while the writer changes the header or the record */
  uint64_t published;   /* records written by the current writer; 0: none yet */
  char collection[KEL_FLUME_COLLECTION_SIZE];   /* the collection's name, NUL-terminated */
  uint8_t reserved[KEL_FLUME_HEADER_SIZE - 72]; /* zero; keeps the record 64-byte aligned */
};

/*
 * The record of the PPS edge table, mount path "ppsWaiter/timestamps": the latest edge of the
 * pulse-per-second input and when the agent noticed it.
 */
struct vela_pps_edge_timestamps {
  uint32_t reserved;          /* always 0 */
  uint32_t pad;               /* always 0; keeps the timestamps 8-byte aligned */
  uint64_t edge_timestamp_ns; /* UTC ns since the Unix epoch at which the edge occurred */
  uint64_t poll_timestamp_ns; /* UTC ns since the Unix epoch at which the edge was read */
};

#if defined(__cplusplus)
#define KEL_FLUME_STATIC_ASSERT(condition, message) static_assert(condition, message)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define KEL_FLUME_STATIC_ASSERT(condition, message) _Static_assert(condition, message)
#else
/* C99 has no static assertions; an array of negative size stops the build just the same. */
#define KEL_FLUME_CONCAT_(a, b) a##b
#define KEL_FLUME_CONCAT(a, b) KEL_FLUME_CONCAT_(a, b)
#define KEL_FLUME_STATIC_ASSERT(condition, message) \
  typedef char KEL_FLUME_CONCAT(kel_flume_static_assert_, __LINE__)[(condition) ? 1 : -1]
#endif
KEL_FLUME_STATIC_ASSERT(sizeof(struct kel_flume_header) == KEL_FLUME_HEADER_SIZE,
                        "the record starts right after the header");
KEL_FLUME_STATIC_ASSERT(offsetof(struct kel_flume_header, collection) == 40,
                        "the header layout is shared with programs built elsewhere");
KEL_FLUME_STATIC_ASSERT(sizeof(struct vela_pps_edge_timestamps) == 24,
                        "the PPS record layout is shared with programs built elsewhere");

/* Outcome of kel_flume_read. */
enum kel_flume_status {
  KEL_FLUME_OK = 0,          /* the record was copied whole */
  KEL_FLUME_EMPTY = 1,       /* the writer has published nothing yet */
  KEL_FLUME_BUSY = 2,        /* every attempt overlapped a write (or the writer died in one) */
  KEL_FLUME_BAD_SEGMENT = 3, /* not (yet) a table of this record size and version */
};

/* A segment mapped read-only by kel_flume_open. */
struct kel_flume_segment {
  const unsigned char* base; /* NULL when nothing is mapped */
  size_t size;               /* bytes mapped: the segment's size when it was opened */
};

/* What kel_flume_read saw besides the record. */
struct kel_flume_read_info {
  uint64_t writer_id; /* the writer generation the record (or emptiness) belongs to */
  uint64_t published; /* records that generation has written */
};

/*
 * The bytes `c` takes in a segment name: '/' separates and becomes '.', so a '.' or a '%' of the
 * name itself is written "%2e" or "%25"; every other byte is itself. So no two instances and
 * paths share a name ("a.b" and "a/b" do not). Writes them at `at` unless it is NULL.
 */
static inline size_t kel_flume_name_byte(char c, char* at) {
  const char* text = c == '.' ? "%2e" : c == '%' ? "%25" : NULL;
  if (!text) {
    if (at) *at = (char)(c == '/' ? '.' : c);
    return 1;
  }
  if (at) memcpy(at, text, 3);
  return 3;
}

/*
 * Writes the segment name of `path` in the instance `instance` of the user `uid` (the writer's
 * effective user id: velaclockd run by another user is another instance) to `out`,
 * NUL-terminated, when it fits in `out_size` bytes. Returns the name's length as snprintf does; a
 * result >= out_size means the name did not fit and nothing was written. The instance and the
 * path are written as kel_flume_name_byte says.
 */
static inline size_t kel_flume_segment_name(char* out, size_t out_size, uid_t uid,
                                            const char* instance, const char* path) {
  static const char prefix[] = "/velaclock.";
  const size_t prefix_length = sizeof prefix - 1;
  char digits[24]; /* the uid's decimal digits, last first */
  size_t digit_count = 0;
  unsigned long long rest = (unsigned long long)uid;
  size_t length, i;
  char* at;
  do {
    digits[digit_count++] = (char)('0' + (int)(rest % 10));
    rest /= 10;
  } while (rest != 0);
  length = prefix_length + digit_count + 2;
  for (i = 0; instance[i] != '\0'; ++i) length += kel_flume_name_byte(instance[i], NULL);
  for (i = 0; path[i] != '\0'; ++i) length += kel_flume_name_byte(path[i], NULL);
  if (length >= out_size) return length;
  memcpy(out, prefix, prefix_length);
  at = out + prefix_length;
  while (digit_count > 0) *at++ = digits[--digit_count];
  *at++ = '.';
  for (i = 0; instance[i] != '\0'; ++i) at += kel_flume_name_byte(instance[i], at);
  *at++ = '.';
  for (i = 0; path[i] != '\0'; ++i) at += kel_flume_name_byte(path[i], at);
  *at = '\0';
  return length;
}

/*
 * Maps the segment `name` read-only into `segment`. Returns 0, or the errno value of the step
 * that failed (ENOENT: no writer has created it). An empty segment (a writer creating it right
 * now) opens with nothing mapped and reads as a bad segment.
 */
static inline int kel_flume_open(struct kel_flume_segment* segment, const char* name) {
  struct stat status;
  void* base;
  int error;
  const int fd = shm_open(name, O_RDONLY, 0);
  segment->base = NULL;
  segment->size = 0;
  if (fd < 0) return errno;
  if (fstat(fd, &status) != 0) {
    error = errno;
    close(fd);
    return error;
  }
  if (status.st_size > 0) {
    base = mmap(NULL, (size_t)status.st_size, PROT_READ, MAP_SHARED, fd, 0);
    if (base == MAP_FAILED) {
      error = errno;
      close(fd);
      return error;
    }
    segment->base = (const unsigned char*)base;
    segment->size = (size_t)status.st_size;
  }
  /* The mapping keeps the segment; the descriptor is no longer needed. */
  close(fd);
  return 0;
}

/* Unmaps what kel_flume_open mapped; `segment` is left empty and may be closed again. */
static inline void kel_flume_close(struct kel_flume_segment* segment) {
  if (segment->base) munmap((void*)segment->base, segment->size);
  segment->base = NULL;
  segment->size = 0;
}

/* Copies the record words and header fields of one attempt; the caller checks the sequence. */
static inline void kel_flume_copy_(const struct kel_flume_header* header, void* record,
                                   uint32_t record_size, struct kel_flume_header* seen) {
  const uint64_t* words = (const uint64_t*)(const void*)(header + 1);
  unsigned char* out = (unsigned char*)record;
  uint32_t i;
  seen->magic = __atomic_load_n(&header->magic, __ATOMIC_RELAXED);
  seen->version = __atomic_load_n(&header->version, __ATOMIC_RELAXED);
  seen->record_size = __atomic_load_n(&header->record_size, __ATOMIC_RELAXED);
  seen->writer_id = __atomic_load_n(&header->writer_id, __ATOMIC_RELAXED);
  seen->published = __atomic_load_n(&header->published, __ATOMIC_RELAXED);
  for (i = 0; i < record_size / 8; ++i) {
    const uint64_t word = __atomic_load_n(&words[i], __ATOMIC_RELAXED);
    memcpy(out + (size_t)i * 8, &word, 8);
  }
}

/*
 * Copies the latest record of `segment` (record_size bytes, which must match the segment's) to
 * `record` and returns KEL_FLUME_OK; `info` (may be NULL) then tells the writer generation and
 * count. On any other status `record` may hold anything; on KEL_FLUME_EMPTY `info`
 * still names the writer. Never blocks the writer.
 */
static inline enum kel_flume_status kel_flume_read(const struct kel_flume_segment* segment,
                                                   void* record, uint32_t record_size,
                                                   struct kel_flume_read_info* info) {
  const struct kel_flume_header* header =
      (const struct kel_flume_header*)(const void*)segment->base;
  struct kel_flume_header seen;
  unsigned attempt;
  if (!header || record_size % 8 != 0 ||
      segment->size < (size_t)KEL_FLUME_HEADER_SIZE + record_size) {
    return KEL_FLUME_BAD_SEGMENT;
  }
  for (attempt = 0; attempt < KEL_FLUME_READ_ATTEMPTS; ++attempt) {
    const uint64_t before = __atomic_load_n(&header->sequence, __ATOMIC_ACQUIRE);
    if (before & 1) continue;
    kel_flume_copy_(header, record, record_size, &seen);
    __atomic_thread_fence(__ATOMIC_ACQUIRE);
    if (__atomic_load_n(&header->sequence, __ATOMIC_RELAXED) != before) continue;
    if (seen.magic != KEL_FLUME_MAGIC || seen.version != KEL_FLUME_VERSION ||
        seen.record_size != record_size) {
      return KEL_FLUME_BAD_SEGMENT;
    }
    if (info) {
      info->writer_id = seen.writer_id;
      info->published = seen.published;
    }
    return seen.published == 0 ? KEL_FLUME_EMPTY : KEL_FLUME_OK;
  }
  return KEL_FLUME_BUSY;
}

#endif /* VELACLOCK_KEL_FLUME_H */
