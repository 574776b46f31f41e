#include "VelaClock/VelaClockCommonFunctions.h"

#include <set>

#include "VelaClock/AgentTrace.h"
#include "VelaClock/ClockMux.h"
#include "VelaClock/Simulation.h"

namespace VelaClockAgent {

// The routing operations take their arguments by value: that is the interface their callers share.
// NOLINTBEGIN(performance-unnecessary-value-param)
const Hardware::ClockMux::MuxConfig* getMuxByName(
    Kel::String name, Kel::Ptr<Hardware::ClockMux::MuxConfigDir const> configDir) {
  if (!configDir) return nullptr;
  for (const auto& mux : configDir->muxConfig()) {
    if (mux->name() == name) return mux.get();
  }
  return nullptr;
}

const Hardware::ClockMux::MuxConfig* getMuxForSink(
    Kel::String sinkName, Kel::Ptr<Hardware::ClockMux::MuxConfigDir const> configDir) {
  if (!configDir) return nullptr;
  for (const auto& mux : configDir->muxConfig()) {
    for (const auto& sink : mux->sink()) {
      if (sink->name() == sinkName) return mux.get();
    }
  }
  return nullptr;
}

std::vector<Kel::String> getMuxSources(Hardware::ClockMux::MuxConfig const* mux) {
  std::vector<Kel::String> names;
  if (!mux) return names;
  for (const auto& source : mux->source()) names.push_back(source->name());
  return names;
}

void dumpMuxesToSetupVector(std::vector<MuxSetupInfo> list) {
  KEL_TRACE(agentTrace(), 0) << "dumpMuxesToSetupVector"
                             << "(): "
                             << "Mux Setup Info printed from index 0:";
  for (const MuxSetupInfo& info : list) {
    KEL_TRACE(agentTrace(), 0) << "dumpMuxesToSetupVector"
                               << "(): "
                               << "Mux name=\"" << info.name << "\" and level=" << info.level;
  }
  KEL_TRACE(agentTrace(), 0) << "dumpMuxesToSetupVector"
                             << "(): "
                             << "Mux Setup Info printed above.";
}
// NOLINTEND(performance-unnecessary-value-param)

namespace {

// The lines of the route search, all under the operation's name.
#define ROUTE_TRACE                                                          \
  KEL_TRACE_FOR(agentTrace(), 0, "setupMuxesForSink") << "setupMuxesForSink" \
                                                      << "(): "

// True when the mux at the end of the list offers the source; otherwise appends its mux sources
// one level further down and says whether there were any.
bool searchOneMux(std::vector<MuxSetupInfo>& muxesToSetup, const Kel::String& sourceName,
                  const Kel::Ptr<Hardware::ClockMux::MuxConfigDir const>& muxConfigDir,
                  bool& foundNextLevelMux) {
  const MuxSetupInfo current = muxesToSetup.back();
  const auto* mux = getMuxByName(current.name, muxConfigDir);
  ROUTE_TRACE << "starting to process muxName " << current.name << " at level " << current.level;
  const std::vector<Kel::String> sources = getMuxSources(mux);
  for (std::size_t i = 0; i < sources.size(); ++i) {
    ROUTE_TRACE << "Checking source[" << i << "] of total " << sources.size() << " name is "
                << sources[i] << " if it is matching sourceName=" << sourceName;
    if (sources[i] == sourceName) return true;
  }
  foundNextLevelMux = false;
  for (const Kel::String& source : sources) {
    if (getMuxByName(source, muxConfigDir)) {
      muxesToSetup.push_back({source, current.level + 1});
      foundNextLevelMux = true;
    }
  }
  return false;
}

// True when a searched element of the list, one of the muxes on the way down, is named `name`.
bool onSearchedPath(const std::vector<MuxSetupInfo>& muxesToSetup,
                    const std::vector<bool>& searched, const Kel::String& name) {
  for (std::size_t i = 0; i < muxesToSetup.size(); ++i) {
    if (searched[i] && muxesToSetup[i].name == name) return true;
  }
  return false;
}

}  // namespace

RouteSearch searchRoute(const Kel::String& sinkName, const Kel::String& sourceName,
                        const Kel::Ptr<Hardware::ClockMux::MuxConfigDir const>& muxConfigDir) {
  RouteSearch search;
  const auto* sinkMux = getMuxForSink(sinkName, muxConfigDir);
  if (!sinkMux) {
    search.failure = "no mux drives the sink";
    return search;
  }
  auto& muxesToSetup = search.muxesToSetup;
  muxesToSetup.push_back({sinkMux->name(), 1});
  ROUTE_TRACE << "Line=" << 128 << " muxesToSetup at this point is:";
  dumpMuxesToSetupVector(muxesToSetup);

  // Each mux is searched once, so the search ends. `searched` tells, for each element of
  // muxesToSetup, whether it was searched: one met again at the end has had all its mux sources
  // tried; an unsearched one whose mux was searched before is left, and closes a cycle when that
  // mux is on the way down to it.
  std::vector<bool> searched{false};
  std::set<Kel::String> visited;
  bool cycle = false;
  while (!muxesToSetup.empty()) {
    const Kel::String name = muxesToSetup.back().name;
    if (searched.back() || visited.contains(name)) {
      cycle = cycle || (!searched.back() && onSearchedPath(muxesToSetup, searched, name));
      muxesToSetup.pop_back();
      searched.pop_back();
      continue;
    }
    searched.back() = true;
    visited.insert(name);
    bool foundNextLevelMux = false;
    if (searchOneMux(muxesToSetup, sourceName, muxConfigDir, foundNextLevelMux)) {
      search.offeringMux = name;
      return search;
    }
    searched.resize(muxesToSetup.size(), false);
    // A dead end is not on the route: back up to the newest mux source not yet searched.
    if (!foundNextLevelMux) {
      muxesToSetup.pop_back();
      searched.pop_back();
    }
  }
  search.failure = cycle ? "the mux sources form a cycle and no mux on the way offers the source"
                         : "no mux of the sink's tree offers the source";
  return search;
}

namespace {

// Switches each mux of the route, farthest first; each parent selects its child by name.
void programRoute(std::vector<MuxSetupInfo> muxesToSetup, const Kel::String& sourceName,
                  const Kel::Ptr<Hardware::ClockMux::MuxConfigDir const>& muxConfigDir,
                  const Kel::Ptr<Hardware::ClockMux::MuxStatusDir>& muxStatusDir) {
  Kel::String selection = sourceName;
  while (!muxesToSetup.empty()) {
    const MuxSetupInfo e = muxesToSetup.back();
    muxesToSetup.pop_back();
    ROUTE_TRACE << "setting the mux \"" << e.name << "\" to select the source \"" << selection
                << "\"";
    setupMuxToSelectSource(e.name, selection, muxConfigDir, muxStatusDir);
    if (e.level > 1) {
      selection = e.name;
      ROUTE_TRACE << "Removing other muxes at the same level from the vecgtor";
      while (!muxesToSetup.empty() && muxesToSetup.back().level == e.level) {
        muxesToSetup.pop_back();
      }
    }
  }
}

}  // namespace

// By value, as the routing interface is.
// NOLINTBEGIN(performance-unnecessary-value-param)
bool setupMuxesForSink(Kel::String sinkName, Kel::String sourceName,
                       Kel::Ptr<Hardware::ClockMux::MuxConfigDir const> muxConfigDir,
                       Kel::Ptr<Hardware::ClockMux::MuxStatusDir> muxStatusDir) {
  // NOLINTEND(performance-unnecessary-value-param)
  if (isSimulatedSystem()) return false;
  ROUTE_TRACE << "given sinkName is " << sinkName << " given sourceName is " << sourceName;
  RouteSearch route = searchRoute(sinkName, sourceName, muxConfigDir);
  if (!route.failure.empty()) {
    ROUTE_TRACE << "no route from source " << sourceName << " to sink " << sinkName << ": "
                << route.failure << "; nothing programmed";
    return false;
  }
  ROUTE_TRACE << "mux \"" << route.offeringMux << "\" has the sourceName=" << sourceName;
  ROUTE_TRACE << "Line=" << 152 << " muxesToSetup at this point is:";
  dumpMuxesToSetupVector(route.muxesToSetup);
  programRoute(std::move(route.muxesToSetup), sourceName, muxConfigDir, muxStatusDir);
  return true;
}

}  // namespace VelaClockAgent

#undef ROUTE_TRACE
