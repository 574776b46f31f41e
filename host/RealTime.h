#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace velaclockd {

// How the event thread is to be scheduled: the PPS waiter spins in a window of a few ms around
// each edge, and a busy machine preempts it there unless it runs at a real-time priority.
struct RealTimeOptions {
  int priority = 0;         // SCHED_FIFO priority of the event thread; 0 keeps the normal policy
  bool lockMemory = false;  // mlockall of current and future pages: no page fault in the spin
};

// The real-time scheduling or memory lock asked for cannot be had; the message names the cause
// (privilege, the limit and its value) and where to change it.
class RealTimeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Applies `options` to the calling thread (the event thread) and the process. Throws
// RealTimeError and leaves the policy as it was when either cannot be had: the daemon never goes
// on at a priority other than the one asked for.
void realTimeIs(const RealTimeOptions& options);

// What is in force now for the calling thread and the process, as the operator reads it.
struct SchedulingInForce {
  std::string policy;  // "SCHED_OTHER", "SCHED_FIFO", "SCHED_RR", ...
  int priority = 0;
  std::optional<std::uint64_t> lockedKiB;  // VmLck of the process, when it can be read
};
SchedulingInForce schedulingInForce();

}  // namespace velaclockd
