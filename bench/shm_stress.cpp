// Reliability check of the shared-memory PPS edge record: a child process publishes records as
// fast as it can while this process reads them through the public C reader, and every record read
// must be whole. Usage: shm_stress [READS]  (default 10 000 000). Exits 1 on any torn record.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "KelSharedMem/Segment.h"
#include "velaclock/kel_flume.h"

int main(int argc, char** argv) {
  const unsigned long long reads = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 10000000ULL;
  // Named as a daemon's PPS table is, in an instance of its own.
  char name[KEL_FLUME_NAME_SIZE];
  const std::string instance = "stress-" + std::to_string(getpid());
  kel_flume_segment_name(name, sizeof name, geteuid(), instance.c_str(), "ppsWaiter/timestamps");
  std::string error;
  auto writer = KelSharedMem::Segment::open(name, "ppsEdgeTimestamps",
                                            sizeof(vela_pps_edge_timestamps), &error);
  if (!writer) {
    std::fprintf(stderr, "shm_stress: %s\n", error.c_str());
    return 2;
  }
  // Every field follows from one counter, so a record mixed from two writes shows.
  const auto record = [](std::uint64_t n) { return vela_pps_edge_timestamps{0, 0, n, n * 3 + 1}; };
  const vela_pps_edge_timestamps first = record(1);
  writer->publish(&first);
  const pid_t child = fork();
  if (child == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    for (std::uint64_t n = 2;; ++n) {
      const vela_pps_edge_timestamps next = record(n);
      writer->publish(&next);
    }
  }
  kel_flume_segment segment{};
  kel_flume_open(&segment, name);
  unsigned long long ok = 0, busy = 0, torn = 0;
  for (unsigned long long i = 0; i < reads; ++i) {
    vela_pps_edge_timestamps seen{};
    const auto status = kel_flume_read(&segment, &seen, sizeof seen, nullptr);
    busy += status == KEL_FLUME_BUSY;
    if (status != KEL_FLUME_OK) continue;
    ++ok;
    torn += seen.poll_timestamp_ns != seen.edge_timestamp_ns * 3 + 1 || seen.reserved != 0;
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  kel_flume_close(&segment);
  KelSharedMem::Segment::unlink(name, &error);
  std::printf("%llu reads: %llu whole, %llu busy (retries exhausted), %llu torn\n", reads, ok, busy,
              torn);
  return torn == 0 ? 0 : 1;
}
