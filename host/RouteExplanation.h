#pragma once

#include <nlohmann/json.hpp>

#include "Clock/Mux/RoutePlan.h"

namespace velaclockd {

// A route plan as the `route` reply shows it: whether a route was found and why not, the muxes
// searched, and each step with the value of its control register before and after it would be
// programmed (muxes sharing a register see each other's changes; null where the register lives in
// no simulated bank). Reads registers without recording an access; changes nothing.
nlohmann::ordered_json explainRoute(const Clock::Mux::RoutePlan& plan);

}  // namespace velaclockd
