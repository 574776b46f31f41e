#include "host/Watch.h"

#include <fmt/format.h>

#include <map>

#include "host/EntityJson.h"

namespace velaclockd {

using Json = nlohmann::ordered_json;

namespace {
std::size_t entitiesBelow(const Kel::Entity& entity, std::size_t limit) {
  std::size_t count = 1;
  for (const auto& collection : entity.fwkType().collections()) {
    for (const Kel::String& key : collection.keys(entity)) {
      if (count > limit) return count;
      if (const auto entry = Kel::dynamicPtrCast<Kel::Entity>(collection.entry(entity, key))) {
        count += entitiesBelow(*entry, limit - count);
      }
    }
  }
  return count;
}
}  // namespace

// Hears one entity's changes for the watch, and keeps a reactor on each entry of its collections,
// in step with them. Where the entity stands (its path and the entries leading to it) is found
// through the parents when a line is made, so a reactor holds no copy of it.
class Watch::EntityReactor : public Kel::PtrInterface::NotifieeConst {
 public:
  EntityReactor(Watch& watch, const Kel::Ptr<Kel::Entity>& entity, std::size_t root,
                const EntityReactor* parent, const Kel::CollectionDescriptor* collection,
                Kel::String key)
      : watch_(&watch),
        entity_(entity),
        root_(root),
        parent_(parent),
        collection_(collection),
        key_(std::move(key)) {
    ++watch.following_;
    hearsFirstIs(true);  // report each change before the agent's reactions to it
    notifierIs(entity);
    isRegisteredNotifieeIs(true);
    hasNotificationActiveIs(true);
    for (const auto& entries : entity->fwkType().collections()) {
      for (const Kel::String& entryKey : entries.keys(*entity)) entryIs(entries, entryKey);
    }
  }

  void onAttribute(Kel::AttributeId id, const void* value) override {
    if (watch_) changed(id, value);
  }
  // Stops hearing anything: the watch is going.
  void retire() {
    watch_ = nullptr;
    for (auto& [where, child] : children_) child->retire();
  }

  std::size_t root() const { return root_; }
  // The change line's start: where this entity stands.
  Json event() const {
    Json within = Json::array();
    const EntityReactor* at = this;
    for (; at->parent_; at = at->parent_) {
      within.insert(within.begin(), Json{{"collection", at->collection_->name}, {"key", at->key_}});
    }
    Json line{{"event", "change"}, {"path", at->watch_->watched_[root_].first}};
    if (!within.empty()) line["within"] = std::move(within);
    return line;
  }

 private:
  void changed(Kel::AttributeId id, const void* value) {
    const Kel::TypeInfo& type = entity_->fwkType();
    for (const auto& attribute : type.attributes()) {
      if (attribute.id != id) continue;
      Json line = event();
      line["attribute"] = attribute.name;
      line["value"] = attributeToJson(attribute, *entity_);
      watch_->changed(*this, line);
      return;
    }
    for (const auto& collection : type.collections()) {
      if (collection.id != id) continue;
      const Kel::String& key = *static_cast<const Kel::String*>(value);
      entryIs(collection, key);
      if (!watch_) return;  // the watch was ended: it outgrew what it may follow
      const auto entry = collection.entry(*entity_, key);
      Json line = event();
      line["collection"] = collection.name;
      line["key"] = key;
      line["entry"] = entry ? entityToJson(*entry) : Json(nullptr);
      watch_->changed(*this, line);
      return;
    }
  }

  // Brings the reactor of one collection entry in line with the entry now under `key`.
  void entryIs(const Kel::CollectionDescriptor& collection, const Kel::String& key) {
    const auto entry = Kel::dynamicPtrCast<Kel::Entity>(collection.entry(*entity_, key));
    const std::pair<const Kel::CollectionDescriptor*, Kel::String> where{&collection, key};
    auto it = children_.find(where);
    if (it != children_.end() && (!entry || &it->second->entity() != entry.get())) {
      it->second->retire();
      watch_->following_ -= it->second->following();
      children_.erase(it);
      it = children_.end();
    }
    if (!entry || it != children_.end() || !watch_) return;
    if (!watch_->roomFor(*entry)) {
      watch_->end();
      return;
    }
    auto child = Kel::makePtr<EntityReactor>(*watch_, entry, root_, this, &collection, key);
    children_.emplace(where, std::move(child));
  }

  const Kel::Entity& entity() const { return *entity_; }
  // This entity and those below it.
  std::size_t following() const {
    std::size_t count = 1;
    for (const auto& [where, child] : children_) count += child->following();
    return count;
  }

  Watch* watch_;
  Kel::Ptr<Kel::Entity> entity_;
  std::size_t root_;
  const EntityReactor* parent_;
  const Kel::CollectionDescriptor* collection_;
  Kel::String key_;
  std::map<std::pair<const Kel::CollectionDescriptor*, Kel::String>, Kel::Ptr<EntityReactor>>
      children_;
};

std::size_t Watch::entitiesToFollow(const Watched& watched, std::size_t limit) {
  std::size_t count = 0;
  for (const auto& [path, entity] : watched) {
    if (count > limit) break;
    count += entitiesBelow(*entity, limit - count);
  }
  return count;
}

Watch::Watch(Connection& connection, Watched watched, std::size_t limit)
    : connection_(connection), watched_(std::move(watched)), limit_(limit) {
  for (std::size_t root = 0; root < watched_.size(); ++root) {
    roots_.push_back(
        Kel::makePtr<EntityReactor>(*this, watched_[root].second, root, nullptr, nullptr, ""));
  }
}

Watch::~Watch() {
  for (const auto& root : roots_) root->retire();
}

bool Watch::roomFor(const Kel::Entity& entry) const {
  return following_ < limit_ && following_ + entitiesBelow(entry, limit_ - following_) <= limit_;
}

// Stops following anything and tells the subscriber why; its connection then closes.
void Watch::end() {
  if (ended_) return;
  ended_ = true;
  for (const auto& root : roots_) root->retire();
  connection_.streamEnds(fmt::format(
      "the watched entities grew past {}, the most one watch follows; watch fewer paths", limit_));
}

void Watch::changed(const EntityReactor& reactor, const Json& line) {
  switch (state_) {
    case State::live:
      if (!connection_.push(line)) {
        state_ = State::behind;
        missed_ = 1;
      }
      return;
    case State::behind:
      ++missed_;
      return;
    case State::snapshot:
      // A path whose snapshot line is still to come shows the change there.
      if (reactor.root() < nextSnapshot_ && !connection_.push(line)) ++missed_;
      return;
  }
}

Json Watch::snapshotLine(std::size_t root) const {
  const auto& [path, entity] = watched_[root];
  return {{"event", "snapshot"}, {"path", path}, {"entity", entityToJson(*entity)}};
}

void Watch::drained() {
  catchUp();
}

// Sends what the subscriber is owed, as far as its queue takes it: the notice of what it missed,
// then the snapshot, path by path. Lines lost while the snapshot goes out mean another notice and
// another snapshot, once there is room.
void Watch::catchUp() {
  while (state_ != State::live && !ended_) {
    if (state_ == State::behind) {
      if (!connection_.push({{"event", "overflow"}, {"missed", missed_}})) return;
      missed_ = 0;
      nextSnapshot_ = 0;
      state_ = State::snapshot;
    }
    for (; nextSnapshot_ < watched_.size(); ++nextSnapshot_) {
      if (!connection_.push(snapshotLine(nextSnapshot_))) return;
    }
    state_ = missed_ > 0 ? State::behind : State::live;
  }
}

}  // namespace velaclockd
