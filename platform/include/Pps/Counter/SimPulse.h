#pragma once

#include <cstdint>
#include <optional>

#include "Fru/SimRegisterBank.h"
#include "Kel/Time.h"

namespace Pps::Counter {

// The simulated PPS signal of the system: an edge at every whole UTC second of the time source,
// and the millisecond counter that follows it. Tests and the host break it on purpose.
class SimPulse {
 public:
  // Milliseconds since the last edge at UTC time `utc`, resting at 1020.
  std::uint16_t count(Kel::Seconds utc) const;
  std::uint16_t count() const { return count(Kel::System::currentTimeUtc()); }

  // Stops the pulse (no edge after the last one) or starts it again: its first edge comes at the
  // next whole second, and until then the count goes on from the last edge before the stop.
  void pulseStoppedIs(bool stopped);
  bool pulseStopped() const { return stopped_; }
  // One spurious edge now: the count restarts from 0 until the next genuine edge.
  void glitchIs();
  // Makes the counter read `count` (past 1020, say) until cleared with nullopt.
  void countOverrideIs(std::optional<std::uint16_t> count) { override_ = count; }
  const std::optional<std::uint16_t>& countOverride() const { return override_; }
  // Back to a running, unbroken pulse.
  void reset();

 private:
  // The last edge of the pulse itself (no glitch) at UTC `nowUs`, in whole microseconds.
  std::int64_t lastEdgeUs(std::int64_t nowUs) const;

  bool stopped_ = false;
  std::int64_t lastEdgeBeforeStopUs_ = 0;  // UTC, whole microseconds
  std::int64_t restartUs_ = INT64_MIN;     // when the pulse was last started again
  std::optional<std::int64_t> glitchUs_;
  std::optional<std::uint16_t> override_;
};

// The one simulated pulse of the process.
SimPulse& simPulse();

// The counter register of a simulated PPS counter device: answers 16-bit reads with the count of
// the process's simulated pulse.
class SimCounterDevice : public Fru::RegisterDevice {
 public:
  std::uint16_t read16() override { return simPulse().count(); }
};

}  // namespace Pps::Counter
