#pragma once

#include <filesystem>
#include <stdexcept>

#include "CAgent.h"
#include "Clock/Mux/RoutePlan.h"

namespace velaclockd {

// The agent library cannot be loaded, or does not export an agent factory.
class AgentLoadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What an agent library exports: its factory `kelAgentFactory`, and, when it routes clock
// signals, `kelAgentRoutePlanner` and `kelAgentRouteApplier` (else null).
struct AgentLibrary {
  CAgentFactory factory = nullptr;
  CAgentRoutePlanner routePlanner = nullptr;
  CAgentRouteApplier routeApplier = nullptr;
};

// Loads the agent library at `library` (for the life of the process). Throws AgentLoadError.
AgentLibrary loadAgentLibrary(const std::filesystem::path& library);

}  // namespace velaclockd
