#include <algorithm>
#include <cmath>

#include "Fru/Hardware.h"
#include "Kel/TypeInfo.h"
#include "Pps/Counter/LumenHal.h"
#include "Pps/Counter/MockHal.h"
#include "Pps/Counter/QuillHal.h"
#include "Pps/Counter/SimPulse.h"

namespace Pps::Counter {

namespace {
// A register read with the count, or nullopt when the counter does not answer.
std::optional<std::uint16_t> readCounter(Fru::HamImpl* impl, std::uint32_t address) {
  std::uint16_t count = 0;
  if (!impl || impl->read16(address, count) != Fru::AccessStatus::ok) return std::nullopt;
  return count;
}

// Whether the register at `address` behind `impl` is the simulated pulse's counter device.
bool isSimulatedCounter(const Kel::Ptr<Fru::HamImpl>& impl, std::uint32_t address) {
  const auto bank = Kel::dynamicPtrCast<Fru::SimRegisterBank>(impl);
  return bank && Kel::dynamicPtrCast<SimCounterDevice>(bank->device(address));
}
}  // namespace

const Kel::TypeInfo& Hal::typeInfo() {
  static const Kel::TypeInfo info =
      Kel::describeType<Hal>("Pps::Counter::Hal", &Kel::TypeInfo::ptrInterface());
  return info;
}

void Hal::kelDescribe(Kel::TypeBuilder<Hal>& builder) {
  builder.readOnly<bool>("valid", [](const Hal& hal) { return hal.valid(); });
  builder.readOnly<bool>("followsSimPulse", [](const Hal& hal) { return hal.followsSimPulse(); });
}

const Kel::TypeInfo& Hal::fwkType() const {
  return typeInfo();
}

namespace {
// UTC seconds as whole microseconds: the wall clock's double carries about a quarter of a
// microsecond of rounding, which must not move a count across a millisecond boundary.
std::int64_t microseconds(Kel::Seconds utc) {
  return std::llround(utc * 1e6);
}
constexpr std::int64_t microsecondsPerSecond = 1000000;
}  // namespace

std::int64_t SimPulse::lastEdgeUs(std::int64_t nowUs) const {
  const std::int64_t wholeSecond = nowUs - nowUs % microsecondsPerSecond;
  // Stopped, or started again with its first edge still to come: no edge since the stop.
  return stopped_ || wholeSecond < restartUs_ ? lastEdgeBeforeStopUs_ : wholeSecond;
}

std::uint16_t SimPulse::count(Kel::Seconds utc) const {
  if (override_) return *override_;
  const std::int64_t now = microseconds(utc);
  std::int64_t edge = lastEdgeUs(now);
  if (glitchUs_ && *glitchUs_ > edge && *glitchUs_ <= now) edge = *glitchUs_;
  const std::int64_t elapsedMs = (now - edge) / 1000;
  return static_cast<std::uint16_t>(std::clamp<std::int64_t>(elapsedMs, 0, saturatedCount));
}

void SimPulse::pulseStoppedIs(bool stopped) {
  if (stopped == stopped_) return;
  const std::int64_t now = microseconds(Kel::System::currentTimeUtc());
  if (stopped) {
    lastEdgeBeforeStopUs_ = lastEdgeUs(now);
  } else {
    restartUs_ = now;
  }
  stopped_ = stopped;
}

void SimPulse::glitchIs() {
  glitchUs_ = microseconds(Kel::System::currentTimeUtc());
}

void SimPulse::reset() {
  *this = SimPulse();
}

SimPulse& simPulse() {
  static SimPulse pulse;
  return pulse;
}

MockHal::MockHal() {
  valid_ = true;
}

std::uint16_t MockHal::ppsCount() {
  return simPulse().count();
}

const Kel::TypeInfo& MockHal::typeInfo() {
  static const Kel::TypeInfo info =
      Kel::describeType<MockHal>("Pps::Counter::MockHal", &Hal::typeInfo());
  return info;
}

const Kel::TypeInfo& MockHal::fwkType() const {
  return typeInfo();
}

LumenHal::LumenHal(std::uint32_t counterBase)
    : counterBase_(counterBase), window_(Fru::describedHamImpl(registerWindow)) {
  valid_ = readCounter(window_.get(), counterBase_).has_value();
}

std::uint16_t LumenHal::ppsCount() {
  return readCounter(window_.get(), counterBase_).value_or(saturatedCount);
}

bool LumenHal::followsSimPulse() const {
  return isSimulatedCounter(window_, counterBase_);
}

const Kel::TypeInfo& LumenHal::typeInfo() {
  static const Kel::TypeInfo info =
      Kel::describeType<LumenHal>("Pps::Counter::LumenHal", &Hal::typeInfo());
  return info;
}

void LumenHal::kelDescribe(Kel::TypeBuilder<LumenHal>& builder) {
  builder.readOnly<std::uint32_t>("counterBase",
                                  [](const LumenHal& hal) { return hal.counterBase(); });
}

const Kel::TypeInfo& LumenHal::fwkType() const {
  return typeInfo();
}

QuillHal::QuillHal(std::uint32_t counterBase, Kel::Ptr<const Fru::Ham> ham)
    : counterBase_(counterBase), ham_(std::move(ham)), impl_(ham_ ? ham_->hamImpl() : nullptr) {
  valid_ = readCounter(impl_.get(), counterBase_).has_value();
}

std::uint16_t QuillHal::ppsCount() {
  return readCounter(impl_.get(), counterBase_).value_or(saturatedCount);
}

bool QuillHal::followsSimPulse() const {
  return isSimulatedCounter(impl_, counterBase_);
}

const Kel::TypeInfo& QuillHal::typeInfo() {
  static const Kel::TypeInfo info =
      Kel::describeType<QuillHal>("Pps::Counter::QuillHal", &Hal::typeInfo());
  return info;
}

void QuillHal::kelDescribe(Kel::TypeBuilder<QuillHal>& builder) {
  builder.readOnly<std::uint32_t>("counterBase",
                                  [](const QuillHal& hal) { return hal.counterBase(); });
  builder.readOnlyReference<Fru::Ham>("ham", [](const QuillHal& hal) { return hal.ham(); });
}

const Kel::TypeInfo& QuillHal::fwkType() const {
  return typeInfo();
}

}  // namespace Pps::Counter
