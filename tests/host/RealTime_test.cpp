#include <grp.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "host/RealTime.h"

using velaclockd::RealTimeOptions;

// AddressSanitizer (g++ says so one way, clang another).
#if defined(__SANITIZE_ADDRESS__)
#define ADDRESS_SANITIZED 1
#elif defined(__has_feature)
#define ADDRESS_SANITIZED __has_feature(address_sanitizer)
#else
#define ADDRESS_SANITIZED 0
#endif

namespace {

// In a child of the death test: lowers `resource` to `limit` (or keeps it, when it is lower
// already), gives up root, if the test has it (root's capabilities override every limit), and
// exits 2 with the refusal's message on stderr, or 0 when `options` are applied.
[[noreturn]] void applyUnder(int resource, rlim_t limit, const RealTimeOptions& options) {
  rlimit lowered{};
  getrlimit(resource, &lowered);
  lowered.rlim_cur = lowered.rlim_max = std::min(limit, lowered.rlim_max);
  const uid_t nobody = 65534;
  if (setrlimit(resource, &lowered) != 0 ||
      (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setresgid(nobody, nobody, nobody) != 0 ||
                          setresuid(nobody, nobody, nobody) != 0))) {
    std::fprintf(stderr, "cannot lower the limit or give up root\n");
    _exit(3);
  }
  try {
    velaclockd::realTimeIs(options);
  } catch (const velaclockd::RealTimeError& error) {
    std::fprintf(stderr, "%s\n", error.what());
    // Refused, the thread keeps the policy it had.
    _exit(sched_getscheduler(0) == SCHED_OTHER ? 2 : 4);
  }
  _exit(0);
}

}  // namespace

TEST(RealTime, ALimitTooSmallIsRefusedNamingTheLimitAndItsValue) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(applyUnder(RLIMIT_RTPRIO, 3, {.priority = 4}), testing::ExitedWithCode(2),
              "--rt-priority 4: .*RLIMIT_RTPRIO of at least 4 \\(it is [0-3]; LimitRTPRIO=");
#if ADDRESS_SANITIZED  // its mlockall locks nothing and says it succeeded
  EXPECT_EXIT(applyUnder(RLIMIT_MEMLOCK, 4096, {.lockMemory = true}), testing::ExitedWithCode(2),
              "--lock-memory: .*nothing is locked \\(VmLck 0 kB\\)");
#else
  EXPECT_EXIT(applyUnder(RLIMIT_MEMLOCK, 4096, {.lockMemory = true}), testing::ExitedWithCode(2),
              "--lock-memory: .*RLIMIT_MEMLOCK \\(4096 bytes\\) is smaller .*LimitMEMLOCK=");
#endif
}
