#pragma once

#include <vector>

#include "Kel/PtrInterface.h"

namespace Kel {

class StateMachine;

// What ties a reactor to the state machine that owns it: a plain back-pointer, which the machine
// clears when it goes, so that a late notification finds no owner and does nothing. Any reactor
// kind becomes ownable by mixing this in through Owned<Kind>.
class ReactorOwnership {
 public:
  ReactorOwnership(const ReactorOwnership&) = delete;
  ReactorOwnership& operator=(const ReactorOwnership&) = delete;

  StateMachine* owner() const noexcept { return owner_; }
  // Joins `owner` (null: leaves the owner it had); the owner's switches reach joined reactors.
  void ownerIs(StateMachine* owner);

 protected:
  explicit ReactorOwnership(PtrInterface::NotifieeConst& reactor) noexcept : reactor_(reactor) {}
  ~ReactorOwnership();

  // Runs `handle(owner)` when there is an owner, holding a reference to it for the call: a handler
  // may drop the last outside reference to its own machine, which then lives until it returns.
  template <class Owner, class Handle>
  void callOwner(const Handle& handle) const;

 private:
  friend class StateMachine;
  PtrInterface::NotifieeConst& reactor_;
  StateMachine* owner_ = nullptr;
};

// A reactor of kind `Kind` (PtrInterface::NotifieeConst, Clock::NotifieeConst, ...) that a state
// machine can own.
template <class Kind>
class Owned : public Kind, public ReactorOwnership {
 public:
  Owned() noexcept : ReactorOwnership(static_cast<PtrInterface::NotifieeConst&>(*this)) {}

 protected:
  // Joins `owner`, binds to `notifier`, registers and switches notification on: the start of a
  // reactor that hears its notifier from the moment it is made.
  void watch(StateMachine* owner, const Ptr<const PtrInterface>& notifier) {
    ownerIs(owner);
    this->notifierIs(notifier);
    this->isRegisteredNotifieeIs(true);
    this->hasNotificationActiveIs(true);
  }
};

// The base of the agent's state machines. It switches the notification of the machine and of every
// reactor it owns together, flags them for deletion together, and at destruction leaves no reactor
// able to reach it.
class StateMachine : public PtrInterface {
 public:
  // When the value changes: the machine first, then each reactor in the order it joined.
  void hasNotificationActiveIs(bool active) override;
  // When the value changes: each reactor in the order it joined, then the machine's own flag.
  virtual void kelDoZombieReactors(bool zombie);
  bool isZombie() const noexcept { return zombie_; }
  ~StateMachine() override;

 protected:
  // Flags every reactor for deletion and clears its back-pointer; the first step of tearing a
  // machine down, before it releases what it holds.
  void retireReactors();

 private:
  friend class ReactorOwnership;
  std::vector<ReactorOwnership*> reactors_;
  bool zombie_ = false;
};

// Allocates a machine, constructs it (running what its constructor runs) and switches its
// notification on: what the creator of every state machine does.
template <class Machine, class... Arguments>
Ptr<Machine> newStateMachine(const Arguments&... arguments) {
  Ptr<Machine> machine(new Machine(arguments...));
  machine->hasNotificationActiveIs(true);
  return machine;
}

template <class Owner, class Handle>
void ReactorOwnership::callOwner(const Handle& handle) const {
  if (!owner_) return;
  auto& owner = static_cast<Owner&>(*owner_);
  // A machine still under construction is counted by nobody yet; it is not ours to hold.
  const Ptr<const PtrInterface> keep(owner.references() > 0 ? &owner : nullptr);
  handle(owner);
}

}  // namespace Kel
