#pragma once

#include <functional>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "Clock/Mux/RoutePlan.h"
#include "Corral/EntityManager.h"
#include "host/AgentState.h"
#include "host/ControlServer.h"
#include "host/PlatformDescription.h"

namespace velaclockd {

// How the running agent makes a source the wanted source of a sink (route --apply): "" once done,
// else why not.
using RouteApplier = std::function<std::string(const Kel::String& sink, const Kel::String& source)>;

// Answers control requests against the state database (see velaclock/ControlProtocol.h). Every
// request is checked whole before anything changes: a refused one changes nothing. The agent's
// own state is shown read-only under "agent/" (see AgentState.h), through `agent`.
class ControlService {
 public:
  // `loaded` is the platform description the database was built from; `routePlanner`, when the
  // agent exports one, explains routes (may be null); `agent` finds the running agent;
  // `routeApplier` applies routes through it (when null, --apply files the source as set would).
  explicit ControlService(Kel::Ptr<Corral::EntityManager> database, PlatformDescription loaded = {},
                          CAgentRoutePlanner routePlanner = nullptr, AgentView agent = {},
                          RouteApplier routeApplier = nullptr);

  // The reply, or nullopt when it comes later through the connection (a save).
  std::optional<nlohmann::ordered_json> handle(const nlohmann::json& request,
                                               Connection& connection);
  // Answers a request that comes on no connection; it cannot become a stream, and a save is
  // refused.
  nlohmann::ordered_json handle(const nlohmann::json& request);

 private:
  nlohmann::ordered_json get(const nlohmann::json& request);
  nlohmann::ordered_json set(const nlohmann::json& request);
  nlohmann::ordered_json del(const nlohmann::json& request);
  nlohmann::ordered_json trace(const nlohmann::json& request);
  nlohmann::ordered_json regs(const nlohmann::json& request);
  nlohmann::ordered_json devices(const nlohmann::json& request);
  nlohmann::ordered_json paths(const nlohmann::json& request);
  nlohmann::ordered_json watch(const nlohmann::json& request, Connection& connection);
  nlohmann::ordered_json route(const nlohmann::json& request);
  std::optional<nlohmann::ordered_json> save(Connection& connection);
  nlohmann::ordered_json sim(const nlohmann::json& request);
  static nlohmann::ordered_json scheduling();
  nlohmann::ordered_json getAgentState(const std::string& path) const;
  Kel::Ptr<const Kel::PtrInterface> agent() const;

  Kel::Ptr<Kel::Entity> entityAt(const nlohmann::json& request) const;

  Kel::Ptr<Corral::EntityManager> database_;
  PlatformDescription loaded_;
  CAgentRoutePlanner routePlanner_;
  AgentView agent_;
  RouteApplier routeApplier_;
};

}  // namespace velaclockd
