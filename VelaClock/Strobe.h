#pragma once

#include "Hardware/Strobe.h"
#include "VelaClock/SignalFamily.h"

// The monitors of strobe (time-pulse) sources and sinks.
namespace VelaClockAgent {

// Strobe sources: a new status entry keeps the type's defaults; the user's adjustment and antenna
// presence are copied into status.
struct StrobeSources : SourceFamily<Hardware::Strobe::SourceTypes> {
  static constexpr MonitorTexts texts{"StrobeSourceDirMonitorSm",
                                      "handleStrobeSourceDir",
                                      "handleStrobeSourceCliConfig",
                                      "strobe source",
                                      "source",
                                      " Strobe source to configure is "};
  template <class Owner, void (Owner::*walk)()>
  using Settings = Kel::EntryReactor<Owner, CliConfig, walk, CliConfig::configuredAdjustmentId,
                                     CliConfig::hasAntennaId>;

  static Kel::TraceHelper trace(const char* operation);
  static void statusCreated(const Config&, Status&, const Extra&) {}
  static void apply(const CliConfig& wanted, Status& status, const Extra&);
};

// Strobe sinks: the wanted source is routed through the muxes (SinkFamily).
struct StrobeSinks : SinkFamily<StrobeSinks, Hardware::Strobe::SinkTypes> {
  static constexpr MonitorTexts texts{"StrobeSinkDirMonitorSm",
                                      "handleStrobeSinkDir",
                                      "handleStrobeSinkCliConfig",
                                      "strobe sink",
                                      "sink",
                                      " Strobe sink to configure is "};
  static constexpr const char* statusWord = "sourceStatus's";
  static constexpr const char* alreadySet = " Sink's source is already set - no need to change.";

  static Kel::TraceHelper trace(const char* operation);
};

// Keeps the strobe source status directory in step with the platform's sources, and applies the
// user's per-source settings.
class StrobeSourceDirMonitorSm final
    : public SignalDirMonitor<StrobeSourceDirMonitorSm, StrobeSources> {
 public:
  static Kel::Ptr<StrobeSourceDirMonitorSm> StrobeSourceDirMonitorSmIs(
      const Kel::Ptr<const Hardware::Strobe::SourceConfigDir>& configDir,
      const Kel::Ptr<Hardware::Strobe::SourceStatusDir>& statusDir,
      const Kel::Ptr<Hardware::Strobe::SourceCliConfigDir>& cliConfigDir) {
    return Kel::newStateMachine<StrobeSourceDirMonitorSm>(configDir, statusDir, cliConfigDir);
  }
  StrobeSourceDirMonitorSm(const Kel::Ptr<const Hardware::Strobe::SourceConfigDir>& configDir,
                           const Kel::Ptr<Hardware::Strobe::SourceStatusDir>& statusDir,
                           const Kel::Ptr<Hardware::Strobe::SourceCliConfigDir>& cliConfigDir)
      : SignalDirMonitor(configDir, statusDir, cliConfigDir) {}

  void handleStrobeSourceDir() { handleDir(); }
  void handleStrobeSourceDir(const Kel::String& name) { handleDir(name); }
  void handleStrobeSourceCliConfig() { handleCliConfig(); }
  void handleStrobeSourceCliConfig(const Kel::String& name) { handleCliConfig(name); }
};

// Keeps the strobe sink status directory in step with the platform's sinks, and routes the source
// the user (or the port policy) wants for each sink.
class StrobeSinkDirMonitorSm final : public SignalDirMonitor<StrobeSinkDirMonitorSm, StrobeSinks> {
 public:
  static Kel::Ptr<StrobeSinkDirMonitorSm> StrobeSinkDirMonitorSmIs(
      const Kel::Ptr<const Hardware::Strobe::SinkConfigDir>& configDir,
      const Kel::Ptr<Hardware::Strobe::SinkStatusDir>& statusDir,
      const Kel::Ptr<Hardware::Strobe::SinkCliConfigDir>& cliConfigDir,
      const Kel::Ptr<const Hardware::ClockMux::MuxConfigDir>& muxConfigDir,
      const Kel::Ptr<Hardware::ClockMux::MuxStatusDir>& muxStatusDir) {
    return Kel::newStateMachine<StrobeSinkDirMonitorSm>(configDir, statusDir, cliConfigDir,
                                                        muxConfigDir, muxStatusDir);
  }
  StrobeSinkDirMonitorSm(const Kel::Ptr<const Hardware::Strobe::SinkConfigDir>& configDir,
                         const Kel::Ptr<Hardware::Strobe::SinkStatusDir>& statusDir,
                         const Kel::Ptr<Hardware::Strobe::SinkCliConfigDir>& cliConfigDir,
                         const Kel::Ptr<const Hardware::ClockMux::MuxConfigDir>& muxConfigDir,
                         const Kel::Ptr<Hardware::ClockMux::MuxStatusDir>& muxStatusDir)
      : SignalDirMonitor(configDir, statusDir, cliConfigDir, {muxConfigDir, muxStatusDir, {}}) {}

  void handleStrobeSinkDir() { handleDir(); }
  void handleStrobeSinkDir(const Kel::String& name) { handleDir(name); }
  void handleStrobeSinkCliConfig() { handleCliConfig(); }
  void handleStrobeSinkCliConfig(const Kel::String& name) { handleCliConfig(name); }
};

}  // namespace VelaClockAgent
