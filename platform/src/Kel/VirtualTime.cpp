#include "Kel/VirtualTime.h"

#include <stdexcept>
#include <string>

#include "Kel/Activity.h"

namespace Kel {

namespace {
// Turns in a row at one virtual time before settle() gives up: a handler keeps re-arming itself.
constexpr int maxTurnsAtOneTime = 100000;
}  // namespace

VirtualTime::VirtualTime(Seconds monotonicStart, Seconds utcStart)
    : source_(monotonicStart, utcStart), previous_(timeSourceIs(&source_)) {}

VirtualTime::~VirtualTime() {
  timeSourceIs(previous_);
}

void VirtualTime::turn() {
  ActivityFacility::manager().turn(false);
  source_.advanceBy(turnCost_);
}

void VirtualTime::settle() {
  auto& manager = ActivityFacility::manager();
  for (int turns = 0; manager.hasDueWork(now()); ++turns) {
    if (turns == maxTurnsAtOneTime) {
      throw std::runtime_error("virtual time: work stays due at t=" + std::to_string(now()) +
                               " after " + std::to_string(turns) + " turns");
    }
    turn();
  }
}

void VirtualTime::runUntil(Seconds t) {
  for (;;) {
    settle();
    const Seconds next = ActivityFacility::clock()->nextWakeUp();
    if (next > t) break;
    source_.advanceTo(next);
  }
  source_.advanceTo(t);
  settle();
}

bool VirtualTime::advanceToNextWakeUp() {
  settle();
  const Seconds next = ActivityFacility::clock()->nextWakeUp();
  if (next == infiniteTime) return false;
  source_.advanceTo(next);
  settle();
  return true;
}

}  // namespace Kel
