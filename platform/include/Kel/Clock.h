#pragma once

#include <compare>
#include <cstdint>

#include "Kel/PtrInterface.h"
#include "Kel/Time.h"

namespace Kel {

template <class Self>
class TypeBuilder;

// The activity clock as a notifier: each of its reactors asks to be woken once at a time of its
// choosing (timeMinIs) and is told through onAttribute(Clock::nowId, &now) when that time comes.
// A reactor is woken at most once per arming; its handler arms the next wake-up if it wants one.
class Clock : public PtrInterface {
 public:
  class NotifieeConst;
  static constexpr AttributeId nowId{0};

  Clock() = default;
  // The earliest armed wake-up, or +infinity.
  Seconds nextWakeUp() const;
  // True when a wake-up armed before this turn is due at `now`.
  bool hasDueWakeUp(Seconds now) const;
  // Wakes, one at a time and in time order (ties in arming order), every reactor due at `now`
  // that was armed before this call; a wake-up armed meanwhile waits for the next turn.
  void wakeDue(Seconds now);

  static const TypeInfo& typeInfo();
  static void kelDescribe(TypeBuilder<Clock>& builder);
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

  // The armed reactors in wake-up order (time, then arming order), linked through the reactors
  // themselves, so that arming and disarming never allocate: the PPS waiter re-arms at every
  // poll. A clock holds a handful of reactors; walking to the insertion point costs little.
  NotifieeConst* first_ = nullptr;
  NotifieeConst* last_ = nullptr;
  std::uint64_t nextSequence_ = 0;
};

// A reactor of the activity clock. Its wake-up time needs no registration: it fires while the
// reactor is bound to the clock, has notification active and is not a zombie.
class Clock::NotifieeConst : public PtrInterface::NotifieeConst {
 public:
  // The wake-up time asked for last (+infinity: none).
  Seconds timeMin() const noexcept { return timeMin_; }
  // The wake-up still to come: timeMin() until it is delivered, then +infinity.
  Seconds pendingWakeUp() const noexcept {
    if (!waiting_) return infiniteTime;
    return timeMin_;
  }
  // Asks to be woken once when the activity clock reaches `time`. A time already reached wakes on
  // the next turn of the loop; +infinity (or NaN) never wakes. Replaces any earlier request. Asked
  // before the reactor is bound to a clock, the wake-up is armed when it is bound.
  void timeMinIs(Seconds time);
  // Binds to another clock (or none). A wake-up still to come moves along to the new clock.
  void notifierIs(const Ptr<const PtrInterface>& clock) override;
  ~NotifieeConst() override;

 private:
  friend class Clock;
  void armOnBoundClock();

  Seconds timeMin_ = infiniteTime;
  bool waiting_ = false;      // a wake-up asked for and not yet delivered
  Clock* armedOn_ = nullptr;  // the clock holding this reactor's wake-up, if any
  // The notifier as a clock, found once at binding: re-arming at every poll then costs no cast.
  Clock* boundClock_ = nullptr;
  NotifieeConst* previous_ = nullptr;
  NotifieeConst* next_ = nullptr;
  Key key_{};
};

}  // namespace Kel
