#pragma once

#include <functional>
#include <vector>

#include "Kel/Entity.h"

// Small entity types and a recording reactor for the framework's own tests.
namespace KelTest {

#define KELTEST_ITEM(attribute, collection, reference) \
  attribute(std::uint32_t, count) attribute(float, level) attribute(Kel::String, label)
#define KELTEST_BOX(attribute, collection, reference) \
  attribute(bool, open) collection(Item, item) reference(Item, favourite)

KEL_ENTITY_CLASS(KelTest, Item, Kel::Entity, KELTEST_ITEM);
KEL_ENTITY_CLASS(KelTest, Box, Kel::Entity, KELTEST_BOX);

// One notification as a reactor saw it.
struct Heard {
  Kel::AttributeId id;
  Kel::String key;  // for collections
  bool operator==(const Heard&) const = default;
};

// Records what it hears and can run an action from inside its handler.
class Recorder : public Kel::PtrInterface::NotifieeConst {
 public:
  explicit Recorder(const Kel::Ptr<const Kel::PtrInterface>& notifier,
                    std::vector<int>* order = nullptr, int tag = 0)
      : order_(order), tag_(tag) {
    notifierIs(notifier);
    isRegisteredNotifieeIs(true);
    hasNotificationActiveIs(true);
  }
  void onAttribute(Kel::AttributeId id, const void* value) override {
    const bool isKey = dynamic_cast<const Box*>(notifier().get()) && id == Box::itemId;
    heard.push_back({id, isKey ? *static_cast<const Kel::String*>(value) : ""});
    if (order_) order_->push_back(tag_);
    if (action) action();
  }
  std::vector<Heard> heard;
  std::function<void()> action;

 private:
  std::vector<int>* order_;
  int tag_;
};

}  // namespace KelTest
