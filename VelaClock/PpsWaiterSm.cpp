#include "VelaClock/PpsWaiterSm.h"

#include <fmt/format.h>

#include <cmath>
#include <limits>

#include "Kel/Activity.h"
#include "Pps/Counter/LumenHal.h"
#include "Pps/Counter/MockHal.h"
#include "Pps/Counter/QuillHal.h"
#include "VelaClock/AgentTrace.h"
#include "VelaClock/PpsPoll.h"

namespace VelaClockAgent {

namespace {

// The messages of the HAL's creation and of the false-edge and saturation findings carry the
// machine's name beside the operation's, in the line's origin.
constexpr const char* tryMakeHalOrigin = "PpsWaiterSm::tryMakeHal";
constexpr const char* taggedPollOrigin = "PpsWaiterSm::handlePpsPollClock";
// The other lines of a poll name the poll as their origin, also from the helpers it runs.
constexpr const char* pollOrigin = "handlePpsPollClock";

[[maybe_unused]] const bool ppsWaiterRegistered =
    (Kel::kelModuleIs<PpsWaiterSm>("VelaClock/PpsWaiterSm"), true);

// A HAL switched on, as the waiter keeps it.
template <class Hal, class... Arguments>
Kel::Ptr<Pps::Counter::Hal> switchedOnHal(Arguments&&... arguments) {
  Kel::Ptr<Pps::Counter::Hal> hal = Kel::makePtr<Hal>(std::forward<Arguments>(arguments)...);
  hal->hasNotificationActiveIs(true);
  return hal;
}

// The HAL that serves `counter`, by its type code; null for an unknown code, or for a description
// whose concrete type does not agree with its code.
Kel::Ptr<Pps::Counter::Hal> halFor(const Hardware::Pps::CounterCommon& counter) {
  switch (counter.counterType()) {
    case Hardware::Pps::lumenCounterType:
      if (const auto* lumen = dynamic_cast<const Hardware::Pps::LumenCounter*>(&counter)) {
        return switchedOnHal<Pps::Counter::LumenHal>(lumen->counterBase());
      }
      return nullptr;
    case Hardware::Pps::quillCounterType:
      if (const auto* quill = dynamic_cast<const Hardware::Pps::QuillCounter*>(&counter)) {
        return switchedOnHal<Pps::Counter::QuillHal>(quill->counterBase(), quill->ham());
      }
      return nullptr;
    case Hardware::Pps::mockCounterType:
      return switchedOnHal<Pps::Counter::MockHal>();
    default:
      return nullptr;
  }
}

// Polling is off for a period of 0 or +infinity. A NaN period is taken as off too: it can arm no
// poll, and ppsUp must not stay true with nobody polling.
bool pollingOff(Kel::Seconds period) {
  return std::isnan(period) || period > std::numeric_limits<Kel::Seconds>::max() || period == 0;
}

}  // namespace

Kel::Ptr<PpsWaiterSm> PpsWaiterSm::PpsWaiterSmIs(const Kel::Ptr<const PpsWaiterConfig>& config,
                                                 const Kel::Ptr<PpsWaiterStatus>& status) {
  return Kel::newStateMachine<PpsWaiterSm>(config, status);
}

PpsWaiterSm::PpsWaiterSm(const Kel::Ptr<const PpsWaiterConfig>& config,
                         const Kel::Ptr<PpsWaiterStatus>& status)
    : status_(status), config_(config ? Kel::makePtr<KelConfig>(this, config) : nullptr) {
  // The poll that binding runs returns at once: there is no valid HAL yet.
  ppsPollClockIs(Kel::ActivityFacility::clock());
  handleInitialized();
}

void PpsWaiterSm::handleInitialized() {
  KEL_TRACE(agentTrace(), 8) << "void VelaClockAgent::PpsWaiterSm::handleInitialized()";
  ppsUpIs(false);
  initialized_ = tryMakeHal();
  if (initialized_) handlePpsPollPeriod();
}

bool PpsWaiterSm::tryMakeHal() {
  const auto configured = config();
  const auto counter = configured ? configured->ppsCounter() : nullptr;
  if (!counter) {
    KEL_TRACE_FOR(agentTrace(), 0, tryMakeHalOrigin)
        << "ppsCounter on PpsWaiterConfig was null. Cannot initialize PpsWaiterSm";
    return false;
  }
  if (auto made = halFor(*counter)) hal_ = std::move(made);
  if (hal_ && hal_->valid()) {
    KEL_TRACE_FOR(agentTrace(), 8, tryMakeHalOrigin) << "ppsWaiter hal creation succeeded";
    return true;
  }
  KEL_TRACE_FOR(agentTrace(), 0, tryMakeHalOrigin)
      << "ppsWaiter hal creation failed. Cannot initialize PpsWaiterSm";
  return false;
}

void PpsWaiterSm::handlePpsPollPeriod() {
  KEL_TRACE(agentTrace(), 8) << "void VelaClockAgent::PpsWaiterSm::handlePpsPollPeriod()";
  const auto configured = config();
  if (!configured) return;
  const Kel::Seconds period = configured->ppsPollPeriod();
  if (pollingOff(period)) {
    ppsUpIs(false);
    nextPollIs(Kel::infiniteTime);
    return;
  }
  nextPollIs(Kel::System::currentTime() + period);
}

void PpsWaiterSm::handlePpsPollClock() {
  if (!initialized_ || !hal_) return;
  KEL_TRACE(agentTrace(), 8) << "void VelaClockAgent::PpsWaiterSm::handlePpsPollClock()";
  stats_.pollIs();
  const Kel::Seconds t0 = Kel::System::currentTimeUtc();
  const std::uint16_t count = hal_->ppsCount();
  const Kel::Seconds t1 = Kel::System::currentTimeUtc();
  if (isPpsEdge(count, lastTimeSinceEdge_)) handleEdge(count, durationMicroseconds(t0, t1));
  applyPollStep(count);
}

// The poll timestamp is taken after the read and its trace; the edge time is derived from it, so
// the read latency and the counter's millisecond resolution are the published edge's error.
void PpsWaiterSm::handleEdge(std::uint16_t count, std::uint64_t readDurationUs) {
  KEL_TRACE_FOR(agentTrace(), 9, pollOrigin)
      << "It took " << readDurationUs << "us to get pps count";
  const std::uint64_t pollTimestamp = utcNanoseconds(Kel::System::currentTimeUtc());
  const std::uint64_t edge = edgeTimestamp(pollTimestamp, count);
  if (counterOverSaturation_) {
    // "occured" and the missing blank after the first comma are the message as operators know it.
    KEL_TRACE_FOR(agentTrace(), 9, taggedPollOrigin) << fmt::format(
        "(likely) false PPS edge occured: timeSinceEdge: {},edgeTimestamp: {}, pollTimestampMS: {}",
        count, edge, pollTimestamp);
    counterOverSaturation_ = false;
    stats_.falseEdgeIs();
    return;
  }
  // "pollTimestampMS" is the label operators know; the value is in nanoseconds.
  KEL_TRACE_FOR(agentTrace(), 7, pollOrigin)
      << "PPS edge detected count:" << count << " edgeTimestamp:" << edge
      << " pollTimestampMS:" << pollTimestamp;
  ppsUpIs(true);
  if (!ppsWaiterTimestamps_) return;
  ppsWaiterTimestamps_->ppsEdgeTimestampsIs(PpsEdgeTimestamps{0, edge, pollTimestamp});
  stats_.edgePublishedIs((pollTimestamp - edge) / 1000);
}

void PpsWaiterSm::applyPollStep(std::uint16_t count) {
  const PpsPollStep step = ppsPollStep(count);
  if (step.ppsLost) ppsUpIs(false);
  if (step.overSaturated) {
    // "gottimeSinceEdge" is one word in the message as operators know it.
    KEL_TRACE_FOR(agentTrace(), 9, taggedPollOrigin) << fmt::format(
        "found pps time past normal saturation point (1020ms), gottimeSinceEdge={}. Skipping "
        "next Pps edge notification",
        count);
    if (!counterOverSaturation_) stats_.saturationIs();
    counterOverSaturation_ = true;
  }
  floatingPpsPollPeriod_ = step.delay;
  lastTimeSinceEdge_ = count;
  nextPollIs(Kel::System::currentTime() + step.delay);
}

void PpsWaiterSm::ppsPollClockIs(const Kel::Ptr<const Kel::Clock>& clock) {
  if (ppsPollClock_ && ppsPollClock_->notifier() == clock) return;
  if (!ppsPollClock_) ppsPollClock_ = Kel::ReactorSlot(Kel::makePtr<KelPpsPollClock>(this));
  ppsPollClock_->notifierIs(clock);  // a different clock: one poll at once
  ppsPollClock_->kelDoZombieReactors(isZombie());
}

Kel::Ptr<const Kel::Clock> PpsWaiterSm::ppsPollClockDel() {
  const Kel::Ptr<KelPpsPollClock> reactor = ppsPollClock_.del();
  return reactor ? reactor->watched() : nullptr;
}

Kel::Ptr<const PpsWaiterConfig> PpsWaiterSm::config() const {
  return config_ ? config_->watched() : nullptr;
}

Kel::Ptr<const Kel::Clock> PpsWaiterSm::ppsPollClock() const {
  return ppsPollClock_ ? ppsPollClock_->watched() : nullptr;
}

Kel::Seconds PpsWaiterSm::nextPollTime() const {
  return ppsPollClock_ ? ppsPollClock_->pendingWakeUp() : Kel::infiniteTime;
}

void PpsWaiterSm::ppsUpIs(bool up) {
  if (status_) status_->ppsUpIs(up);
}

void PpsWaiterSm::nextPollIs(Kel::Seconds time) {
  if (ppsPollClock_) ppsPollClock_->timeMinIs(time);
}

const Kel::TypeInfo& PpsWaiterSm::typeInfo() {
  static const Kel::TypeInfo info =
      Kel::describeType<PpsWaiterSm>("VelaClockAgent::PpsWaiterSm", nullptr);
  return info;
}

const Kel::TypeInfo& PpsWaiterSm::fwkType() const {
  return typeInfo();
}

// The attributes in declaration order, then what the waiter counts, then its handlers. What only
// the waiter may change (its entities, HAL, clock and counters) is read-only.
void PpsWaiterSm::kelDescribe(Kel::TypeBuilder<PpsWaiterSm>& b) {
  using Self = PpsWaiterSm;
  b.readOnlyReference<PpsWaiterConfig>("config", [](const Self& m) { return m.config(); });
  b.readOnlyReference<PpsWaiterStatus>("status", [](const Self& m) { return m.status(); });
  b.readOnlyReference<Pps::Counter::Hal>("hal", [](const Self& m) { return m.hal(); });
  b.readOnlyReference<Kel::Clock>("ppsPollClock", [](const Self& m) { return m.ppsPollClock(); });
  b.attribute<std::uint32_t>(
      "lastTimeSinceEdge", Kel::AttributeId{}, [](const Self& m) { return m.lastTimeSinceEdge(); },
      [](Self& m, std::uint32_t ms) { m.lastTimeSinceEdgeIs(ms); });
  b.attribute<Kel::Seconds>(
      "floatingPpsPollPeriod", Kel::AttributeId{},
      [](const Self& m) { return m.floatingPpsPollPeriod(); },
      [](Self& m, Kel::Seconds delay) { m.floatingPpsPollPeriodIs(delay); });
  b.readOnlyReference<PpsWaiterTimestamps>("ppsWaiterTimestamps",
                                           [](const Self& m) { return m.ppsWaiterTimestamps(); });
  b.attribute<bool>(
      "initialized", Kel::AttributeId{}, [](const Self& m) { return m.initialized(); },
      [](Self& m, bool initialized) { m.initializedIs(initialized); });
  b.attribute<bool>(
      "counterOverSaturation", Kel::AttributeId{},
      [](const Self& m) { return m.counterOverSaturation(); },
      [](Self& m, bool over) { m.counterOverSaturationIs(over); });
  describeStats(b);
  b.operation("handleInitialized", false,
              [](Self& m, const Kel::String&) { m.handleInitialized(); });
  b.operation("handlePpsPollClock", false,
              [](Self& m, const Kel::String&) { m.handlePpsPollClock(); });
  b.operation("handlePpsPollPeriod", false,
              [](Self& m, const Kel::String&) { m.handlePpsPollPeriod(); });
  b.operation("tryMakeHal", false, [](Self& m, const Kel::String&) { m.tryMakeHal(); });
}

void PpsWaiterSm::describeStats(Kel::TypeBuilder<PpsWaiterSm>& b) {
  using Self = PpsWaiterSm;
  b.readOnly<Kel::Seconds>("nextPollTime", [](const Self& m) { return m.nextPollTime(); });
  b.readOnly<std::uint64_t>("polls", [](const Self& m) { return m.stats().polls(); });
  b.readOnly<std::uint64_t>("edgesPublished",
                            [](const Self& m) { return m.stats().edgesPublished(); });
  b.readOnly<std::uint64_t>("falseEdgesDiscarded",
                            [](const Self& m) { return m.stats().falseEdgesDiscarded(); });
  b.readOnly<std::uint64_t>("saturations", [](const Self& m) { return m.stats().saturations(); });
  b.readOnly<std::uint64_t>("lastDetectionDelayUs",
                            [](const Self& m) { return m.stats().lastDetectionDelayUs(); });
  b.readOnly<std::uint64_t>("detectionDelaySumUs",
                            [](const Self& m) { return m.stats().detectionDelaySumUs(); });
  b.readOnly<std::uint64_t>("detectionDelayP50Us", [](const Self& m) {
    return m.stats().detectionDelayPercentileUs(0.5);
  });
  b.readOnly<std::uint64_t>("detectionDelayP99Us", [](const Self& m) {
    return m.stats().detectionDelayPercentileUs(0.99);
  });
  b.readOnly<Kel::String>("detectionDelayHistogram",
                          [](const Self& m) { return m.stats().detectionDelayHistogram(); });
}

}  // namespace VelaClockAgent
