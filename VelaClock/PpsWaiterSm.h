#pragma once

#include <cstdint>

#include "Kel/AttributeReactor.h"
#include "Kel/ClockReactor.h"
#include "Kel/ReactorSlot.h"
#include "Kel/TypeBuilder.h"
#include "Pps/Counter/Hal.h"
#include "VelaClock/PpsWaiterStats.h"
#include "VelaClockAgent/PpsWaiterTypes.h"

namespace VelaClockAgent {

// The PPS waiter. It polls the PPS counter through its HAL on an adaptive timer, publishes the
// UTC time of each genuine PPS edge in the shared-memory table, and tells in `ppsUp` whether
// edges arrive. Its states:
//   not initialized      no valid HAL (no counter, or one that cannot be reached): a poll does
//                        nothing and arms nothing; ppsUp is false.
//   polling              a valid HAL and a poll period other than 0 and +infinity: the first
//                        poll comes after the period, then each poll arms the next.
//   initialized, off     the period is 0 or +infinity: no poll comes; ppsUp is false.
class PpsWaiterSm : public Kel::StateMachine {
 public:
  class KelConfig;
  class KelPpsPollClock;

  // Allocates and constructs a waiter, then switches its notification on.
  static Kel::Ptr<PpsWaiterSm> PpsWaiterSmIs(const Kel::Ptr<const PpsWaiterConfig>& config,
                                             const Kel::Ptr<PpsWaiterStatus>& status);
  // Watches `config` (when not null), binds the poll timer to the activity clock and runs
  // handleInitialized. A null config or status never crashes: what needs it does nothing.
  PpsWaiterSm(const Kel::Ptr<const PpsWaiterConfig>& config,
              const Kel::Ptr<PpsWaiterStatus>& status);
  const Kel::TypeInfo& fwkType() const override;

  // (Re)builds the HAL and, when it is valid, starts polling. ppsUp drops at once.
  void handleInitialized();
  // Builds the HAL of the configured counter by its type; true when the HAL held is valid. An
  // unknown counter type builds nothing and keeps a HAL built earlier.
  bool tryMakeHal();
  // Arms the first poll after the configured period, or stops polling (period 0 or +infinity).
  void handlePpsPollPeriod();
  // One poll: reads the count, publishes a genuine edge, arms the next poll.
  void handlePpsPollClock();
  // Binds the poll timer to `clock`; binding it to a different clock runs one poll at once.
  void ppsPollClockIs(const Kel::Ptr<const Kel::Clock>& clock);
  // Unbinds the poll timer; returns the clock it watched, or null.
  Kel::Ptr<const Kel::Clock> ppsPollClockDel();

  Kel::Ptr<const PpsWaiterConfig> config() const;
  const Kel::Ptr<PpsWaiterStatus>& status() const { return status_; }
  const Kel::Ptr<Pps::Counter::Hal>& hal() const { return hal_; }
  // The clock the poll timer is bound to, or null.
  Kel::Ptr<const Kel::Clock> ppsPollClock() const;
  // When the next poll is due on the activity clock (s), or +infinity.
  Kel::Seconds nextPollTime() const;
  std::uint32_t lastTimeSinceEdge() const { return lastTimeSinceEdge_; }
  void lastTimeSinceEdgeIs(std::uint32_t ms) { lastTimeSinceEdge_ = ms; }
  Kel::Seconds floatingPpsPollPeriod() const { return floatingPpsPollPeriod_; }
  void floatingPpsPollPeriodIs(Kel::Seconds delay) { floatingPpsPollPeriod_ = delay; }
  const Kel::Ptr<PpsWaiterTimestamps>& ppsWaiterTimestamps() const { return ppsWaiterTimestamps_; }
  // Where genuine edges are published; set by the owner after construction.
  void ppsWaiterTimestampsIs(const Kel::Ptr<PpsWaiterTimestamps>& table) {
    ppsWaiterTimestamps_ = table;
  }
  bool initialized() const { return initialized_; }
  void initializedIs(bool initialized) { initialized_ = initialized; }
  bool counterOverSaturation() const { return counterOverSaturation_; }
  void counterOverSaturationIs(bool over) { counterOverSaturation_ = over; }
  const PpsWaiterStats& stats() const { return stats_; }

  static const Kel::TypeInfo& typeInfo();
  static void kelDescribe(Kel::TypeBuilder<PpsWaiterSm>& builder);

 private:
  static void describeStats(Kel::TypeBuilder<PpsWaiterSm>& builder);
  void ppsUpIs(bool up);
  void nextPollIs(Kel::Seconds time);
  void handleEdge(std::uint16_t count, std::uint64_t readDurationUs);
  void applyPollStep(std::uint16_t count);

  Kel::Ptr<PpsWaiterStatus> status_;
  Kel::Ptr<Pps::Counter::Hal> hal_;
  std::uint32_t lastTimeSinceEdge_ = 0;       // ms: the count read at the previous poll
  Kel::Seconds floatingPpsPollPeriod_ = 0.0;  // s: the delay chosen by the last poll
  Kel::Ptr<PpsWaiterTimestamps> ppsWaiterTimestamps_;
  bool initialized_ = false;            // a valid HAL exists
  bool counterOverSaturation_ = false;  // the count went past 1020: the next edge is discarded
  PpsWaiterStats stats_;
  // The reactors, last: they go first (see Kel::ReactorSlot).
  Kel::ReactorSlot<KelConfig> config_;
  Kel::ReactorSlot<KelPpsPollClock> ppsPollClock_;
};

// Rebuilds the HAL when the counter changes, and re-arms the first poll when the period does.
class PpsWaiterSm::KelConfig final
    : public Kel::AttributeReactor<
          PpsWaiterSm, PpsWaiterConfig,
          Kel::On<PpsWaiterConfig::ppsPollPeriodId, &PpsWaiterSm::handlePpsPollPeriod>,
          Kel::On<PpsWaiterConfig::ppsCounterId, &PpsWaiterSm::handleInitialized>> {
 public:
  using AttributeReactor::AttributeReactor;
};

// The poll timer: runs one poll each time the activity clock reaches its wake-up time.
class PpsWaiterSm::KelPpsPollClock final
    : public Kel::ClockReactor<PpsWaiterSm, &PpsWaiterSm::handlePpsPollClock> {
 public:
  using ClockReactor::ClockReactor;
};

}  // namespace VelaClockAgent
