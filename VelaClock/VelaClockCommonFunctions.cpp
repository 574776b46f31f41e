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

// The lines of the route search are all under the operation's name; a search that only explains
// a route (nothing is programmed) traces nothing.
constexpr const char* routeOperation = "setupMuxesForSink";

// True when the mux at the end of the list offers the source; otherwise appends its mux sources
// one level further down and says whether there were any.
bool searchOneMux(std::vector<MuxSetupInfo>& muxesToSetup, const Kel::String& sourceName,
                  const Kel::Ptr<Hardware::ClockMux::MuxConfigDir const>& muxConfigDir, bool traced,
                  bool& foundNextLevelMux) {
  const MuxSetupInfo current = muxesToSetup.back();
  const auto* mux = getMuxByName(current.name, muxConfigDir);
  VELACLOCK_TRACE_IF(traced, 0, routeOperation)
      << "starting to process muxName " << current.name << " at level " << current.level;
  const std::vector<Kel::String> sources = getMuxSources(mux);
  for (std::size_t i = 0; i < sources.size(); ++i) {
    VELACLOCK_TRACE_IF(traced, 0, routeOperation)
        << "Checking source[" << i << "] of total " << sources.size() << " name is " << sources[i]
        << " if it is matching sourceName=" << sourceName;
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
                        const Kel::Ptr<Hardware::ClockMux::MuxConfigDir const>& muxConfigDir,
                        bool traced) {
  RouteSearch search;
  const auto* sinkMux = getMuxForSink(sinkName, muxConfigDir);
  if (!sinkMux) {
    search.failure = "no mux drives the sink";
    return search;
  }
  auto& muxesToSetup = search.muxesToSetup;
  muxesToSetup.push_back({sinkMux->name(), 1});
  // The fixed line numbers in these texts are part of the agent's traces, which tools match on.
  VELACLOCK_TRACE_IF(traced, 0, routeOperation)
      << "Line=" << 128 << " muxesToSetup at this point is:";
  if (traced) {
    dumpMuxesToSetupVector(muxesToSetup);
  }

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
    search.searched.push_back(name);
    bool foundNextLevelMux = false;
    if (searchOneMux(muxesToSetup, sourceName, muxConfigDir, traced, foundNextLevelMux)) {
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
void programRoute(const std::vector<MuxSelection>& route,
                  const Kel::Ptr<Hardware::ClockMux::MuxConfigDir const>& muxConfigDir,
                  const Kel::Ptr<Hardware::ClockMux::MuxStatusDir>& muxStatusDir,
                  RouteReport& report) {
  for (const MuxSelection& step : route) {
    VELACLOCK_TRACE(0, routeOperation)
        << "setting the mux \"" << step.mux << "\" to select the source \"" << step.source << "\"";
    switch (switchMux(step.mux, step.source, muxConfigDir, muxStatusDir)) {
      case MuxSwitch::confirmed:
        ++report.confirmed;
        break;
      case MuxSwitch::readBackMismatch:
        ++report.readBackMismatches;
        break;
      case MuxSwitch::accessFailed:
        ++report.accessFailures;
        break;
      case MuxSwitch::notSwitched:
        break;
    }
    // "vecgtor": the agent's own text, kept as tools match on it.
    if (step.level > 1) {
      VELACLOCK_TRACE(0, routeOperation)
          << "Removing other muxes at the same level from the vecgtor";
    }
  }
}

}  // namespace

std::vector<MuxSelection> routeSelections(std::vector<MuxSetupInfo> muxesToSetup,
                                          const Kel::String& sourceName) {
  std::vector<MuxSelection> route;
  Kel::String selection = sourceName;
  while (!muxesToSetup.empty()) {
    const MuxSetupInfo e = muxesToSetup.back();
    muxesToSetup.pop_back();
    route.push_back({e.name, selection, e.level});
    if (e.level > 1) {
      selection = e.name;
      // The others of its level were appended beside it and never searched.
      while (!muxesToSetup.empty() && muxesToSetup.back().level == e.level) {
        muxesToSetup.pop_back();
      }
    }
  }
  return route;
}

Clock::Mux::RoutePlan planRoute(
    const Kel::String& sinkName, const Kel::String& sourceName,
    const Kel::Ptr<Hardware::ClockMux::MuxConfigDir const>& muxConfigDir) {
  Clock::Mux::RoutePlan plan;
  // A mux is offered as a source only to the mux above it: a route "to" it would leave the chain
  // below it as it happens to be, and the sink with no source of its own.
  if (getMuxByName(sourceName, muxConfigDir)) {
    plan.failure = "`" + sourceName + "` is a mux, not a source: expected a source a mux selects";
    return plan;
  }
  RouteSearch search = searchRoute(sinkName, sourceName, muxConfigDir, false);
  plan.failure = search.failure;
  plan.searched = search.searched;
  if (!search.failure.empty()) return plan;
  for (const MuxSelection& step : routeSelections(std::move(search.muxesToSetup), sourceName)) {
    const auto config = muxConfigDir->muxConfig(step.mux);
    const auto source = config->source(step.source);
    const Clock::Mux::AccessMethod method = config->muxAccessMethod();
    plan.steps.push_back({step.mux, step.source, config->controlRegister(),
                          static_cast<std::uint8_t>(config->bitMask()),
                          static_cast<std::uint8_t>(source ? source->bitValue() : 0), method,
                          method == Clock::Mux::AccessMethod::clockMuxHam ? clockMuxHamName : ""});
  }
  return plan;
}

// By value, as the routing interface is.
// NOLINTBEGIN(performance-unnecessary-value-param)
bool setupMuxesForSink(Kel::String sinkName, Kel::String sourceName,
                       Kel::Ptr<Hardware::ClockMux::MuxConfigDir const> muxConfigDir,
                       Kel::Ptr<Hardware::ClockMux::MuxStatusDir> muxStatusDir) {
  // NOLINTEND(performance-unnecessary-value-param)
  RouteReport ignored;
  return setupMuxesForSink(sinkName, sourceName, muxConfigDir, muxStatusDir, ignored);
}

bool setupMuxesForSink(const Kel::String& sinkName, const Kel::String& sourceName,
                       const Kel::Ptr<Hardware::ClockMux::MuxConfigDir const>& muxConfigDir,
                       const Kel::Ptr<Hardware::ClockMux::MuxStatusDir>& muxStatusDir,
                       RouteReport& report) {
  if (isSimulatedSystem()) return false;
  report.searched = true;
  VELACLOCK_TRACE(0, routeOperation)
      << "given sinkName is " << sinkName << " given sourceName is " << sourceName;
  RouteSearch route = searchRoute(sinkName, sourceName, muxConfigDir);
  if (!route.failure.empty()) {
    VELACLOCK_TRACE(0, routeOperation)
        << "no route from source " << sourceName << " to sink " << sinkName << ": " << route.failure
        << "; nothing programmed";
    return false;
  }
  VELACLOCK_TRACE(0, routeOperation)
      << "mux \"" << route.offeringMux << "\" has the sourceName=" << sourceName;
  VELACLOCK_TRACE(0, routeOperation) << "Line=" << 152 << " muxesToSetup at this point is:";
  dumpMuxesToSetupVector(route.muxesToSetup);
  report.found = true;
  programRoute(routeSelections(std::move(route.muxesToSetup), sourceName), muxConfigDir,
               muxStatusDir, report);
  return true;
}

}  // namespace VelaClockAgent
