#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Clock/Mux/RoutePlan.h"
#include "Hardware/ClockMux.h"

namespace VelaClockAgent {

// One mux on the route from a sink towards a source: level 1 drives the sink, level 2 feeds a
// level-1 mux, and so on.
struct MuxSetupInfo {
  Kel::String name;
  std::int32_t level = 0;
  bool operator==(const MuxSetupInfo&) const = default;
};

// The mux named `name` (first in iteration order), or null. Not a counted reference: use it
// within the same handler.
const Hardware::ClockMux::MuxConfig* getMuxByName(
    Kel::String name, Kel::Ptr<Hardware::ClockMux::MuxConfigDir const> configDir);
// The first mux, in iteration order, whose sinks include `sinkName`, or null.
const Hardware::ClockMux::MuxConfig* getMuxForSink(
    Kel::String sinkName, Kel::Ptr<Hardware::ClockMux::MuxConfigDir const> configDir);
// The names of the mux's sources, in iteration order.
std::vector<Kel::String> getMuxSources(Hardware::ClockMux::MuxConfig const* mux);
// Traces the list, first to last.
void dumpMuxesToSetupVector(std::vector<MuxSetupInfo> list);

// What the search for a route found: `muxesToSetup` holds the route from the sink's mux (first)
// to `offeringMux` (last), with the mux sources appended beside it that were never searched; or,
// when no route exists, `failure` says why and nothing is to be programmed.
struct RouteSearch {
  std::vector<MuxSetupInfo> muxesToSetup;
  Kel::String offeringMux;
  std::string failure;
  std::vector<Kel::String> searched;  // the muxes searched, in order
};

// One mux of a route to program, and the source it selects.
struct MuxSelection {
  Kel::String mux;
  Kel::String source;
  std::int32_t level = 0;
  bool operator==(const MuxSelection&) const = default;
};

// Searches the mux configuration for the route that joins `sourceName` to `sinkName`: the sink's
// mux first, then down the mux sources, newest appended first, backing up from dead ends, each
// mux searched once. Traces every step, unless `traced` is false.
RouteSearch searchRoute(const Kel::String& sinkName, const Kel::String& sourceName,
                        const Kel::Ptr<Hardware::ClockMux::MuxConfigDir const>& muxConfigDir,
                        bool traced = true);

// The muxes of a found route in the order they are programmed, farthest from the sink first,
// each with the source it selects: the farthest selects `sourceName`, each other one the mux below
// it, by name. The muxes searched beside the route are left out.
std::vector<MuxSelection> routeSelections(std::vector<MuxSetupInfo> muxesToSetup,
                                          const Kel::String& sourceName);

// How `sourceName` would be routed to `sinkName`: the muxes of the route in programming order with
// the bits each would be given, or why there is no route (also when `sourceName` names a mux).
// Searches without tracing, programs nothing.
Clock::Mux::RoutePlan planRoute(
    const Kel::String& sinkName, const Kel::String& sourceName,
    const Kel::Ptr<Hardware::ClockMux::MuxConfigDir const>& muxConfigDir);

// What one call of setupMuxesForSink did: whether it searched (not on a simulated system) and found
// a route, and what became of the muxes it switched.
struct RouteReport {
  bool searched = false;
  bool found = false;
  std::uint32_t confirmed = 0;           // muxes whose read-back shows the new selection
  std::uint32_t readBackMismatches = 0;  // muxes written whose register does not show it
  std::uint32_t accessFailures = 0;      // muxes a register access failed for
};

// Finds the route from `sourceName` to `sinkName` and switches every mux on it, farthest first.
// False on a simulated system (nothing done) and when no route exists (nothing programmed).
bool setupMuxesForSink(Kel::String sinkName, Kel::String sourceName,
                       Kel::Ptr<Hardware::ClockMux::MuxConfigDir const> muxConfigDir,
                       Kel::Ptr<Hardware::ClockMux::MuxStatusDir> muxStatusDir);
// The same, telling in `report` what the route did.
bool setupMuxesForSink(const Kel::String& sinkName, const Kel::String& sourceName,
                       const Kel::Ptr<Hardware::ClockMux::MuxConfigDir const>& muxConfigDir,
                       const Kel::Ptr<Hardware::ClockMux::MuxStatusDir>& muxStatusDir,
                       RouteReport& report);

}  // namespace VelaClockAgent
