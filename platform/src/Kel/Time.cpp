#include "Kel/Time.h"

#include <time.h>

namespace Kel {

namespace {
Seconds readClock(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return static_cast<Seconds>(ts.tv_sec) + static_cast<Seconds>(ts.tv_nsec) * 1e-9;
}

RealTimeSource realTimeSource;
TimeSource* currentSource = &realTimeSource;
}  // namespace

Seconds RealTimeSource::monotonic() const {
  return readClock(CLOCK_MONOTONIC);
}
Seconds RealTimeSource::utc() const {
  return readClock(CLOCK_REALTIME);
}

VirtualTimeSource::VirtualTimeSource(Seconds monotonicStart, Seconds utcStart)
    : monotonic_(monotonicStart), utcOffset_(utcStart - monotonicStart) {}

void VirtualTimeSource::advanceTo(Seconds t) {
  if (t > monotonic_) monotonic_ = t;
}

void VirtualTimeSource::utcFrozenIs(bool frozen) {
  if (frozen && !frozen_) frozenUtc_ = utc();
  frozen_ = frozen;
}

TimeSource* timeSourceIs(TimeSource* source) {
  TimeSource* previous = currentSource;
  currentSource = source ? source : &realTimeSource;
  return previous == &realTimeSource ? nullptr : previous;
}

namespace System {
Seconds currentTime() {
  return currentSource->monotonic();
}
Seconds currentTimeUtc() {
  return currentSource->utc();
}
}  // namespace System

}  // namespace Kel
