// The timing FPGA of the hardware-in-the-loop tier, played by the host on the file behind the
// guest's ivshmem BAR: it keeps the PPS counter register (milliseconds since the last edge, an edge
// at the top of each UTC second, resting at 1020 when none comes) until SIGTERM. SIGUSR1 stops the
// pulse, SIGUSR2 starts it again (its first edge at the next whole second).
//   hil_fpga FILE COUNTER_OFFSET
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "Pps/Counter/Hal.h"

namespace {
volatile sig_atomic_t pulseStopped = 0;
volatile sig_atomic_t done = 0;

void onSignal(int signal) {
  if (signal == SIGUSR1) pulseStopped = 1;
  if (signal == SIGUSR2) pulseStopped = 0;
  if (signal == SIGTERM || signal == SIGINT) done = 1;
}

std::int64_t utcMicroseconds() {
  using namespace std::chrono;
  return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

// The count at `nowUs` for a pulse whose last edge was at `edgeUs`.
std::uint16_t countSince(std::int64_t edgeUs, std::int64_t nowUs) {
  const std::int64_t ms = (nowUs - edgeUs) / 1000;
  return static_cast<std::uint16_t>(
      ms < Pps::Counter::saturatedCount ? ms : Pps::Counter::saturatedCount);
}
}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: hil_fpga FILE COUNTER_OFFSET\n");
    return 2;
  }
  const int fd = open(argv[1], O_RDWR | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || fstat(fd, &st) < 0) {
    std::perror(argv[1]);
    return 1;
  }
  const std::size_t offset = std::strtoul(argv[2], nullptr, 0);
  void* map = mmap(nullptr, st.st_size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (map == MAP_FAILED || offset + 2 > std::size_t(st.st_size) || offset % 2) {
    std::fprintf(stderr, "hil_fpga: cannot map the counter at %s of %s\n", argv[2], argv[1]);
    return 1;
  }
  for (const int signal : {SIGUSR1, SIGUSR2, SIGTERM, SIGINT}) ::signal(signal, onSignal);
  // The counter is one aligned 16-bit register: stored whole, as the hardware updates it.
  auto* counter = reinterpret_cast<std::atomic<std::uint16_t>*>(static_cast<char*>(map) + offset);
  std::int64_t lastEdgeUs = utcMicroseconds() / 1000000 * 1000000;
  std::int64_t restartUs = 0;  // no edge before the pulse was last started again
  bool stopped = false;
  while (!done) {
    const std::int64_t now = utcMicroseconds();
    const std::int64_t wholeSecond = now / 1000000 * 1000000;
    if (stopped && !pulseStopped) restartUs = now;
    stopped = pulseStopped;
    if (!stopped && wholeSecond > lastEdgeUs && wholeSecond >= restartUs) lastEdgeUs = wholeSecond;
    counter->store(countSince(lastEdgeUs, now), std::memory_order_relaxed);
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return 0;
}
