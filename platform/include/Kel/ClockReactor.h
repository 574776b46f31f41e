#pragma once

#include "Kel/Clock.h"
#include "Kel/StateMachine.h"

namespace Kel {

// A clock reactor owned by a state machine: it runs `(owner.*handle)()` each time the clock it is
// bound to reaches its wake-up time (timeMinIs), and once at once each time it is pointed at a
// different, non-null clock; a zombie, or a reactor without owner, runs nothing. It is made
// without a clock, with notification on.
template <class Owner, void (Owner::*handle)()>
class ClockReactor : public Owned<Clock::NotifieeConst> {
 public:
  explicit ClockReactor(Owner* owner) {
    ownerIs(owner);
    hasNotificationActiveIs(true);
  }
  // The clock bound now, or null.
  Ptr<const Clock> watched() const {
    return Ptr<const Clock>(dynamic_cast<const Clock*>(notifier().get()));
  }

  void notifierIs(const Ptr<const PtrInterface>& clock) override {
    const bool switched = clock && clock != notifier();
    Clock::NotifieeConst::notifierIs(clock);
    if (switched) run();
  }
  void onAttribute(AttributeId id, const void*) override {
    if (id == Clock::nowId) run();
  }

 private:
  void run() {
    if (isZombie()) return;
    callOwner<Owner>([](Owner& owner) { (owner.*handle)(); });
  }
};

}  // namespace Kel
