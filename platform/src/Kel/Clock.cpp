#include "Kel/Clock.h"

#include <cmath>

#include "Kel/TypeInfo.h"

namespace Kel {

Seconds Clock::nextWakeUp() const {
  if (wakeUps_.empty()) return infiniteTime;
  return wakeUps_.begin()->first.time;
}

bool Clock::hasDueWakeUp(Seconds now) const {
  return nextWakeUp() <= now;
}

void Clock::wakeDue(Seconds now) {
  const std::uint64_t armedBefore = nextSequence_;
  for (;;) {
    auto it = wakeUps_.begin();
    while (it != wakeUps_.end() && it->first.time <= now && it->first.sequence >= armedBefore) ++it;
    if (it == wakeUps_.end() || it->first.time > now) return;
    NotifieeConst* reactor = it->second;
    wakeUps_.erase(it);
    reactor->armedOn_ = nullptr;
    if (!reactor->hasNotificationActive() || reactor->isZombie()) continue;
    const Ptr<NotifieeConst> keep(reactor->references() > 0 ? reactor : nullptr);
    reactor->onAttribute(nowId, &now);
  }
}

const TypeInfo& Clock::fwkType() const {
  static const TypeInfo info("Kel::Clock", &TypeInfo::ptrInterface());
  return info;
}

Clock::~Clock() {
  for (auto& [key, reactor] : wakeUps_) reactor->armedOn_ = nullptr;
}

void Clock::arm(NotifieeConst* reactor, Seconds time) {
  reactor->key_ = Key{time, nextSequence_++};
  reactor->armedOn_ = this;
  wakeUps_.emplace(reactor->key_, reactor);
}

void Clock::disarm(NotifieeConst* reactor) {
  wakeUps_.erase(reactor->key_);
  reactor->armedOn_ = nullptr;
}

Clock* Clock::NotifieeConst::boundClock() const {
  return const_cast<Clock*>(dynamic_cast<const Clock*>(notifier().get()));
}

void Clock::NotifieeConst::timeMinIs(Seconds time) {
  if (armedOn_) armedOn_->disarm(this);
  timeMin_ = time;
  Clock* clock = boundClock();
  if (clock && time != infiniteTime && !std::isnan(time)) clock->arm(this, time);
}

Clock::NotifieeConst::~NotifieeConst() {
  if (armedOn_) armedOn_->disarm(this);
}

}  // namespace Kel
