#include <gtest/gtest.h>

#include <cmath>

#include "TestTypes.h"

using namespace KelTest;
using Kel::makePtr;
using Kel::Ptr;

TEST(Notification, SettersAnnounceOnlyRealChanges) {
  auto item = makePtr<Item>("a");
  auto recorder = makePtr<Recorder>(item);

  item->countIs(0);  // the default: no change
  item->countIs(7);
  item->countIs(7);
  item->labelIs("x");
  item->levelIs(NAN);
  item->levelIs(NAN);  // still NaN: no change
  item->levelIs(-0.0f);
  item->levelIs(0.0f);

  const std::vector<Heard> expected{{Item::countId, ""},
                                    {Item::labelId, ""},
                                    {Item::levelId, ""},
                                    {Item::levelId, ""},
                                    {Item::levelId, ""}};
  EXPECT_EQ(recorder->heard, expected);
  EXPECT_EQ(item->count(), 7u);
}

TEST(Notification, CollectionsAnnounceAddReplaceAndDeleteOnly) {
  auto box = makePtr<Box>("box");
  auto recorder = makePtr<Recorder>(box);

  const Ptr<Item> first = box->itemIs("k");
  EXPECT_EQ(box->itemIs("k"), first);    // present: silent, same entry
  EXPECT_EQ(box->itemIs(first), first);  // the very object: silent
  const auto second = makePtr<Item>("k");
  box->itemIs(second);  // another object under the same name
  EXPECT_EQ(box->item("k"), second);
  EXPECT_EQ(box->itemDel("k"), second);
  EXPECT_EQ(box->itemDel("k"), nullptr);  // absent: silent
  box->favouriteIs(first);
  box->favouriteIs(first);

  const std::vector<Heard> expected{
      {Box::itemId, "k"}, {Box::itemId, "k"}, {Box::itemId, "k"}, {Box::favouriteId, ""}};
  EXPECT_EQ(recorder->heard, expected);
}

TEST(Notification, CollectionsIterateInByteOrder) {
  auto box = makePtr<Box>("box");
  for (const char* key : {"b", "B", "a", "_", "aa"}) box->itemIs(key);
  std::vector<Kel::String> seen;
  for (const auto& item : Ptr<const Box>(box)->item()) seen.push_back(item->name());
  EXPECT_EQ(seen, (std::vector<Kel::String>{"B", "_", "a", "aa", "b"}));
}

TEST(Notification, OnlyRegisteredActiveLivingReactorsHearInRegistrationOrder) {
  auto item = makePtr<Item>("a");
  std::vector<int> order;
  auto first = makePtr<Recorder>(item, &order, 1);
  auto second = makePtr<Recorder>(item, &order, 2);
  auto inactive = makePtr<Recorder>(item, &order, 3);
  inactive->hasNotificationActiveIs(false);
  auto unregistered = makePtr<Recorder>(item, &order, 4);
  unregistered->isRegisteredNotifieeIs(false);
  auto zombie = makePtr<Recorder>(item, &order, 5);
  zombie->kelDoZombieReactors(true);
  auto third = makePtr<Recorder>(item, &order, 6);

  item->countIs(1);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 6}));
  EXPECT_FALSE(zombie->hasNotificationActive());

  zombie->kelDoZombieReactors(false);  // revived: its notification comes back on
  order.clear();
  item->countIs(2);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 5, 6}));
}

TEST(Notification, ReactorsFollowTheirNotifier) {
  auto a = makePtr<Item>("a");
  auto b = makePtr<Item>("b");
  auto recorder = makePtr<Recorder>(a);
  recorder->notifierIs(b);
  a->countIs(1);
  b->countIs(1);
  EXPECT_EQ(recorder->heard.size(), 1u);
  EXPECT_EQ(a->notifieeList().size(), 0u);
  EXPECT_EQ(b->notifieeList().size(), 1u);
  recorder->notifierIs(nullptr);
  EXPECT_EQ(b->notifieeList().size(), 0u);
}

// Handlers that change the set of reactors while a change is being delivered: every reactor that
// was registered when delivery began and is still registered is called exactly once, a removed or
// freed one never, a new one from the next change on. AddressSanitizer checks the frees.
TEST(Notification, DeliveryStaysSafeWhenHandlersChangeReactors) {
  auto item = makePtr<Item>("a");
  std::vector<int> order;
  auto first = makePtr<Recorder>(item, &order, 1);
  auto victim = makePtr<Recorder>(item, &order, 2);
  Recorder* self = new Recorder(item, &order, 3);
  Ptr<Recorder> selfOwner(self);
  auto last = makePtr<Recorder>(item, &order, 4);
  Ptr<Recorder> latecomer;

  first->action = [&] {
    victim.reset();  // frees a reactor later in the list
    latecomer = makePtr<Recorder>(item, &order, 5);
  };
  self->action = [&] {
    selfOwner.reset();          // drops the last outside reference to the running reactor
    self->heard.push_back({});  // still alive until its handler returns
  };
  item->countIs(1);
  EXPECT_EQ(order, (std::vector<int>{1, 3, 4}));
  EXPECT_EQ(item->notifieeList().size(), 3u);
  EXPECT_EQ(item->notifieeList().slots(), 3u);  // the places the gone ones held are closed

  order.clear();
  first->action = nullptr;
  item->countIs(2);
  EXPECT_EQ(order, (std::vector<int>{1, 4, 5}));
}

TEST(Notification, NestedChangesAndALostNotifierStaySafe) {
  auto box = makePtr<Box>("box");
  std::vector<int> order;
  auto outer = makePtr<Recorder>(box, &order, 1);
  auto inner = makePtr<Recorder>(box, &order, 2);
  outer->action = [&] {
    outer->action = nullptr;
    box->openIs(true);  // a nested change reaches everybody before the outer one goes on
  };
  box->itemIs("x");
  EXPECT_EQ(order, (std::vector<int>{1, 1, 2, 2}));
  EXPECT_EQ(inner->heard.front(), (Heard{Box::openId, ""}));

  // A handler that drops the notifier's last references: the notifier lives until delivery ends.
  Kel::PtrInterface* raw = box.get();
  outer->action = [&] {
    outer->notifierIs(nullptr);
    inner->notifierIs(nullptr);
    box.reset();
  };
  static_cast<Box*>(raw)->openIs(false);
  EXPECT_EQ(box, nullptr);
  EXPECT_EQ(inner->heard.size(), 2u);  // unbound before its turn
}

TEST(Notification, ReactorsThatHearFirstStandBeforeTheOthers) {
  auto item = makePtr<Item>("a");
  std::vector<int> order;
  auto acting = makePtr<Recorder>(item, &order, 1);
  const auto observer = [&](int tag) {
    auto r = makePtr<Recorder>(nullptr, &order, tag);
    r->hearsFirstIs(true);
    r->notifierIs(item);
    return r;
  };
  auto first = observer(2);
  auto second = observer(3);
  item->countIs(1);
  EXPECT_EQ(order, (std::vector<int>{2, 3, 1}));

  // An observer gone during a delivery leaves the others in place; one that joins during a
  // delivery of the same notifier waits at the end, so that delivery skips and repeats nothing.
  Ptr<Recorder> late;
  first->action = [&] {
    second.reset();
    late = observer(4);
  };
  order.clear();
  item->countIs(2);
  EXPECT_EQ(order, (std::vector<int>{2, 1}));
  first->action = nullptr;
  order.clear();
  item->countIs(3);
  EXPECT_EQ(order, (std::vector<int>{2, 1, 4}));
  auto fifth = observer(5);
  order.clear();
  item->countIs(4);
  EXPECT_EQ(order, (std::vector<int>{2, 5, 1, 4}));
}
