#pragma once

#include "Kel/Time.h"

namespace Kel {

// Runs the process's event loop on virtual time, for tests: installs a VirtualTimeSource for its
// lifetime and moves it from one wake-up to the next without sleeping.
class VirtualTime {
 public:
  explicit VirtualTime(Seconds monotonicStart = 1000.0, Seconds utcStart = 1.8e9);
  ~VirtualTime();
  VirtualTime(const VirtualTime&) = delete;
  VirtualTime& operator=(const VirtualTime&) = delete;

  VirtualTimeSource& source() { return source_; }
  Seconds now() const { return source_.monotonic(); }
  // Virtual time each loop turn takes; with 0, a handler that keeps re-arming itself for "now"
  // never lets time move, and settle() reports it.
  void turnCostIs(Seconds cost) { turnCost_ = cost; }

  // Runs turns at the current time until nothing is due.
  void settle();
  // Runs every wake-up up to and including `t`, each at its own time, and ends at `t`.
  void runUntil(Seconds t);
  void runFor(Seconds duration) { runUntil(now() + duration); }
  // Moves to the next wake-up and runs it; false when none is armed.
  bool advanceToNextWakeUp();

 private:
  void turn();

  VirtualTimeSource source_;
  TimeSource* previous_;
  Seconds turnCost_ = 0;
};

}  // namespace Kel
