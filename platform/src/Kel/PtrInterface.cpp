#include "Kel/PtrInterface.h"

#include <algorithm>

#include "Kel/TypeInfo.h"

namespace Kel {

namespace {
const PtrInterface::NotifieeList& emptyNotifieeList() {
  static const PtrInterface::NotifieeList empty;
  return empty;
}
}  // namespace

const PtrInterface::NotifieeList& PtrInterface::notifieeList() const {
  return notifiees_ ? *notifiees_ : emptyNotifieeList();
}

void PtrInterface::hasNotificationActiveIs(bool active) {
  notificationActive_ = active;
}

void PtrInterface::zeroReferencesIs(bool zero) {
  if (zero) delete this;
}

const TypeInfo& PtrInterface::fwkType() const {
  return TypeInfo::ptrInterface();
}

PtrInterface::~PtrInterface() {
  delete notifiees_;
}

void PtrInterface::deleteRef() const {
  if (--references_ == 0) const_cast<PtrInterface*>(this)->zeroReferencesIs(true);
}

void PtrInterface::notify(AttributeId attribute, const void* value) const {
  if (!notifiees_ || notifiees_->slots() == 0) return;
  // A handler may drop the last reference to this notifier or to any reactor; hold both while
  // they are in use. Objects that nobody counts yet (under construction) are left alone.
  const Ptr<const PtrInterface> keepNotifier(references_ > 0 ? this : nullptr);
  NotifieeList& list = *notifiees_;
  list.deliveryBegins();
  const std::size_t end = list.slots();
  for (std::size_t i = 0; i < end; ++i) {
    NotifieeConst* notifiee = list.at(i);
    if (!notifiee || !notifiee->isDeliverable()) continue;
    const Ptr<NotifieeConst> keepNotifiee(notifiee->references() > 0 ? notifiee : nullptr);
    notifiee->onAttribute(attribute, value);
  }
  list.deliveryEnds();
}

void PtrInterface::NotifieeList::add(NotifieeConst* notifiee, bool first) {
  if (!first || deliveries_ > 0) {
    slots_.push_back(notifiee);
    return;
  }
  slots_.insert(slots_.begin() + static_cast<std::ptrdiff_t>(firsts_), notifiee);
  ++firsts_;
}

void PtrInterface::NotifieeList::remove(NotifieeConst* notifiee) {
  const auto it = std::find(slots_.begin(), slots_.end(), notifiee);
  if (it == slots_.end()) return;
  if (deliveries_ > 0) {
    *it = nullptr;
    holes_ = true;
    return;
  }
  if (static_cast<std::size_t>(it - slots_.begin()) < firsts_) --firsts_;
  slots_.erase(it);
}

std::size_t PtrInterface::NotifieeList::size() const {
  return static_cast<std::size_t>(
      std::count_if(slots_.begin(), slots_.end(), [](auto* n) { return n != nullptr; }));
}

bool PtrInterface::NotifieeList::contains(const NotifieeConst* notifiee) const {
  return notifiee && std::find(slots_.begin(), slots_.end(), notifiee) != slots_.end();
}

void PtrInterface::NotifieeList::deliveryEnds() {
  if (--deliveries_ > 0 || !holes_) return;
  const auto firstEnd = slots_.begin() + static_cast<std::ptrdiff_t>(firsts_);
  firsts_ -= static_cast<std::size_t>(std::count(slots_.begin(), firstEnd, nullptr));
  std::erase(slots_, nullptr);
  holes_ = false;
}

void PtrInterface::NotifieeConst::notifierIs(const Ptr<const PtrInterface>& notifier) {
  if (notifier_ == notifier) return;
  const Ptr<const PtrInterface> previous = notifier_;
  notifier_ = notifier;
  if (!registered_) return;
  if (previous) previous->notifiees_->remove(this);
  if (notifier_) {
    if (!notifier_->notifiees_) notifier_->notifiees_ = new NotifieeList;
    notifier_->notifiees_->add(this, hearsFirst_);
  }
}

void PtrInterface::NotifieeConst::isRegisteredNotifieeIs(bool registered) {
  if (registered_ == registered) return;
  registered_ = registered;
  if (!notifier_) return;
  if (registered) {
    if (!notifier_->notifiees_) notifier_->notifiees_ = new NotifieeList;
    notifier_->notifiees_->add(this, hearsFirst_);
  } else {
    notifier_->notifiees_->remove(this);
  }
}

void PtrInterface::NotifieeConst::zeroReferencesIs(bool zero) {
  if (zero) onZeroReferences();
}

PtrInterface::NotifieeConst::~NotifieeConst() {
  if (registered_ && notifier_) notifier_->notifiees_->remove(this);
}

void PtrInterface::NotifieeConst::onZeroReferences() {
  delete this;
}

void PtrInterface::NotifieeConst::onAttribute(AttributeId, const void*) {}

void PtrInterface::NotifieeConst::kelDoZombieReactors(bool zombie) {
  if (zombie_ == zombie) return;
  if (notifier_) hasNotificationActiveIs(!zombie);
  zombie_ = zombie;
}

}  // namespace Kel
