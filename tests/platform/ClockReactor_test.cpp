#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Kel/Activity.h"
#include "Kel/AttributeReactor.h"
#include "Kel/ClockReactor.h"
#include "Kel/VirtualTime.h"
#include "TestTypes.h"

using Kel::makePtr;
using Kel::Ptr;
using Kel::Seconds;

namespace {

// A machine with an attribute reactor and then a clock reactor, logging what runs.
class Timed : public Kel::StateMachine {
 public:
  void tick() { log.push_back("tick"); }
  void counted() { log.push_back("counted"); }
  using ItemReactor =
      Kel::AttributeReactor<Timed, KelTest::Item, Kel::On<KelTest::Item::countId, &Timed::counted>>;
  using Timer = Kel::ClockReactor<Timed, &Timed::tick>;

  explicit Timed(const Ptr<const KelTest::Item>& item)
      : item_(makePtr<ItemReactor>(this, item)), timer(makePtr<Timer>(this)) {}
  ~Timed() override { retireReactors(); }

  Ptr<ItemReactor> item_;
  Ptr<Timer> timer;
  std::vector<std::string> log;
};

}  // namespace

TEST(ClockReactor, RunsItsOwnersHandlerOnBindingAndAtItsWakeUp) {
  Kel::VirtualTime time;
  const auto machine = makePtr<Timed>(makePtr<KelTest::Item>("i"));
  const Ptr<Kel::Clock> clock = Kel::ActivityFacility::clock();
  machine->timer->timeMinIs(time.now() + 1);  // asked before binding: armed when bound
  EXPECT_EQ(clock->nextWakeUp(), Kel::infiniteTime);
  machine->timer->notifierIs(clock);
  EXPECT_EQ(machine->log, std::vector<std::string>{"tick"});  // binding runs it once, at once
  EXPECT_EQ(clock->nextWakeUp(), time.now() + 1);
  machine->timer->notifierIs(clock);  // the same clock again: nothing
  time.runFor(2);
  EXPECT_EQ(machine->log, (std::vector<std::string>{"tick", "tick"}));
  EXPECT_EQ(machine->timer->pendingWakeUp(), Kel::infiniteTime);  // delivered
  EXPECT_EQ(machine->timer->timeMin(), time.now() - 1);

  // Another clock takes the wake-up still to come along; a delivered one is not armed again.
  const auto other = makePtr<Kel::Clock>();
  machine->timer->notifierIs(other);
  EXPECT_EQ(other->nextWakeUp(), Kel::infiniteTime);
  machine->timer->timeMinIs(time.now() + 3);
  machine->timer->notifierIs(clock);
  machine->timer->notifierIs(other);
  EXPECT_EQ(clock->nextWakeUp(), Kel::infiniteTime);
  EXPECT_EQ(other->nextWakeUp(), time.now() + 3);
  other->wakeDue(time.now() + 3);
  EXPECT_EQ(machine->log.size(), 6u);  // three bindings and one wake-up since
  EXPECT_EQ(machine->timer->watched(), other);
}

TEST(ClockReactor, IsSwitchedAndZombifiedWithItsMachinesOtherReactors) {
  Kel::VirtualTime time;
  const auto item = makePtr<KelTest::Item>("i");
  auto machine = makePtr<Timed>(item);
  machine->timer->notifierIs(Kel::ActivityFacility::clock());
  machine->log.clear();
  machine->hasNotificationActiveIs(true);
  machine->timer->timeMinIs(time.now() + 1);
  machine->hasNotificationActiveIs(false);
  EXPECT_FALSE(machine->item_->hasNotificationActive());
  EXPECT_FALSE(machine->timer->hasNotificationActive());
  item->countIs(1);
  time.runFor(2);  // the wake-up came while switched off: it is gone
  EXPECT_TRUE(machine->log.empty());

  machine->hasNotificationActiveIs(true);
  machine->kelDoZombieReactors(true);
  EXPECT_TRUE(machine->item_->isZombie() && machine->timer->isZombie());
  machine->timer->timeMinIs(time.now() + 1);
  machine->timer->notifierIs(makePtr<Kel::Clock>());  // a zombie runs nothing, even on binding
  item->countIs(2);
  time.runFor(2);
  EXPECT_TRUE(machine->log.empty());
  machine->kelDoZombieReactors(false);
  item->countIs(3);
  machine->timer->notifierIs(Kel::ActivityFacility::clock());
  EXPECT_EQ(machine->log, (std::vector<std::string>{"counted", "tick"}));

  // Once the machine is gone its reactor has no owner: a wake-up finds nobody and is harmless.
  const Ptr<Timed::Timer> timer = machine->timer;
  timer->timeMinIs(time.now() + 1);
  machine.reset();
  EXPECT_EQ(timer->owner(), nullptr);
  time.runFor(2);
  EXPECT_EQ(timer->pendingWakeUp(), Kel::infiniteTime);
}
