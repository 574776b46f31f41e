#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Clock/Mux/AccessMethod.h"
#include "Corral/EntityManager.h"
#include "Kel/String.h"

namespace Clock::Mux {

// One mux of a route, in the order the muxes are programmed (farthest from the sink first): the
// source it must select, and the bits of its control register that select it.
struct RouteStep {
  Kel::String mux;
  Kel::String selects;
  std::uint32_t controlRegister = 0;
  std::uint8_t bitMask = 0;
  std::uint8_t bitValue = 0;
  AccessMethod method = AccessMethod::clockMuxHam;
  Kel::String ham;  // the Ham whose registers hold it ("" when not reached through one)
};

// How a source would be routed to a sink, found without programming anything: the steps, or why
// there is no route; the muxes searched, in order; and the cliConfig directory where the sink's
// wanted source is filed.
struct RoutePlan {
  std::vector<RouteStep> steps;
  std::string failure;
  std::vector<Kel::String> searched;
  Kel::String sinkCliConfigPath;
};

}  // namespace Clock::Mux

// An agent that routes clock signals may export, under the C name `kelAgentRoutePlanner`, how it
// would route `source` to `sink` in the state database it has mounted.
using CAgentRoutePlanner = Clock::Mux::RoutePlan (*)(const Corral::EntityManager& database,
                                                     const Kel::String& sink,
                                                     const Kel::String& source);

class CAgent;
// Such an agent may also export, under the C name `kelAgentRouteApplier`, how `agent` makes
// `source` the wanted source of `sink`, routing it even when it already is (to repair a route the
// hardware lost). Returns why it cannot, or "" once done.
using CAgentRouteApplier = std::string (*)(CAgent& agent, const Kel::String& sink,
                                           const Kel::String& source);
