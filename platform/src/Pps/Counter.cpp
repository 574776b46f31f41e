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
}  // namespace

const Kel::TypeInfo& Hal::fwkType() const {
  static const Kel::TypeInfo info("Pps::Counter::Hal", &Kel::TypeInfo::ptrInterface());
  return info;
}

namespace {
// UTC seconds as whole microseconds: the wall clock's double carries about a quarter of a
// microsecond of rounding, which must not move a count across a millisecond boundary.
std::int64_t microseconds(Kel::Seconds utc) {
  return std::llround(utc * 1e6);
}
constexpr std::int64_t microsecondsPerSecond = 1000000;
}  // namespace

std::uint16_t SimPulse::count(Kel::Seconds utc) const {
  if (override_) return *override_;
  const std::int64_t now = microseconds(utc);
  std::int64_t edge = stopped_ ? lastEdgeBeforeStopUs_ : now - now % microsecondsPerSecond;
  if (glitchUs_ && *glitchUs_ > edge && *glitchUs_ <= now) edge = *glitchUs_;
  const std::int64_t elapsedMs = (now - edge) / 1000;
  return static_cast<std::uint16_t>(std::clamp<std::int64_t>(elapsedMs, 0, saturatedCount));
}

void SimPulse::pulseStoppedIs(bool stopped) {
  if (stopped && !stopped_) {
    const std::int64_t now = microseconds(Kel::System::currentTimeUtc());
    lastEdgeBeforeStopUs_ = now - now % microsecondsPerSecond;
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

LumenHal::LumenHal(std::uint32_t counterBase)
    : counterBase_(counterBase), window_(Fru::describedHamImpl(registerWindow)) {
  valid_ = readCounter(window_.get(), counterBase_).has_value();
}

std::uint16_t LumenHal::ppsCount() {
  return readCounter(window_.get(), counterBase_).value_or(saturatedCount);
}

QuillHal::QuillHal(std::uint32_t counterBase, Kel::Ptr<const Fru::Ham> ham)
    : counterBase_(counterBase), ham_(std::move(ham)), impl_(ham_ ? ham_->hamImpl() : nullptr) {
  valid_ = readCounter(impl_.get(), counterBase_).has_value();
}

std::uint16_t QuillHal::ppsCount() {
  return readCounter(impl_.get(), counterBase_).value_or(saturatedCount);
}

}  // namespace Pps::Counter
