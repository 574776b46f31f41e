#pragma once

#include "Kel/StateMachine.h"

namespace Kel {

// One attribute that an AttributeReactor hears, and the owner's operation that it runs.
template <AttributeId id, auto operation>
struct On {
  static constexpr AttributeId attribute = id;
  static constexpr auto handle = operation;
};

// A reactor owned by a state machine that watches one constant entity of type Notifier and, for
// each change of an attribute named by one of its bindings (On<id, &Owner::operation>), runs that
// operation; changes of other attributes pass unheard. It hears its notifier from the moment it is
// made.
template <class Owner, class Notifier, class... Bindings>
class AttributeReactor : public Owned<PtrInterface::NotifieeConst> {
 public:
  AttributeReactor(Owner* owner, const Ptr<const Notifier>& notifier) { watch(owner, notifier); }
  // The entity watched now.
  Ptr<const Notifier> watched() const {
    return Ptr<const Notifier>(static_cast<const Notifier*>(notifier().get()));
  }

  void onAttribute(AttributeId id, const void*) override {
    if (isZombie()) return;
    callOwner<Owner>([id](Owner& owner) {
      ((id == Bindings::attribute ? (owner.*Bindings::handle)() : void()), ...);
    });
  }
};

}  // namespace Kel
