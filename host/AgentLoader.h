#pragma once

#include <filesystem>
#include <stdexcept>

#include "CAgent.h"

namespace velaclockd {

// The agent library cannot be loaded, or does not export an agent factory.
class AgentLoadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Loads the agent library at `library` (for the life of the process) and returns its factory,
// the `kelAgentFactory` it exports. Throws AgentLoadError.
CAgentFactory loadAgentFactory(const std::filesystem::path& library);

}  // namespace velaclockd
