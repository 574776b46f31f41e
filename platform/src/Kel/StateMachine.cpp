#include "Kel/StateMachine.h"

#include <algorithm>

namespace Kel {

ReactorOwnership::~ReactorOwnership() {
  ownerIs(nullptr);
}

void ReactorOwnership::ownerIs(StateMachine* owner) {
  if (owner_ == owner) return;
  if (owner_) std::erase(owner_->reactors_, this);
  owner_ = owner;
  if (owner_) owner_->reactors_.push_back(this);
}

void StateMachine::hasNotificationActiveIs(bool active) {
  if (active == hasNotificationActive()) return;
  PtrInterface::hasNotificationActiveIs(active);
  for (ReactorOwnership* reactor : std::vector(reactors_)) {
    reactor->reactor_.hasNotificationActiveIs(active);
  }
}

void StateMachine::kelDoZombieReactors(bool zombie) {
  if (zombie == zombie_) return;
  for (ReactorOwnership* reactor : std::vector(reactors_)) {
    reactor->reactor_.kelDoZombieReactors(zombie);
  }
  zombie_ = zombie;
}

void StateMachine::retireReactors() {
  kelDoZombieReactors(true);
  while (!reactors_.empty()) reactors_.front()->ownerIs(nullptr);
}

StateMachine::~StateMachine() {
  retireReactors();
}

}  // namespace Kel
