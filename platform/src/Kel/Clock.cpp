#include "Kel/Clock.h"

#include <cmath>

#include "Kel/TypeBuilder.h"

namespace Kel {

Seconds Clock::nextWakeUp() const {
  if (!first_) return infiniteTime;
  return first_->key_.time;
}

bool Clock::hasDueWakeUp(Seconds now) const {
  return nextWakeUp() <= now;
}

void Clock::wakeDue(Seconds now) {
  const std::uint64_t armedBefore = nextSequence_;
  for (;;) {
    // A handler may arm, disarm or free any reactor: look again from the start each time.
    NotifieeConst* reactor = first_;
    while (reactor && reactor->key_.time <= now && reactor->key_.sequence >= armedBefore) {
      reactor = reactor->next_;
    }
    if (!reactor || reactor->key_.time > now) return;
    disarm(reactor);
    reactor->waiting_ = false;
    if (!reactor->hasNotificationActive() || reactor->isZombie()) continue;
    const Ptr<NotifieeConst> keep(reactor->references() > 0 ? reactor : nullptr);
    reactor->onAttribute(nowId, &now);
  }
}

const TypeInfo& Clock::typeInfo() {
  static const TypeInfo info = describeType<Clock>("Kel::Clock", &TypeInfo::ptrInterface());
  return info;
}

void Clock::kelDescribe(TypeBuilder<Clock>& builder) {
  builder.readOnly<Seconds>("nextWakeUp", [](const Clock& clock) { return clock.nextWakeUp(); });
}

const TypeInfo& Clock::fwkType() const {
  return typeInfo();
}

Clock::~Clock() {
  while (first_) disarm(first_);
}

void Clock::arm(NotifieeConst* reactor, Seconds time) {
  reactor->key_ = Key{time, nextSequence_++};
  reactor->armedOn_ = this;
  // Most wake-ups go at or near the end: look for the place from there.
  NotifieeConst* before = last_;
  while (before && reactor->key_ < before->key_) before = before->previous_;
  reactor->previous_ = before;
  reactor->next_ = before ? before->next_ : first_;
  (reactor->next_ ? reactor->next_->previous_ : last_) = reactor;
  (before ? before->next_ : first_) = reactor;
}

void Clock::disarm(NotifieeConst* reactor) {
  (reactor->previous_ ? reactor->previous_->next_ : first_) = reactor->next_;
  (reactor->next_ ? reactor->next_->previous_ : last_) = reactor->previous_;
  reactor->previous_ = reactor->next_ = nullptr;
  reactor->armedOn_ = nullptr;
}

void Clock::NotifieeConst::armOnBoundClock() {
  if (armedOn_) armedOn_->disarm(this);
  if (boundClock_ && waiting_) boundClock_->arm(this, timeMin_);
}

void Clock::NotifieeConst::timeMinIs(Seconds time) {
  timeMin_ = time;
  waiting_ = time != infiniteTime && !std::isnan(time);
  armOnBoundClock();
}

void Clock::NotifieeConst::notifierIs(const Ptr<const PtrInterface>& clock) {
  if (clock == notifier()) return;
  PtrInterface::NotifieeConst::notifierIs(clock);
  boundClock_ = const_cast<Clock*>(dynamic_cast<const Clock*>(clock.get()));
  armOnBoundClock();
}

Clock::NotifieeConst::~NotifieeConst() {
  if (armedOn_) armedOn_->disarm(this);
}

}  // namespace Kel
