#pragma once

#include <cstddef>
#include <vector>

#include "Kel/AttributeId.h"
#include "Kel/Ptr.h"

namespace Kel {

class TypeInfo;

// Reference-counted base of every entity, reactor and state machine. It is also a notifier:
// reactors (NotifieeConst) register with it and are told, synchronously and in registration
// order, of every change of one of its attributes or collection entries.
class PtrInterface {
 public:
  class NotifieeConst;
  class NotifieeList;

  PtrInterface() = default;
  PtrInterface(const PtrInterface&) = delete;
  PtrInterface& operator=(const PtrInterface&) = delete;

  // The reactors registered with this object, in registration order.
  virtual const NotifieeList& notifieeList() const;
  // Switches this object's notification on or off; state machines pass it to their reactors.
  virtual void hasNotificationActiveIs(bool active);
  // Called when the last reference is dropped; the default frees the object.
  virtual void zeroReferencesIs(bool zero);
  // The reflected type of the object.
  virtual const TypeInfo& fwkType() const;
  virtual ~PtrInterface();

  bool hasNotificationActive() const noexcept { return notificationActive_; }
  unsigned references() const noexcept { return references_; }
  void newRef() const noexcept { ++references_; }
  void deleteRef() const;

 protected:
  // Delivers a change to every registered, active, non-zombie reactor. `value` points at the new
  // value of an attribute, or at the key (Kel::String) of a collection entry.
  void notify(AttributeId attribute, const void* value) const;

 private:
  mutable unsigned references_ = 0;
  bool notificationActive_ = false;
  mutable NotifieeList* notifiees_ = nullptr;  // made on first registration
};

// The registration list of one notifier. Delivery walks it by index over the length it had when
// delivery began; a reactor removed during delivery leaves a hole (compacted once the outermost
// delivery ends), so no reactor is skipped, repeated or touched after it was freed. Reactors that
// hear first stand before the others.
class PtrInterface::NotifieeList {
 public:
  // Adds a reactor after the others, or, when it hears first, after those that hear first too. A
  // reactor that hears first but joins during a delivery of this list goes last, so that the
  // delivery under way skips and repeats nothing.
  void add(NotifieeConst* notifiee, bool first = false);
  void remove(NotifieeConst* notifiee);
  std::size_t size() const;  // registered reactors, holes excluded
  bool contains(const NotifieeConst* notifiee) const;
  NotifieeConst* at(std::size_t index) const { return slots_[index]; }
  std::size_t slots() const { return slots_.size(); }

  void deliveryBegins() { ++deliveries_; }
  void deliveryEnds();

 private:
  std::vector<NotifieeConst*> slots_;
  std::size_t firsts_ = 0;  // slots_[0, firsts_) hold the reactors that hear first
  int deliveries_ = 0;
  bool holes_ = false;
};

// A reactor: bound to one notifier, it hears of the notifier's changes through onAttribute while
// it is registered, active and not flagged for deletion (a zombie).
class PtrInterface::NotifieeConst : public PtrInterface {
 public:
  const Ptr<const PtrInterface>& notifier() const noexcept { return notifier_; }
  // Binds to another notifier (or none); a registered reactor moves its registration along.
  // Reactor kinds that keep more about their notifier (a clock reactor's wake-up) override it.
  virtual void notifierIs(const Ptr<const PtrInterface>& notifier);
  bool isRegisteredNotifiee() const noexcept { return registered_; }
  void isRegisteredNotifieeIs(bool registered);
  // An observer of changes (a watch that reports them, say) hears each change before the reactors
  // that act on it, so that what it reports comes in the order the changes happened. Takes effect
  // at the next registration.
  bool hearsFirst() const noexcept { return hearsFirst_; }
  void hearsFirstIs(bool first) noexcept { hearsFirst_ = first; }
  bool isZombie() const noexcept { return zombie_; }
  // True when a change of the notifier reaches onAttribute.
  bool isDeliverable() const noexcept { return registered_ && hasNotificationActive() && !zombie_; }

  void zeroReferencesIs(bool zero) override;
  ~NotifieeConst() override;
  // Runs when the last reference to this reactor is dropped, before it is freed.
  virtual void onZeroReferences();
  // One change of the notifier: the attribute and its new value (or the collection key).
  virtual void onAttribute(AttributeId attribute, const void* value);
  // Flags the reactor for deletion (true) or clears the flag. A zombie's notification is switched
  // off; an unflagged reactor with a notifier has it switched back on. No-op when unchanged.
  virtual void kelDoZombieReactors(bool zombie);

 private:
  Ptr<const PtrInterface> notifier_;
  bool registered_ = false;
  bool zombie_ = false;
  bool hearsFirst_ = false;
};

}  // namespace Kel
