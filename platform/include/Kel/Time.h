#pragma once

#include <limits>

namespace Kel {

// A time or duration in seconds. Activity-clock times are monotonic; UTC times count from the
// Unix epoch.
using Seconds = double;

inline constexpr Seconds infiniteTime = std::numeric_limits<Seconds>::infinity();

// Where the process reads time. One source serves both clocks so that tests can replace it.
class TimeSource {
 public:
  virtual ~TimeSource() = default;
  virtual Seconds monotonic() const = 0;
  virtual Seconds utc() const = 0;
};

// The system clocks: CLOCK_MONOTONIC and CLOCK_REALTIME.
class RealTimeSource final : public TimeSource {
 public:
  Seconds monotonic() const override;
  Seconds utc() const override;
};

// Time that moves only when told to. The wall clock follows the monotonic clock at a fixed offset,
// which a test can step; it can also be frozen while the monotonic clock goes on.
class VirtualTimeSource final : public TimeSource {
 public:
  explicit VirtualTimeSource(Seconds monotonicStart = 1000.0, Seconds utcStart = 1.8e9);
  Seconds monotonic() const override { return monotonic_; }
  Seconds utc() const override { return frozen_ ? frozenUtc_ : monotonic_ + utcOffset_; }

  // Moves the monotonic clock forward to `t` (never backward); the wall clock follows.
  void advanceTo(Seconds t);
  void advanceBy(Seconds delta) { advanceTo(monotonic_ + delta); }
  // Steps the wall clock by `delta` without moving the monotonic clock.
  void utcStepBy(Seconds delta) { utcOffset_ += delta; }
  void utcFrozenIs(bool frozen);

 private:
  Seconds monotonic_;
  Seconds utcOffset_;
  bool frozen_ = false;
  Seconds frozenUtc_ = 0;
};

// Installs `source` as the process's time source (null: the system clocks) and returns the one it
// replaces. The caller keeps `source` alive while it is installed.
TimeSource* timeSourceIs(TimeSource* source);

namespace System {
// The activity clock: monotonic seconds.
Seconds currentTime();
// Wall-clock UTC seconds since the Unix epoch.
Seconds currentTimeUtc();
}  // namespace System

}  // namespace Kel
