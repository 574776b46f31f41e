#pragma once

#include "Hardware/Freq.h"
#include "VelaClock/SignalFamily.h"

// The monitors of frequency sources and sinks.
namespace VelaClockAgent {

// Frequency sources: a status entry takes the configured frequency and default adjustment at each
// handling of its config entry; the user's adjustment (ppb) and configuration image file are
// copied into status. The adjustment thus has two writers, and the last one wins.
struct FreqSources : SourceFamily<Hardware::Freq::SourceTypes> {
  static constexpr MonitorTexts texts{"FreqSourceDirMonitorSm",
                                      "handleFreqSourceDir",
                                      "handleFreqSourceCliConfig",
                                      "freq source",
                                      "source",
                                      " freq source to configure is "};
  template <class Owner, void (Owner::*walk)()>
  using Settings = Kel::EntryReactor<Owner, CliConfig, walk, CliConfig::adjustmentPpbId,
                                     CliConfig::configImageFileId>;

  static Kel::TraceHelper trace(const char* operation);
  static void statusCreated(const Config& config, Status& status, const Extra&);
  static void apply(const CliConfig& wanted, Status& status, const Extra&);
};

// Frequency sinks: the wanted source is routed through the muxes (SinkFamily). The two texts below
// differ from the strobe sinks' on purpose ("sinkStatus's", "not need"); tools match on them.
struct FreqSinks : SinkFamily<FreqSinks, Hardware::Freq::SinkTypes> {
  static constexpr MonitorTexts texts{"FreqSinkDirMonitorSm",
                                      "handleFreqSinkDir",
                                      "handleFreqSinkCliConfig",
                                      "freq sink",
                                      "sink",
                                      " freq sink to configure is "};
  static constexpr const char* statusWord = "sinkStatus's";
  static constexpr const char* alreadySet = " Sink's source is already set - not need to change.";

  static Kel::TraceHelper trace(const char* operation);
};

// Keeps the frequency source status directory in step with the platform's sources, and applies
// the user's per-source settings.
class FreqSourceDirMonitorSm final : public SignalDirMonitor<FreqSourceDirMonitorSm, FreqSources> {
 public:
  static Kel::Ptr<FreqSourceDirMonitorSm> FreqSourceDirMonitorSmIs(
      const Kel::Ptr<const Hardware::Freq::SourceConfigDir>& configDir,
      const Kel::Ptr<Hardware::Freq::SourceStatusDir>& statusDir,
      const Kel::Ptr<Hardware::Freq::SourceCliConfigDir>& cliConfigDir) {
    return Kel::newStateMachine<FreqSourceDirMonitorSm>(configDir, statusDir, cliConfigDir);
  }
  FreqSourceDirMonitorSm(const Kel::Ptr<const Hardware::Freq::SourceConfigDir>& configDir,
                         const Kel::Ptr<Hardware::Freq::SourceStatusDir>& statusDir,
                         const Kel::Ptr<Hardware::Freq::SourceCliConfigDir>& cliConfigDir)
      : SignalDirMonitor(configDir, statusDir, cliConfigDir) {}

  void handleFreqSourceDir() { handleDir(); }
  void handleFreqSourceDir(const Kel::String& name) { handleDir(name); }
  void handleFreqSourceCliConfig() { handleCliConfig(); }
  void handleFreqSourceCliConfig(const Kel::String& name) { handleCliConfig(name); }
};

// Keeps the frequency sink status directory in step with the platform's sinks, and routes the
// source the user wants for each sink.
class FreqSinkDirMonitorSm final : public SignalDirMonitor<FreqSinkDirMonitorSm, FreqSinks> {
 public:
  static Kel::Ptr<FreqSinkDirMonitorSm> FreqSinkDirMonitorSmIs(
      const Kel::Ptr<const Hardware::Freq::SinkConfigDir>& configDir,
      const Kel::Ptr<Hardware::Freq::SinkStatusDir>& statusDir,
      const Kel::Ptr<Hardware::Freq::SinkCliConfigDir>& cliConfigDir,
      const Kel::Ptr<const Hardware::ClockMux::MuxConfigDir>& muxConfigDir,
      const Kel::Ptr<Hardware::ClockMux::MuxStatusDir>& muxStatusDir) {
    return Kel::newStateMachine<FreqSinkDirMonitorSm>(configDir, statusDir, cliConfigDir,
                                                      muxConfigDir, muxStatusDir);
  }
  FreqSinkDirMonitorSm(const Kel::Ptr<const Hardware::Freq::SinkConfigDir>& configDir,
                       const Kel::Ptr<Hardware::Freq::SinkStatusDir>& statusDir,
                       const Kel::Ptr<Hardware::Freq::SinkCliConfigDir>& cliConfigDir,
                       const Kel::Ptr<const Hardware::ClockMux::MuxConfigDir>& muxConfigDir,
                       const Kel::Ptr<Hardware::ClockMux::MuxStatusDir>& muxStatusDir)
      : SignalDirMonitor(configDir, statusDir, cliConfigDir, {muxConfigDir, muxStatusDir, {}}) {}

  void handleFreqSinkDir() { handleDir(); }
  void handleFreqSinkDir(const Kel::String& name) { handleDir(name); }
  void handleFreqSinkCliConfig() { handleCliConfig(); }
  void handleFreqSinkCliConfig(const Kel::String& name) { handleCliConfig(name); }
};

}  // namespace VelaClockAgent
