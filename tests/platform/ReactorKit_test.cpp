#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "Kel/AttributeReactor.h"
#include "Kel/CollectionReactor.h"
#include "Kel/ReactorMap.h"
#include "Kel/ReactorSlot.h"
#include "TestTypes.h"

using namespace KelTest;
using Kel::makePtr;
using Kel::Ptr;

namespace {

// A machine on the whole kit: a collection reactor on a box, an attribute reactor on one item and
// one reactor per entry of the box. It logs what runs, and can run an action from a handler.
class Machine : public Kel::StateMachine {
 public:
  void itemChanged(const Kel::String& key) {
    log.push_back("item " + key);
    if (action) action();
  }
  void counted() { log.push_back("counted"); }
  void labelled() { log.push_back("labelled"); }
  void walk() {
    log.push_back("walk");
    if (action) action();
  }

  using BoxReactor = Kel::CollectionReactor<Machine, Box, Box::itemId, &Machine::itemChanged>;
  using ItemReactor =
      Kel::AttributeReactor<Machine, Item, Kel::On<Item::countId, &Machine::counted>,
                            Kel::On<Item::labelId, &Machine::labelled>>;
  using EntryReactor =
      Kel::EntryReactor<Machine, Item, &Machine::walk, Item::countId, Item::levelId>;

  Machine(const Ptr<Box>& box, const Ptr<const Item>& item)
      : box_(makePtr<BoxReactor>(this, box)), item_(makePtr<ItemReactor>(this, item)) {}

  std::vector<std::string> log;
  std::function<void()> action;
  std::function<void()> atTearDown;  // run as the machine's other members go
  // Declared before the reactors, so it goes after them.
  struct TearDown {
    std::function<void()>& run;
    ~TearDown() {
      if (run) run();
    }
  } tearDown{atTearDown};
  Kel::ReactorSlot<BoxReactor> box_;
  Kel::ReactorSlot<ItemReactor> item_;
  Kel::ReactorMap<EntryReactor> entries{this};
};

}  // namespace

TEST(ReactorKit, ReactorsRunTheirOwnersOperationsForWhatTheyWatch) {
  const auto box = makePtr<Box>("box");
  const auto item = makePtr<Item>("i");
  const auto machine = makePtr<Machine>(box, item);
  EXPECT_EQ(machine->box_->watched(), box);  // the mutable box, as given

  box->itemIs("a");
  item->countIs(3);
  item->levelIs(1.5F);  // not bound: unheard
  item->labelIs("x");
  box->openIs(true);  // not the collection: unheard
  EXPECT_EQ(machine->log, (std::vector<std::string>{"item a", "counted", "labelled"}));

  // One switch reaches every kind of reactor; a zombie hears nothing even when switched on again.
  machine->hasNotificationActiveIs(true);
  machine->hasNotificationActiveIs(false);
  EXPECT_FALSE(machine->box_->hasNotificationActive());
  EXPECT_FALSE(machine->item_->hasNotificationActive());
  box->itemIs("b");
  machine->hasNotificationActiveIs(true);
  machine->kelDoZombieReactors(true);
  EXPECT_TRUE(machine->box_->isZombie() && machine->item_->isZombie());
  item->countIs(4);
  EXPECT_EQ(machine->log.size(), 3u);
  machine->kelDoZombieReactors(false);
  item->countIs(5);
  EXPECT_EQ(machine->log.back(), "counted");
}

TEST(ReactorKit, PerEntryReactorsKeepSwitchOrGoWithTheirEntries) {
  const auto box = makePtr<Box>("box");
  const auto machine = makePtr<Machine>(box, makePtr<Item>("i"));
  const Ptr<Item> first = box->itemIs("k");
  machine->log.clear();

  machine->entries.is("k", first);  // made: runs nothing
  EXPECT_TRUE(machine->log.empty());
  const auto* reactor = machine->entries.find("k");
  ASSERT_NE(reactor, nullptr);
  EXPECT_EQ(reactor->name(), "k");
  first->levelIs(2.0F);
  first->labelIs("unwatched");
  EXPECT_EQ(machine->log, std::vector<std::string>{"walk"});

  machine->entries.is("k", first);  // the same entry: kept, nothing runs
  EXPECT_EQ(machine->entries.find("k"), reactor);
  EXPECT_EQ(machine->log.size(), 1u);
  const auto second = makePtr<Item>("k");
  machine->entries.is("k", second);  // another entry: switched, and the walk runs
  EXPECT_EQ(machine->entries.find("k"), reactor);
  EXPECT_EQ(machine->log.size(), 2u);
  first->countIs(1);  // the old entry is no longer heard
  second->countIs(1);
  EXPECT_EQ(machine->log.size(), 3u);

  Ptr<Machine::EntryReactor> held(const_cast<Machine::EntryReactor*>(reactor));
  EXPECT_EQ(machine->entries.del("k"), second);
  EXPECT_TRUE(held->isZombie());
  EXPECT_EQ(held->owner(), nullptr);
  EXPECT_FALSE(held->hasNotificationActive());
  EXPECT_EQ(machine->entries.del("k"), nullptr);
  held->notifierIs(first);  // neither a zombie nor an ownerless reactor runs the walk
  EXPECT_EQ(machine->log.size(), 3u);

  machine->entries.is("x", first);
  machine->entries.is("x", nullptr);  // a null entry removes it
  EXPECT_EQ(machine->entries.size(), 0u);
  machine->entries.is("y", first);
  machine->entries.is("z", second);
  machine->entries.delAll();
  EXPECT_EQ(machine->entries.size(), 0u);

  machine->kelDoZombieReactors(true);  // being torn down: a reactor made now is a zombie at once
  machine->entries.is("late", first);
  EXPECT_TRUE(machine->entries.find("late")->isZombie());
}

TEST(ReactorKit, AMachineDroppedInsideItsOwnHandlerLivesUntilItReturns) {
  const auto box = makePtr<Box>("box");
  const auto item = makePtr<Item>("i");
  const Ptr<Item> entry = box->itemIs("k");
  Ptr<Machine> machine = makePtr<Machine>(box, item);
  machine->entries.is("k", entry);
  bool destroyedDuringHandler = false;
  Machine* raw = machine.get();
  raw->action = [&] {
    machine.reset();              // the last outside reference
    raw->log.push_back("after");  // still alive: delivery holds it
    destroyedDuringHandler = raw->references() == 0;
  };
  entry->countIs(9);  // the per-entry reactor's walk drops the machine
  EXPECT_EQ(machine, nullptr);
  EXPECT_FALSE(destroyedDuringHandler);

  // The same through a collection reactor; AddressSanitizer reports any use after free.
  machine = makePtr<Machine>(box, item);
  raw = machine.get();
  raw->action = [&] {
    machine.reset();
    raw->log.push_back("after");
  };
  box->itemIs("other");
  EXPECT_EQ(machine, nullptr);
  box->itemIs("later");  // nobody left to hear it
}

// A machine's reactors are retired before anything else it holds goes: a change made while its
// members are released (a sub-machine writing on its way out) reaches no handler of a machine
// half torn down.
TEST(ReactorKit, AMachinesReactorsAreRetiredBeforeItsOtherMembersGo) {
  const auto box = makePtr<Box>("box");
  const auto item = makePtr<Item>("i");
  auto machine = makePtr<Machine>(box, item);
  machine->entries.is("k", item);
  int heard = 0;
  machine->action = [&heard] { ++heard; };
  machine->atTearDown = [&] {
    box->itemIs("late");
    item->countIs(7);
  };
  const Machine::BoxReactor* watching = machine->box_.get();
  EXPECT_TRUE(box->notifieeList().contains(watching));
  machine.reset();
  EXPECT_EQ(heard, 0);
  EXPECT_FALSE(box->notifieeList().contains(watching));

  // A reactor that joined a machine but is kept elsewhere loses its owner when the machine goes.
  machine = makePtr<Machine>(box, item);
  const auto elsewhere = makePtr<Machine::ItemReactor>(machine.get(), item);
  machine.reset();
  EXPECT_EQ(elsewhere->owner(), nullptr);
  item->countIs(8);  // reaches no machine; AddressSanitizer reports any use after free
}
