#pragma once

#include <compare>
#include <cstdint>
#include <map>

#include "Kel/PtrInterface.h"
#include "Kel/Time.h"

namespace Kel {

// The activity clock as a notifier: each of its reactors asks to be woken once at a time of its
// choosing (timeMinIs) and is told through onAttribute(Clock::nowId, &now) when that time comes.
// A reactor is woken at most once per arming; its handler arms the next wake-up if it wants one.
class Clock : public PtrInterface {
 public:
  class NotifieeConst;
  static constexpr AttributeId nowId{0};

  // The earliest armed wake-up, or +infinity.
  Seconds nextWakeUp() const;
  // True when a wake-up armed before this turn is due at `now`.
  bool hasDueWakeUp(Seconds now) const;
  // Wakes, one at a time and in time order (ties in arming order), every reactor due at `now`
  // that was armed before this call; a wake-up armed meanwhile waits for the next turn.
  void wakeDue(Seconds now);
  const TypeInfo& fwkType() const override;
  ~Clock() override;

 private:
  struct Key {
    Seconds time;
    std::uint64_t sequence;
    auto operator<=>(const Key&) const = default;
  };
  void arm(NotifieeConst* reactor, Seconds time);
  void disarm(NotifieeConst* reactor);

  std::map<Key, NotifieeConst*> wakeUps_;
  std::uint64_t nextSequence_ = 0;
};

// A reactor of the activity clock. Its wake-up time needs no registration: it fires while the
// reactor is bound to the clock, has notification active and is not a zombie.
class Clock::NotifieeConst : public PtrInterface::NotifieeConst {
 public:
  Seconds timeMin() const noexcept { return timeMin_; }
  // Asks to be woken once when the activity clock reaches `time`. A time already reached wakes on
  // the next turn of the loop; +infinity never wakes. Replaces any earlier request.
  void timeMinIs(Seconds time);
  ~NotifieeConst() override;

 private:
  friend class Clock;
  Clock* boundClock() const;

  Seconds timeMin_ = infiniteTime;
  Clock* armedOn_ = nullptr;  // the clock holding this reactor's wake-up, if any
  Key key_{};
};

}  // namespace Kel
