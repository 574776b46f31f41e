#pragma once

#include <vector>

#include "Kel/PtrInterface.h"
#include "Kel/String.h"

namespace Kel {

class StateMachine;

// A reactor owned by a state machine. It holds a plain back-pointer to its owner, which the owner
// clears when it goes, so a late notification finds no owner and does nothing.
class OwnedReactor : public PtrInterface::NotifieeConst {
 public:
  ~OwnedReactor() override;
  StateMachine* owner() const noexcept { return owner_; }
  // Joins `owner` (null: leaves its owner); the owner's switches reach joined reactors.
  void ownerIs(StateMachine* owner);

 private:
  StateMachine* owner_ = nullptr;
};

// The base of the agent's state machines. It switches the notification of the machine and of
// every reactor it owns together, flags them for deletion together, and at destruction leaves no
// reactor able to reach it.
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
  friend class OwnedReactor;
  std::vector<OwnedReactor*> reactors_;
  bool zombie_ = false;
};

// A reactor that runs `(owner->*handle)(key)` for each change of the collection `collection` of
// its notifier, an entity of type Notifier; it is bound, registered and active from the start.
template <class Owner, class Notifier, AttributeId collection, void (Owner::*handle)(const String&)>
class CollectionReactor : public OwnedReactor {
 public:
  CollectionReactor(Owner* owner, const Ptr<const Notifier>& notifier) {
    ownerIs(owner);
    notifierIs(notifier);
    isRegisteredNotifieeIs(true);
    hasNotificationActiveIs(true);
  }
  Ptr<const Notifier> watched() const {
    return Ptr<const Notifier>(static_cast<const Notifier*>(notifier().get()));
  }
  void onAttribute(AttributeId id, const void* value) override {
    if (id != collection || isZombie() || !owner()) return;
    (static_cast<Owner*>(owner())->*handle)(*static_cast<const String*>(value));
  }
};

}  // namespace Kel
