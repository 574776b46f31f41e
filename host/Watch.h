#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "Kel/Entity.h"
#include "host/ControlServer.h"

namespace velaclockd {

// A subscription to the changes of some entities of the state database. Each change of one of
// their attributes, or of an entry of one of their collections, at any depth, becomes one line
// pushed to the subscriber, in the order the changes happen (see velaclock/ControlProtocol.h). A
// subscriber that does not keep up never holds the daemon back: once its queue is full, lines are
// dropped and counted, and when it has caught up it is told how many it missed and gets a fresh
// snapshot of everything it watches.
class Watch : public Stream {
 public:
  using Watched = std::vector<std::pair<Kel::String, Kel::Ptr<Kel::Entity>>>;  // by path

  Watch(Connection& connection, Watched watched);
  ~Watch() override;
  Watch(const Watch&) = delete;
  Watch& operator=(const Watch&) = delete;

  void drained() override;

 private:
  class EntityReactor;
  // Where an entity stands: its path, and the collection entries that lead to it.
  struct Place {
    Kel::String path;
    nlohmann::ordered_json within = nlohmann::ordered_json::array();
    Place entry(const Kel::String& collection, const Kel::String& key) const;
  };

  void changed(EntityReactor& reactor, Kel::AttributeId id, const void* value);
  nlohmann::ordered_json event(const Place& place) const;
  void emit(const nlohmann::ordered_json& line);
  void snapshot();

  Connection& connection_;
  Watched watched_;
  std::vector<Kel::Ptr<EntityReactor>> roots_;
  std::uint64_t missed_ = 0;
};

}  // namespace velaclockd
