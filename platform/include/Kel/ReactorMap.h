#pragma once

#include <map>
#include <utility>

#include "Kel/AttributeReactor.h"
#include "Kel/ReactorSlot.h"
#include "Kel/String.h"

namespace Kel {

// A reactor on one entry of a keyed collection, known by the entry's name. A change of one of the
// entry's attributes `attributes`, or a switch to another entry under the same name, runs the
// owner's walk `walk` over the whole collection.
template <class Owner, class Entry, void (Owner::*walk)(), AttributeId... attributes>
class EntryReactor : public AttributeReactor<Owner, Entry, On<attributes, walk>...> {
 public:
  using OwnerType = Owner;
  using EntryType = Entry;

  // Watches `entry` from the start; making it runs nothing.
  EntryReactor(Owner* owner, String name, const Ptr<const Entry>& entry)
      : AttributeReactor<Owner, Entry, On<attributes, walk>...>(owner, entry),
        name_(std::move(name)) {}
  const String& name() const noexcept { return name_; }

  // Watches `entry` from now on. A different, non-null entry under this name runs the owner's walk
  // (unless this reactor is a zombie or has no owner), as a change of every attribute would.
  void notifierIs(const Ptr<const PtrInterface>& entry) override {
    const bool switched = entry && entry != this->notifier();
    PtrInterface::NotifieeConst::notifierIs(entry);
    if (switched && !this->isZombie()) {
      this->template callOwner<Owner>([](Owner& owner) { (owner.*walk)(); });
    }
    this->isRegisteredNotifieeIs(true);
  }

 private:
  String name_;
};

// The per-entry reactors of an owner, by entry name, which the owner keeps in step with a keyed
// collection as its entries come, change and go.
template <class Reactor>
class ReactorMap {
 public:
  using Owner = typename Reactor::OwnerType;
  using Entry = typename Reactor::EntryType;

  explicit ReactorMap(Owner* owner) : owner_(owner) {}
  ReactorMap(const ReactorMap&) = delete;
  ReactorMap& operator=(const ReactorMap&) = delete;

  // Brings the reactor of `name` in line with `entry`: kept when it already watches that entry,
  // switched when the entry is another one (see EntryReactor::notifierIs), removed when the entry
  // is null. A new one is made when there is none, running no handler; made while its owner is
  // being torn down, it is a zombie at once.
  void is(const String& name, const Ptr<const Entry>& entry) {
    const auto it = reactors_.find(name);
    if (it != reactors_.end()) {
      if (!entry) {
        del(name);
      } else if (it->second->notifier() != entry) {
        it->second->notifierIs(entry);
      }
      return;
    }
    if (!entry) return;
    auto reactor = makePtr<Reactor>(owner_, name, entry);
    if (owner_->isZombie()) reactor->kelDoZombieReactors(true);
    reactors_.emplace(name, ReactorSlot<Reactor>(std::move(reactor)));
  }

  // Takes the reactor of `name` out, retired (see ReactorSlot). Returns the entry it watched, or
  // null when there was none.
  Ptr<const Entry> del(const String& name) {
    const auto it = reactors_.find(name);
    if (it == reactors_.end()) return nullptr;
    const Ptr<Reactor> reactor = it->second.del();
    reactors_.erase(it);
    return reactor->watched();
  }

  void delAll() {
    while (!reactors_.empty()) del(reactors_.begin()->first);
  }

  std::size_t size() const noexcept { return reactors_.size(); }
  // The reactor of `name`, or null.
  const Reactor* find(const String& name) const {
    const auto it = reactors_.find(name);
    return it == reactors_.end() ? nullptr : it->second.get();
  }

 private:
  Owner* owner_;
  std::map<String, ReactorSlot<Reactor>> reactors_;
};

}  // namespace Kel
