#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "Corral/EntityManager.h"
#include "Kel/Trace.h"
#include "Kel/TypeInfo.h"
#include "KelFlume/MountInfo.h"
#include "KelSharedMem/EntityManager.h"
#include "KelSharedMem/Segment.h"
#include "KelSharedMem/Table.h"
#include "support/Descriptors.h"
#include "velaclock/kel_flume.h"

namespace SharedMemTest {

// Every field follows from one counter, so a record mixed from two writes shows. 128 bytes long,
// so that a reader racing the writer overlaps its writes often.
struct Counter {
  std::uint64_t a, b, c;
  std::array<std::uint64_t, 13> rest;
  static Counter of(std::uint64_t n) {
    Counter counter{n, ~n, n * 7, {}};
    counter.rest.fill(n);
    return counter;
  }
  bool whole() const {
    return b == ~a && c == a * 7 && std::ranges::count(rest, a) == std::ssize(rest);
  }
};

#define SHAREDMEM_TEST_NO_MEMBERS(attribute, collection, reference)
class CounterTable : public KelSharedMem::Table {
  KEL_ENTITY(SharedMemTest, CounterTable, KelSharedMem::Table, SHAREDMEM_TEST_NO_MEMBERS)

 public:
  std::size_t recordSize() const override { return sizeof(Counter); }
  void counterIs(std::uint64_t n) {
    const Counter record = Counter::of(n);
    publish(&record);
  }
};

class NotATable : public Kel::Entity {
  KEL_ENTITY(SharedMemTest, NotATable, Kel::Entity, SHAREDMEM_TEST_NO_MEMBERS)
};

[[maybe_unused]] const bool registered =
    (Kel::kelModuleIs({"tests/SharedMem", {&CounterTable::typeInfo(), &NotATable::typeInfo()}}),
     true);

std::string uniqueName(const std::string& test) {
  return "/velaclock-test." + test + "." + std::to_string(::getpid());
}

std::unique_ptr<KelSharedMem::Segment> openCounterSegment(const std::string& name) {
  std::string error;
  auto segment = KelSharedMem::Segment::open(name, "counters", sizeof(Counter), &error);
  EXPECT_TRUE(segment) << error;
  return segment;
}

void publishCounter(KelSharedMem::Segment& segment, std::uint64_t n) {
  const Counter record = Counter::of(n);
  segment.publish(&record);
}

kel_flume_status readCounter(const std::string& name, Counter* counter, kel_flume_read_info* info) {
  kel_flume_segment segment;
  EXPECT_EQ(kel_flume_open(&segment, name.c_str()), 0) << name;
  const kel_flume_status status = kel_flume_read(&segment, counter, sizeof(Counter), info);
  kel_flume_close(&segment);
  return status;
}

void removeSegment(const std::string& name) {
  std::string error;
  EXPECT_TRUE(KelSharedMem::Segment::unlink(name, &error)) << error;
}

TEST(SharedMemReader, NamesSegmentsAfterUserInstanceAndPath) {
  char name[KEL_FLUME_NAME_SIZE];
  const std::string expected = "/velaclock.1000.main.ppsWaiter.timestamps";
  EXPECT_EQ(kel_flume_segment_name(name, sizeof name, 1000, "main", "ppsWaiter/timestamps"),
            expected.size());
  EXPECT_EQ(std::string(name), expected);
  kel_flume_segment_name(name, sizeof name, 0, "a/b", "/x/y/");
  EXPECT_EQ(std::string(name), "/velaclock.0.a.b..x.y.");
  kel_flume_segment_name(name, sizeof name, 4294967295U, "i", "p");
  EXPECT_EQ(std::string(name), "/velaclock.4294967295.i.p");
  // A dot of a name is not a separator: no two instances and paths share a segment.
  kel_flume_segment_name(name, sizeof name, 7, "a.b", "c.d/e%");
  EXPECT_EQ(std::string(name), "/velaclock.7.a%2eb.c%2ed.e%25");
  std::set<std::string> names;
  for (const auto& [instance, path] : std::vector<std::pair<const char*, const char*>>{
           {"a.b", "c"}, {"a", "b/c"}, {"a", "b.c"}, {"a%2eb", "c"}}) {
    kel_flume_segment_name(name, sizeof name, 7, instance, path);
    EXPECT_TRUE(names.insert(name).second) << name;
  }

  char small[19] = "unused";
  EXPECT_EQ(kel_flume_segment_name(small, sizeof small, 1000, "main", "p"), 22U);
  EXPECT_EQ(std::string(small), "unused") << "a name that does not fit must not be written";

  KelSharedMem::EntityManager tables("i/1", 1234);
  EXPECT_EQ(tables.segmentName("hw/pps"), "/velaclock.1234.i.1.hw.pps");
  EXPECT_EQ(KelSharedMem::EntityManager("i").uid(), ::geteuid());
}

TEST(SharedMemSegment, AWriterRefusesSegmentsThatAreNotItsOwn) {
  const std::string target = uniqueName("target"), link = uniqueName("link");
  auto writer = openCounterSegment(target);
  ASSERT_TRUE(writer);
  const std::string shm = "/dev/shm";
  ASSERT_EQ(::symlink((shm + target).c_str(), (shm + link).c_str()), 0);
  std::string error;
  EXPECT_FALSE(KelSharedMem::Segment::open(link, "counters", sizeof(Counter), &error));
  EXPECT_NE(error.find("shm_open failed"), std::string::npos) << error;
  ::unlink((shm + link).c_str());

  if (::geteuid() == 0) {  // only root can give a segment away
    ASSERT_EQ(::chown((shm + target).c_str(), 65534, 65534), 0);
    EXPECT_FALSE(KelSharedMem::Segment::open(target, "counters", sizeof(Counter), &error));
    EXPECT_NE(error.find("owned by user 65534"), std::string::npos) << error;
  }
  writer.reset();
  removeSegment(target);
}

TEST(SharedMemSegment, ReadersSeeWritersAndRejectWhatIsNotATable) {
  const std::string name = uniqueName("lifecycle");
  Counter counter{};
  kel_flume_read_info info{};
  kel_flume_segment missing;
  EXPECT_EQ(kel_flume_open(&missing, name.c_str()), ENOENT);

  const mode_t umaskBefore = ::umask(077);
  auto writer = openCounterSegment(name);
  ::umask(umaskBefore);
  ASSERT_TRUE(writer);
  kel_flume_segment mapped;
  ASSERT_EQ(kel_flume_open(&mapped, name.c_str()), 0);
  struct stat status {};
  const int fd = ::shm_open(name.c_str(), O_RDWR, 0);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::fstat(fd, &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0644U) << "readers of other users must be let in";

  EXPECT_EQ(kel_flume_read(&mapped, &counter, sizeof counter, &info), KEL_FLUME_EMPTY);
  EXPECT_EQ(info.writer_id, writer->writerId());
  publishCounter(*writer, 5);
  publishCounter(*writer, 6);
  ASSERT_EQ(kel_flume_read(&mapped, &counter, sizeof counter, &info), KEL_FLUME_OK);
  EXPECT_EQ(counter.a, 6U);
  EXPECT_TRUE(counter.whole());
  EXPECT_EQ(info.published, 2U);
  EXPECT_EQ(kel_flume_read(&mapped, &counter, 16, &info), KEL_FLUME_BAD_SEGMENT);

  // A restarted writer takes the segment over; a reader that kept its mapping notices.
  const std::uint64_t firstWriter = writer->writerId();
  const auto descriptors = openDescriptors();
  writer = openCounterSegment(name);
  EXPECT_EQ(openDescriptors(), descriptors) << "the writer replaced keeps its descriptor";
  EXPECT_EQ(kel_flume_read(&mapped, &counter, sizeof counter, &info), KEL_FLUME_EMPTY);
  EXPECT_NE(info.writer_id, firstWriter);
  EXPECT_EQ(info.writer_id, writer->writerId());
  publishCounter(*writer, 1);
  EXPECT_EQ(kel_flume_read(&mapped, &counter, sizeof counter, &info), KEL_FLUME_OK);
  EXPECT_EQ(info.published, 1U);

  void* raw = ::mmap(nullptr, KEL_FLUME_HEADER_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ASSERT_NE(raw, MAP_FAILED);
  auto* header = static_cast<kel_flume_header*>(raw);
  const std::uint64_t sequence = header->sequence;
  publishCounter(*writer, 2);  // as the public header tells readers: odd while writing, then + 2
  EXPECT_EQ(header->sequence, sequence + 2);
  header->magic ^= 1;
  EXPECT_EQ(kel_flume_read(&mapped, &counter, sizeof counter, &info), KEL_FLUME_BAD_SEGMENT);
  ::munmap(raw, KEL_FLUME_HEADER_SIZE);
  kel_flume_close(&mapped);

  // A short segment, as another program or an interrupted creation could leave behind.
  ASSERT_EQ(::ftruncate(fd, 16), 0);
  ::close(fd);
  EXPECT_EQ(readCounter(name, &counter, &info), KEL_FLUME_BAD_SEGMENT);
  writer.reset();
  removeSegment(name);
}

TEST(SharedMemSegment, RefusesRecordsAndNamesItCannotServe) {
  const std::string name = uniqueName("refused");
  std::string error;
  EXPECT_FALSE(KelSharedMem::Segment::open(name, "c", 12, &error));
  EXPECT_NE(error.find("record size 12"), std::string::npos) << error;
  EXPECT_FALSE(KelSharedMem::Segment::open(name, std::string(32, 'c'), 8, &error));
  EXPECT_NE(error.find("too long"), std::string::npos) << error;
  EXPECT_FALSE(KelSharedMem::Segment::open("/a/b", "c", 8, &error));
  EXPECT_NE(error.find("/a/b: shm_open failed"), std::string::npos) << error;
  EXPECT_FALSE(KelSharedMem::Segment::unlink(name, &error)) << "nothing may have been created";
}

// The child writes as fast as it can while the parent reads; no read may mix two records.
TEST(SharedMemSegment, ReadersNeverSeeATornRecordOfAnotherProcess) {
  const std::string name = uniqueName("torn");
  auto writer = openCounterSegment(name);
  ASSERT_TRUE(writer);
  // Nothing may fail between fork and kill, or the child would outlive the test.
  kel_flume_segment segment;
  ASSERT_EQ(kel_flume_open(&segment, name.c_str()), 0);
  int started[2];
  ASSERT_EQ(::pipe(started), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    publishCounter(*writer, 1);
    // Reads before the first record would prove nothing; the parent waits for this byte.
    [[maybe_unused]] const ssize_t told = ::write(started[1], "w", 1);
    for (std::uint64_t n = 2; n <= 4'000'000'000ULL; ++n) publishCounter(*writer, n);
    ::_exit(0);
  }
  ::close(started[1]);
  char byte = 0;
  EXPECT_EQ(::read(started[0], &byte, 1), 1) << "the writer died before its first record";
  ::close(started[0]);
  std::uint64_t last = 0, ok = 0, newer = 0, busy = 0, torn = 0, backward = 0;
  // However the two are scheduled, reading goes on until the writer was seen at work often.
  for (int i = 0; i < 5'000'000 && newer < 20'000; ++i) {
    Counter counter{};
    const kel_flume_status status = kel_flume_read(&segment, &counter, sizeof counter, nullptr);
    if (status == KEL_FLUME_BUSY) ++busy;
    if (status != KEL_FLUME_OK) continue;
    ++ok;
    torn += !counter.whole();
    newer += counter.a > last;
    backward += counter.a < last;
    last = counter.a;
  }
  kel_flume_close(&segment);
  ::kill(child, SIGKILL);
  int childStatus = 0;
  EXPECT_EQ(::waitpid(child, &childStatus, 0), child);
  EXPECT_TRUE(WIFSIGNALED(childStatus)) << "the writer must have been writing throughout";
  EXPECT_GT(ok, 0U);
  EXPECT_EQ(torn, 0U);
  EXPECT_EQ(backward, 0U);
  RecordProperty("busy", std::to_string(busy));
  writer.reset();
  removeSegment(name);
}

TEST(SharedMemEntityManager, MountsOnlyTablesItCanServe) {
  const auto database = Kel::makePtr<Corral::EntityManager>("test" + std::to_string(::getpid()),
                                                            std::filesystem::path());
  const Kel::Ptr<KelSharedMem::EntityManager> tables = KelSharedMem::getEntityManager(database);
  ASSERT_TRUE(tables);
  EXPECT_EQ(KelSharedMem::getEntityManager(database), tables);
  EXPECT_EQ(database->service("KelSharedMem"), tables);

  std::vector<std::string> traced;
  // A copy: the filter changes below. NOLINTNEXTLINE(performance-unnecessary-copy-initialization)
  const Kel::String filterBefore = Kel::traceFilter();
  Kel::traceFilterIs("KelSharedMem/0");
  const Kel::TraceSink sinkBefore =
      Kel::traceSinkIs([&](std::string_view line) { traced.emplace_back(line); });

  KelFlume::MountInfo good(KelFlume::latestRecord_);
  good.collectionInfoIs({"counters", 1, false});
  KelFlume::MountInfo twoSlots(KelFlume::latestRecord_);
  twoSlots.collectionInfoIs({"counters", 2, false});
  KelFlume::MountInfo history(KelFlume::latestRecord_);
  history.collectionInfoIs({"counters", 1, true});
  const KelFlume::MountInfo noCollection(KelFlume::latestRecord_);
  const struct {
    const char* type;
    const KelFlume::MountInfo& info;
    const char* reason;
  } refused[] = {
      {"SharedMemTest::Missing", good, "unknown type"},
      {"SharedMemTest::NotATable", good, "not a shared-memory table"},
      {"KelSharedMem::Table", good, "cannot be created generically"},
      {"SharedMemTest::CounterTable", twoSlots, "2 record slots"},
      {"SharedMemTest::CounterTable", history, "history"},
      {"SharedMemTest::CounterTable", noCollection, "no collection"},
  };
  for (const auto& mount : refused) {
    EXPECT_FALSE(tables->doMount("test/counter", mount.type, mount.info)) << mount.type;
    EXPECT_NE(tables->error().find(mount.reason), std::string::npos) << tables->error();
    EXPECT_FALSE(tables->getEntity("test/counter"));
  }
  Kel::traceSinkIs(sinkBefore);
  Kel::traceFilterIs(filterBefore);
  EXPECT_EQ(traced.size(), std::size(refused));

  // A segment that cannot be made (a link stands where it would be) leaves the path unmounted.
  const std::string blocked = "/dev/shm" + tables->segmentName("test/blocked");
  ASSERT_EQ(::symlink("/dev/null", blocked.c_str()), 0);
  EXPECT_FALSE(tables->doMount("test/blocked", "SharedMemTest::CounterTable", good));
  EXPECT_NE(tables->error().find("shm_open failed"), std::string::npos) << tables->error();
  EXPECT_FALSE(tables->getEntity("test/blocked"));
  ::unlink(blocked.c_str());

  ASSERT_TRUE(tables->doMount("test/counter", "SharedMemTest::CounterTable", good))
      << tables->error();
  const auto first = Kel::dynamicPtrCast<CounterTable>(tables->getEntity("test/counter"));
  ASSERT_TRUE(first);
  EXPECT_EQ(first->name(), "test/counter");
  const std::string name = tables->segmentName("test/counter");
  EXPECT_EQ(first->segmentName(), name);
  first->counterIs(42);
  Counter counter{};
  kel_flume_read_info info{};
  ASSERT_EQ(readCounter(name, &counter, &info), KEL_FLUME_OK);
  EXPECT_EQ(counter.a, 42U);
  EXPECT_TRUE(counter.whole());

  // Mounting again stands for a restarted writer: a fresh table, and the old one goes quiet.
  ASSERT_TRUE(tables->doMount("test/counter", "SharedMemTest::CounterTable", good));
  const auto second = Kel::dynamicPtrCast<CounterTable>(tables->getEntity("test/counter"));
  ASSERT_TRUE(second);
  EXPECT_NE(second, first);
  EXPECT_FALSE(first->isAttached());
  first->counterIs(43);
  const std::uint64_t firstWriter = info.writer_id;
  EXPECT_EQ(readCounter(name, &counter, &info), KEL_FLUME_EMPTY);
  EXPECT_NE(info.writer_id, firstWriter);
  second->counterIs(44);
  ASSERT_EQ(readCounter(name, &counter, &info), KEL_FLUME_OK);
  EXPECT_EQ(counter.a, 44U);
  removeSegment(name);
}

}  // namespace SharedMemTest
