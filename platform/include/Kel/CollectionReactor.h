#pragma once

#include "Kel/StateMachine.h"
#include "Kel/String.h"

namespace Kel {

// A reactor owned by a state machine that runs `(owner.*handle)(key)` for each change of the
// collection `collection` of its notifier, an entity of type Notifier (const when the owner only
// reads it). It hears its notifier from the moment it is made.
template <class Owner, class Notifier, AttributeId collection, void (Owner::*handle)(const String&)>
class CollectionReactor : public Owned<PtrInterface::NotifieeConst> {
 public:
  CollectionReactor(Owner* owner, const Ptr<Notifier>& notifier) : watched_(notifier) {
    watch(owner, notifier);
  }
  // The entity watched, as the owner was given it: mutable when the owner may change it.
  const Ptr<Notifier>& watched() const noexcept { return watched_; }

  void onAttribute(AttributeId id, const void* value) override {
    if (id != collection || isZombie()) return;
    const String& key = *static_cast<const String*>(value);
    callOwner<Owner>([&key](Owner& owner) { (owner.*handle)(key); });
  }

 private:
  Ptr<Notifier> watched_;
};

}  // namespace Kel
