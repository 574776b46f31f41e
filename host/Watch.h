#pragma once

#include <cstddef>
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
// dropped and counted; when it has caught up it is told how many it missed, then gets a snapshot
// of everything it watches, one line per watched path as its queue takes them, then the changes
// after it. A change of a path whose snapshot line is still to come is shown by that line.
class Watch : public Stream {
 public:
  using Watched = std::vector<std::pair<Kel::String, Kel::Ptr<Kel::Entity>>>;  // by path

  // The most entities one watch follows, itself and its entries at any depth: each costs the
  // daemon a reactor.
  static constexpr std::size_t maxEntities = 65536;

  // How many entities watching `watched` follows, counted up to `limit` (then `limit` + 1).
  static std::size_t entitiesToFollow(const Watched& watched, std::size_t limit = maxEntities);

  // Follows `watched`, which entitiesToFollow has found to be at most `limit` entities. Should they
  // grow past that, the watch ends (Connection::streamEnds).
  Watch(Connection& connection, Watched watched, std::size_t limit = maxEntities);
  ~Watch() override;
  Watch(const Watch&) = delete;
  Watch& operator=(const Watch&) = delete;

  void drained() override;

 private:
  class EntityReactor;
  // Where the subscriber stands: up to date, behind (lines were dropped), or being sent the
  // snapshot that follows the overflow notice.
  enum class State : std::uint8_t { live, behind, snapshot };

  void changed(const EntityReactor& reactor, const nlohmann::ordered_json& line);
  nlohmann::ordered_json snapshotLine(std::size_t root) const;
  void catchUp();
  bool roomFor(const Kel::Entity& entry) const;
  void end();

  Connection& connection_;
  Watched watched_;
  std::vector<Kel::Ptr<EntityReactor>> roots_;
  State state_ = State::live;
  std::uint64_t missed_ = 0;      // lines dropped since the last overflow notice
  std::size_t nextSnapshot_ = 0;  // the watched path whose snapshot line goes next
  std::size_t limit_;             // the most entities it may follow
  std::size_t following_ = 0;     // entities followed, each by its reactor
  bool ended_ = false;            // it outgrew maxEntities and was ended
};

}  // namespace velaclockd
