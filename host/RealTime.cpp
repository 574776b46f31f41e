#include "host/RealTime.h"

#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/resource.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>

#include <fmt/format.h>

namespace velaclockd {

namespace {

std::string limitText(int resource) {
  rlimit limit{};
  if (getrlimit(resource, &limit) != 0) return "unknown";
  return limit.rlim_cur == RLIM_INFINITY ? "unlimited" : std::to_string(limit.rlim_cur);
}

// Why sched_setscheduler failed with `error`, and what to change.
std::string schedulingRefusal(int priority, int error) {
  const std::string why =
      error == EPERM
          ? fmt::format(
                "not permitted: it needs CAP_SYS_NICE or RLIMIT_RTPRIO of at least {} (it is {}; "
                "LimitRTPRIO= in a systemd unit, `ulimit -r` in a shell), and a control group "
                "that grants real-time time",
                priority, limitText(RLIMIT_RTPRIO))
          : std::strerror(error);
  return fmt::format("--rt-priority {}: the event thread cannot run at SCHED_FIFO priority {}: {}",
                     priority, priority, why);
}

// Why mlockall failed with `error`, and what to change.
std::string lockRefusal(int error) {
  const std::string limit = limitText(RLIMIT_MEMLOCK);
  const std::string where = "LimitMEMLOCK= in a systemd unit, `ulimit -l` in a shell";
  std::string why;
  if (error == EPERM) {
    why = fmt::format("not permitted: it needs CAP_IPC_LOCK or RLIMIT_MEMLOCK above 0 ({})", where);
  } else if (error == ENOMEM) {
    why = fmt::format("RLIMIT_MEMLOCK ({} bytes) is smaller than the daemon's memory ({})", limit,
                      where);
  } else {
    why = std::strerror(error);
  }
  return "--lock-memory: cannot lock the daemon's memory: " + why;
}

std::string policyName(int policy) {
  switch (policy) {
    case SCHED_OTHER:
      return "SCHED_OTHER";
    case SCHED_FIFO:
      return "SCHED_FIFO";
    case SCHED_RR:
      return "SCHED_RR";
    case SCHED_BATCH:
      return "SCHED_BATCH";
    case SCHED_IDLE:
      return "SCHED_IDLE";
    default:
      return "policy " + std::to_string(policy);
  }
}

// The VmLck line of /proc/self/status, in KiB.
std::optional<std::uint64_t> lockedKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmLck:", 0) != 0) continue;
    const auto digits = line.find_first_not_of(" \t", 6);
    std::uint64_t kib = 0;
    if (digits == std::string::npos ||
        std::from_chars(line.data() + digits, line.data() + line.size(), kib).ec != std::errc()) {
      return std::nullopt;
    }
    return kib;
  }
  return std::nullopt;
}

}  // namespace

void realTimeIs(const RealTimeOptions& options) {
  if (options.lockMemory) {
    if (mlockall(MCL_CURRENT | MCL_FUTURE) != 0) throw RealTimeError(lockRefusal(errno));
    // AddressSanitizer's mlockall returns 0 and locks nothing. Going on would run unlocked while
    // `show pps` says the memory is locked.
    if (lockedKiB() == 0U) {
      throw RealTimeError(
          "--lock-memory: cannot lock the daemon's memory: mlockall succeeded but nothing is "
          "locked (VmLck 0 kB), as in a sanitizer build");
    }
  }
  if (options.priority == 0) return;
  sched_param param{};
  param.sched_priority = options.priority;
  if (const int error = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param); error != 0) {
    if (options.lockMemory) munlockall();
    throw RealTimeError(schedulingRefusal(options.priority, error));
  }
}

SchedulingInForce schedulingInForce() {
  int policy = SCHED_OTHER;
  sched_param param{};
  pthread_getschedparam(pthread_self(), &policy, &param);
  return {policyName(policy), param.sched_priority, lockedKiB()};
}

}  // namespace velaclockd
