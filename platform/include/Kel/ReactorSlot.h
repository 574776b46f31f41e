#pragma once

#include <utility>

#include "Kel/StateMachine.h"

namespace Kel {

// Where a state machine keeps one of its reactors. Letting the reactor go (del, or the slot going
// with its machine) retires it: flagged for deletion, without an owner and with its notification
// off, so that nothing it hears afterwards reaches the machine. A machine declares its slots after
// everything else it holds; they go first, and every reactor is retired before anything it could
// report on (a sub-machine, a directory) is released.
template <class Reactor>
class ReactorSlot {
 public:
  ReactorSlot() = default;
  // Keeps `reactor`, made for its owner.
  explicit ReactorSlot(Ptr<Reactor> reactor) noexcept : reactor_(std::move(reactor)) {}
  ~ReactorSlot() { del(); }
  ReactorSlot(ReactorSlot&& other) noexcept : reactor_(std::exchange(other.reactor_, nullptr)) {}
  ReactorSlot& operator=(ReactorSlot&& other) noexcept {
    if (this != &other) {
      del();
      reactor_ = std::exchange(other.reactor_, nullptr);
    }
    return *this;
  }
  ReactorSlot(const ReactorSlot&) = delete;
  ReactorSlot& operator=(const ReactorSlot&) = delete;

  Reactor* get() const noexcept { return reactor_.get(); }
  Reactor* operator->() const noexcept { return reactor_.get(); }
  explicit operator bool() const noexcept { return bool(reactor_); }

  // Takes the reactor out, retired; null when there was none.
  Ptr<Reactor> del() {
    Ptr<Reactor> reactor = std::exchange(reactor_, nullptr);
    if (reactor) {
      reactor->kelDoZombieReactors(true);
      reactor->ownerIs(nullptr);
      reactor->hasNotificationActiveIs(false);
    }
    return reactor;
  }

 private:
  Ptr<Reactor> reactor_;
};

}  // namespace Kel
