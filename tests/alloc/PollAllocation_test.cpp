// The PPS waiter's poll path allocates nothing while traces are off: this binary replaces the
// global operator new to count every allocation the process makes.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "Kel/Trace.h"
#include "Kel/VirtualTime.h"
#include "Pps/Counter/SimPulse.h"
#include "VelaClock/VelaClockAgent.h"
#include "support/DefaultSystem.h"

namespace {
std::atomic<bool> counting{false};
std::atomic<std::size_t> allocations{0};

void* allocate(std::size_t size) {
  if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1);
  if (void* memory = std::malloc(size ? size : 1)) return memory;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) {
  return allocate(size);
}
void* operator new[](std::size_t size) {
  return allocate(size);
}
void operator delete(void* memory) noexcept {
  std::free(memory);
}
void operator delete[](void* memory) noexcept {
  std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
  std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
  std::free(memory);
}

namespace {
// Counts the allocations made while it lives.
class AllocationCount {
 public:
  AllocationCount() {
    allocations = 0;
    counting = true;
  }
  ~AllocationCount() { counting = false; }
  std::size_t made() const { return allocations.load(); }
};
}  // namespace

// The embedded default system on virtual time: its PPS waiter polls a Lumen counter through the
// simulated register window and publishes each edge in shared memory.
TEST(PollAllocation, AnHourOfPollsAllocatesNothingWhileTracesAreOff) {
  Kel::traceFilterIs("");
  Kel::VirtualTime time;
  time.turnCostIs(2.5e-4);
  Pps::Counter::simPulse().reset();
  DefaultSystem system("alloc");
  const auto& agent = system.agent;
  time.runFor(5);  // settled: every buffer of the loop has its size
  const auto waiter = agent->ppsWaiterSm();
  ASSERT_NE(waiter, nullptr);
  ASSERT_TRUE(waiter->initialized());
  const VelaClockAgent::PpsWaiterStats before = waiter->stats();

  auto& pulse = Pps::Counter::simPulse();
  std::size_t made = 0;
  {
    const AllocationCount count;
    time.runFor(3600);
    pulse.pulseStoppedIs(true);  // lost: twice a second
    time.runFor(60);
    pulse.pulseStoppedIs(false);
    time.runFor(60);
    pulse.countOverrideIs(1500);  // saturated, then a false edge
    time.runFor(10);
    pulse.countOverrideIs(std::nullopt);
    time.runFor(60);
    made = count.made();
  }
  EXPECT_EQ(made, 0u);
  const VelaClockAgent::PpsWaiterStats& after = waiter->stats();
  EXPECT_GT(after.polls() - before.polls(), 50000u);
  EXPECT_GT(after.edgesPublished() - before.edgesPublished(), 3600u);
  EXPECT_EQ(after.falseEdgesDiscarded() - before.falseEdgesDiscarded(), 1u);
  EXPECT_GT(agent->ppsWaiterTimestamps()->ppsEdgeTimestamps().edgeTimestamp, 0u);
  {
    // The same polls with their traces on do allocate, and the count sees it.
    const Kel::TraceSink sink = Kel::traceSinkIs([](std::string_view) {});
    Kel::traceFilterIs("VelaClockAgent/8");
    const AllocationCount count;
    time.runFor(2);
    made = count.made();
    Kel::traceFilterIs("");
    Kel::traceSinkIs(sink);
  }
  EXPECT_GT(made, 0u);

  system.agent.reset();
  Pps::Counter::simPulse().reset();
}
