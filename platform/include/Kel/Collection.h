#pragma once

#include <cstddef>
#include <functional>
#include <iterator>
#include <map>
#include <vector>

#include "Kel/AttributeId.h"
#include "Kel/Ptr.h"
#include "Kel/String.h"

namespace Kel {

// Read-only walk over a collection in ascending key order, yielding each entry. The collection must
// not change during the walk; a walk that may change it iterates keys() instead.
template <class Entry>
class CollectionView {
 public:
  using Map = std::map<String, Ptr<std::remove_const_t<Entry>>, std::less<>>;

  class iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = Ptr<Entry>;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = Ptr<Entry>;

    iterator() = default;
    explicit iterator(typename Map::const_iterator it) : it_(it) {}
    Ptr<Entry> operator*() const { return it_->second; }
    iterator& operator++() {
      ++it_;
      return *this;
    }
    iterator operator++(int) { return iterator(it_++); }
    bool operator==(const iterator&) const = default;

   private:
    typename Map::const_iterator it_;
  };

  explicit CollectionView(const Map& map) : map_(&map) {}
  iterator begin() const { return iterator(map_->begin()); }
  iterator end() const { return iterator(map_->end()); }
  std::size_t size() const { return map_->size(); }
  bool empty() const { return map_->empty(); }
  // The keys as they are now, for a walk whose steps may change the collection.
  std::vector<String> keys() const {
    std::vector<String> keys;
    keys.reserve(map_->size());
    for (const auto& [key, entry] : *map_) keys.push_back(key);
    return keys;
  }
  // Up to `count` keys after `after` (from the first when null), for a walk of a large collection
  // in parts that resumes wherever the collection then stands.
  std::vector<String> keysAfter(const String* after, std::size_t count) const {
    std::vector<String> keys;
    for (auto it = after ? map_->upper_bound(*after) : map_->begin();
         it != map_->end() && keys.size() < count; ++it) {
      keys.push_back(it->first);
    }
    return keys;
  }

 private:
  const Map* map_;
};

// A keyed collection of entities, owned by the entity that declares it. Every change that the
// owner's reactors must hear of goes through `Owner::notifyKey`: an add, a replacement by another
// object, and the removal of a present key. Asking for a present key, or filing the very object
// already there, is silent.
template <class Entry>
class Collection {
 public:
  using Map = typename CollectionView<Entry>::Map;

  Ptr<Entry> find(const String& key) const {
    const auto it = map_.find(key);
    return it == map_.end() ? Ptr<Entry>() : it->second;
  }
  std::size_t size() const { return map_.size(); }
  CollectionView<const Entry> view() const { return CollectionView<const Entry>(map_); }
  std::vector<String> keys() const { return view().keys(); }
  std::vector<String> keysAfter(const String* after, std::size_t count) const {
    return view().keysAfter(after, count);
  }

  // The entry under `key`, created (and announced) when absent.
  template <class Owner>
  Ptr<Entry> is(Owner& owner, AttributeId id, const String& key) {
    if (auto present = find(key)) return present;
    auto entry = makePtr<Entry>(key);
    map_.emplace(key, entry);
    owner.notifyKey(id, key);
    return entry;
  }

  // Files `entry` under its name, replacing (and announcing) another object of that name.
  template <class Owner>
  Ptr<Entry> is(Owner& owner, AttributeId id, const Ptr<Entry>& entry) {
    if (!entry) return entry;
    auto& slot = map_[entry->name()];
    if (slot == entry) return entry;
    slot = entry;
    owner.notifyKey(id, entry->name());
    return entry;
  }

  // Removes `key`; returns the entry removed, or null when there was none.
  template <class Owner>
  Ptr<Entry> del(Owner& owner, AttributeId id, const String& key) {
    const auto it = map_.find(key);
    if (it == map_.end()) return {};
    Ptr<Entry> removed = std::move(it->second);
    map_.erase(it);
    owner.notifyKey(id, key);
    return removed;
  }

 private:
  Map map_;
};

}  // namespace Kel
