#pragma once

#include <string>
#include <tuple>
#include <vector>

#include "Hardware/ClockMux.h"
#include "Kel/ReactorMap.h"
#include "Kel/TypeBuilder.h"
#include "VelaClock/SignalDirMonitor.h"
#include "VelaClock/VelaClockCommonFunctions.h"

// What the signal monitors of a family's sources and of its sinks share, on top of the monitor
// mechanism (SignalDirMonitor): how their collections are reached, and, for sinks, how a wanted
// source is routed. A family then adds its trace texts and, for sources, its settings.
namespace VelaClockAgent {

// No directories beyond the config, status and cliConfig ones.
struct NoExtraDirectories {
  auto tuple() const { return std::tuple<>(); }
  template <class Builder>
  static void describe(Builder&) {}
};

// What a sink monitor's routes did, for the operator; none of it changes what the monitor does.
struct RouteCounters {
  std::uint64_t routesDone = 0;          // routes found and programmed
  std::uint64_t routesFailed = 0;        // routes searched for and not found
  std::uint64_t readBackMismatches = 0;  // muxes written whose register did not show the source
  std::uint64_t accessFailures = 0;      // muxes a register access failed for

  void count(const RouteReport& report);
};

// The mux directories a sink monitor hands to the route search, and what its routes did.
struct MuxDirectories {
  Kel::Ptr<const Hardware::ClockMux::MuxConfigDir> muxConfigDir;
  Kel::Ptr<Hardware::ClockMux::MuxStatusDir> muxStatusDir;
  RouteCounters counters;

  auto tuple() const { return std::tuple(muxConfigDir, muxStatusDir); }
  template <class Builder>
  static void describe(Builder& b) {
    using Self = typename Builder::Described;
    b.template readOnlyReference<Hardware::ClockMux::MuxConfigDir>(
        "muxConfigDir", [](const Self& m) { return m.extra().muxConfigDir; });
    b.template readOnlyReference<Hardware::ClockMux::MuxStatusDir>(
        "muxStatusDir", [](const Self& m) { return m.extra().muxStatusDir; });
    b.template readOnly<std::uint64_t>("routesDone",
                                       [](const Self& m) { return m.extra().counters.routesDone; });
    b.template readOnly<std::uint64_t>(
        "routesFailed", [](const Self& m) { return m.extra().counters.routesFailed; });
    b.template readOnly<std::uint64_t>(
        "readBackMismatches", [](const Self& m) { return m.extra().counters.readBackMismatches; });
    b.template readOnly<std::uint64_t>(
        "accessFailures", [](const Self& m) { return m.extra().counters.accessFailures; });
  }
};

inline void RouteCounters::count(const RouteReport& report) {
  if (report.found) ++routesDone;
  if (report.searched && !report.found) ++routesFailed;
  readBackMismatches += report.readBackMismatches;
  accessFailures += report.accessFailures;
}

// What the monitors of a family's sources share: their collections (see SourceTypes), and no
// further directories. `Types` is the family's Hardware::<Family>::SourceTypes.
template <class Types>
struct SourceFamily : Types {
  using Extra = NoExtraDirectories;
};

// What every sink monitor does, beside reaching its family's sink collections (see SinkTypes): a
// new status entry starts from the configured default source, and a wanted source that differs from
// the one in status is routed through the muxes, then recorded, whether or not a route was found.
// `Family` is the concrete family, which gives the texts, among them `statusWord` and `alreadySet`,
// and trace(); `Types` its Hardware::<Family>::SinkTypes.
template <class Family, class Types>
struct SinkFamily : Types {
  using Config = typename Types::Config;
  using CliConfig = typename Types::CliConfig;
  using Status = typename Types::Status;
  using Extra = MuxDirectories;
  // A change of the wanted source runs the source walk.
  template <class Owner, void (Owner::*walk)()>
  using Settings = Kel::EntryReactor<Owner, CliConfig, walk, CliConfig::sourceNameId>;

  static void statusCreated(const Config& config, Status& status, const MuxDirectories&) {
    status.sourceNameIs(config.defaultSourceName());
  }

  // Whether the status shows the wanted source: the source walk leaves such a sink alone.
  static bool inForce(const CliConfig& wanted, const Status& status) {
    return wanted.sourceName() == status.sourceName();
  }

  // Files `source` as the sink's wanted source, as the operator's set does; the change reaches the
  // source walk through the monitor's reactors. When it is already the wanted source and the one in
  // force, the walk would leave it alone, so its route is programmed again here: the registers may
  // have lost it behind the agent's back.
  static void wantedSourceIs(typename Types::CliConfigDir& cliConfigDir, Status& status,
                             const Kel::String& source, MuxDirectories& muxes) {
    const auto wanted = cliConfigDir.cliConfigIs(status.name());
    const bool routed = wanted->sourceName() == source && status.sourceName() == source;
    wanted->sourceNameIs(source);
    if (!routed) return;
    VELACLOCK_SIGNAL_TRACE(Family, "wantedSourceIs")
        << status.name() << " already wants " << source << ": routing it again";
    RouteReport report;
    setupMuxesForSink(status.name(), source, muxes.muxConfigDir, muxes.muxStatusDir, report);
    muxes.counters.count(report);
  }

  // The sink's status is its routing state: the source last routed to it, or its default.
  static void apply(const CliConfig& wanted, Status& status, MuxDirectories& muxes) {
    const char* op = Family::texts.handleCliConfig;
    const Signature sig{Family::texts.machine, op, false};
    VELACLOCK_SIGNAL_TRACE(Family, op)
        << sig << " before processing: cliConfig's sourceName is " << wanted.sourceName();
    VELACLOCK_SIGNAL_TRACE(Family, op) << sig << " before processing: " << Family::statusWord
                                       << " sourceName is " << status.sourceName();
    if (wanted.sourceName() == status.sourceName()) {
      VELACLOCK_SIGNAL_TRACE(Family, op) << sig << Family::alreadySet;
    } else {
      // A route that is not found still records the wanted source: the next walk then sees the
      // two equal and does not try again until the wanted source changes.
      RouteReport report;
      setupMuxesForSink(status.name(), wanted.sourceName(), muxes.muxConfigDir, muxes.muxStatusDir,
                        report);
      muxes.counters.count(report);
      status.sourceNameIs(wanted.sourceName());
    }
    VELACLOCK_SIGNAL_TRACE(Family, op) << sig << " after processing: " << Family::statusWord
                                       << " sourceName is " << status.sourceName();
  }
};

}  // namespace VelaClockAgent
