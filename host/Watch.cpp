#include "host/Watch.h"

#include <map>

#include "host/EntityJson.h"

namespace velaclockd {

using Json = nlohmann::ordered_json;

// Hears one entity's changes for the watch, and keeps a reactor on each entry of its collections,
// in step with them.
class Watch::EntityReactor : public Kel::PtrInterface::NotifieeConst {
 public:
  EntityReactor(Watch& watch, const Kel::Ptr<Kel::Entity>& entity, Place place)
      : watch_(&watch), entity_(entity), place_(std::move(place)) {
    hearsFirstIs(true);  // report each change before the agent's reactions to it
    notifierIs(entity);
    isRegisteredNotifieeIs(true);
    hasNotificationActiveIs(true);
    for (const auto& collection : entity->fwkType().collections()) {
      for (const Kel::String& key : collection.keys(*entity)) entryIs(collection, key);
    }
  }

  void onAttribute(Kel::AttributeId id, const void* value) override {
    if (watch_) watch_->changed(*this, id, value);
  }
  // Stops hearing anything: the watch is going.
  void retire() {
    watch_ = nullptr;
    for (auto& [where, child] : children_) child->retire();
  }

  const Kel::Entity& entity() const { return *entity_; }
  const Place& place() const { return place_; }

  // Brings the reactor of one collection entry in line with the entry now under `key`.
  void entryIs(const Kel::CollectionDescriptor& collection, const Kel::String& key) {
    const auto entry = Kel::dynamicPtrCast<Kel::Entity>(collection.entry(*entity_, key));
    auto& slot = children_[{collection.name, key}];
    if (slot && (!entry || &slot->entity() != entry.get())) {
      slot->retire();
      slot.reset();
    }
    if (entry && !slot && watch_) {
      slot = Kel::makePtr<EntityReactor>(*watch_, entry, place_.entry(collection.name, key));
    }
    if (!slot) children_.erase({collection.name, key});
  }

 private:
  Watch* watch_;
  Kel::Ptr<Kel::Entity> entity_;
  Place place_;
  std::map<std::pair<Kel::String, Kel::String>, Kel::Ptr<EntityReactor>> children_;
};

Watch::Place Watch::Place::entry(const Kel::String& collection, const Kel::String& key) const {
  Place inner = *this;
  inner.within.push_back({{"collection", collection}, {"key", key}});
  return inner;
}

Watch::Watch(Connection& connection, Watched watched)
    : connection_(connection), watched_(std::move(watched)) {
  for (const auto& [path, entity] : watched_) {
    roots_.push_back(Kel::makePtr<EntityReactor>(*this, entity, Place{path}));
  }
}

Watch::~Watch() {
  for (const auto& root : roots_) root->retire();
}

Json Watch::event(const Place& place) const {
  Json line{{"event", "change"}, {"path", place.path}};
  if (!place.within.empty()) line["within"] = place.within;
  return line;
}

void Watch::changed(EntityReactor& reactor, Kel::AttributeId id, const void* value) {
  const Kel::TypeInfo& type = reactor.entity().fwkType();
  for (const auto& attribute : type.attributes()) {
    if (attribute.id != id) continue;
    Json line = event(reactor.place());
    line["attribute"] = attribute.name;
    line["value"] = attributeToJson(attribute, reactor.entity());
    emit(line);
    return;
  }
  for (const auto& collection : type.collections()) {
    if (collection.id != id) continue;
    const Kel::String& key = *static_cast<const Kel::String*>(value);
    reactor.entryIs(collection, key);
    const auto entry = collection.entry(reactor.entity(), key);
    Json line = event(reactor.place());
    line["collection"] = collection.name;
    line["key"] = key;
    line["entry"] = entry ? entityToJson(*entry) : Json(nullptr);
    emit(line);
    return;
  }
}

void Watch::emit(const Json& line) {
  if (missed_ > 0 || !connection_.push(line)) ++missed_;
}

void Watch::drained() {
  if (missed_ == 0) return;
  const std::uint64_t missed = missed_;
  missed_ = 0;
  if (!connection_.push({{"event", "overflow"}, {"missed", missed}})) {
    missed_ = missed;
    return;
  }
  snapshot();
}

// Everything watched, as it is now; a line that does not fit starts the count of missed lines
// again, and the snapshot is sent anew once the watcher has caught up.
void Watch::snapshot() {
  for (const auto& [path, entity] : watched_) {
    emit({{"event", "snapshot"}, {"path", path}, {"entity", entityToJson(*entity)}});
  }
}

}  // namespace velaclockd
