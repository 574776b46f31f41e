#pragma once

#include "CAgent.h"
#include "Hardware/ClockMux.h"
#include "Hardware/Clocking.h"
#include "Hardware/Freq.h"
#include "Hardware/Strobe.h"
#include "Kel/Trace.h"
#include "VelaClock/ClockMux.h"
#include "VelaClockAgent/PpsWaiterTypes.h"

namespace VelaClockAgent {

// The trace facility of the agent and of its monitors.
Kel::TraceHandle& agentTrace();

// The clock-management agent. The host creates it by name, then calls doPreInit, doInit and,
// once the mounts it asked for are done, doMountsComplete; from then on its state machines do the
// work. It holds every directory it found until it is destroyed.
class Agent : public CAgent {
 public:
  // Allocates an agent named `name` with every attribute null and its notification on.
  static Kel::Ptr<Agent> AgentIs(const Kel::String& name);

  const Kel::TypeInfo& fwkType() const override;
  ~Agent() override;
  void doMountsComplete(Corral::MountStatus mountStatus,
                        const Kel::Ptr<Corral::EntityManager>& entityManager) override;
  void doPreInit() override;
  void doInit() override;

  // Keeps the mux directory monitor when it watches these very directories; otherwise builds one
  // and replaces it. Returns the monitor held afterwards.
  Kel::Ptr<MuxDirMonitorSm> muxDirMonitorSmIs(
      const Kel::Ptr<const Hardware::ClockMux::MuxConfigDir>& configDir,
      const Kel::Ptr<Hardware::ClockMux::MuxStatusDir>& statusDir);
  // Takes the monitor out, switches its notification off and returns it (null when none).
  Kel::Ptr<MuxDirMonitorSm> muxDirMonitorSmDel();
  const Kel::Ptr<MuxDirMonitorSm>& muxDirMonitorSm() const { return muxDirMonitorSm_; }

  // Keeps the shared-memory table of PPS edges.
  void ppsWaiterTimestampsIs(const Kel::Ptr<PpsWaiterTimestamps>& table);

  const Kel::Ptr<const Hardware::Strobe::SourceConfigDir>& strobeSourceConfigDir() const {
    return strobeSourceConfigDir_;
  }
  const Kel::Ptr<Hardware::Strobe::SourceStatusDir>& strobeSourceStatusDir() const {
    return strobeSourceStatusDir_;
  }
  const Kel::Ptr<Hardware::Strobe::SourceCliConfigDir>& strobeSourceCliConfigDir() const {
    return strobeSourceCliConfigDir_;
  }
  const Kel::Ptr<const Hardware::Strobe::SinkConfigDir>& strobeSinkConfigDir() const {
    return strobeSinkConfigDir_;
  }
  const Kel::Ptr<Hardware::Strobe::SinkStatusDir>& strobeSinkStatusDir() const {
    return strobeSinkStatusDir_;
  }
  const Kel::Ptr<Hardware::Strobe::SinkCliConfigDir>& strobeSinkCliConfigDir() const {
    return strobeSinkCliConfigDir_;
  }
  const Kel::Ptr<const Hardware::Freq::SourceConfigDir>& freqSourceConfigDir() const {
    return freqSourceConfigDir_;
  }
  const Kel::Ptr<Hardware::Freq::SourceStatusDir>& freqSourceStatusDir() const {
    return freqSourceStatusDir_;
  }
  const Kel::Ptr<Hardware::Freq::SourceCliConfigDir>& freqSourceCliConfigDir() const {
    return freqSourceCliConfigDir_;
  }
  const Kel::Ptr<const Hardware::Freq::SinkConfigDir>& freqSinkConfigDir() const {
    return freqSinkConfigDir_;
  }
  const Kel::Ptr<Hardware::Freq::SinkStatusDir>& freqSinkStatusDir() const {
    return freqSinkStatusDir_;
  }
  const Kel::Ptr<Hardware::Freq::SinkCliConfigDir>& freqSinkCliConfigDir() const {
    return freqSinkCliConfigDir_;
  }
  const Kel::Ptr<const Hardware::ClockMux::MuxConfigDir>& muxConfigDir() const {
    return muxConfigDir_;
  }
  const Kel::Ptr<Hardware::ClockMux::MuxStatusDir>& muxStatusDir() const { return muxStatusDir_; }
  const Kel::Ptr<const Hardware::Clocking::PortCliConfigDir>& portCliConfigDir() const {
    return portCliConfigDir_;
  }
  const Kel::Ptr<Hardware::Clocking::PortCliStatusDir>& portCliStatusDir() const {
    return portCliStatusDir_;
  }
  const Kel::Ptr<PpsWaiterConfig>& ppsConfig() const { return ppsConfig_; }
  const Kel::Ptr<PpsWaiterStatus>& ppsStatus() const { return ppsStatus_; }
  const Kel::Ptr<PpsWaiterTimestamps>& ppsWaiterTimestamps() const { return ppsWaiterTimestamps_; }

  static const Kel::TypeInfo& typeInfo();

 private:
  explicit Agent(const Kel::String& name);
  // Stores the fourteen required directories in order; returns the attribute of the first one
  // missing (the invariant that fails), or null.
  const char* takeRequiredDirectories(const Kel::Ptr<Corral::EntityManager>& entityManager);
  void takeClockingDirectories(const Kel::Ptr<Corral::EntityManager>& entityManager);
  void takePpsWaiterEntities(const Kel::Ptr<Corral::EntityManager>& entityManager);
  void mountPpsEdgeTable(const Kel::Ptr<Corral::EntityManager>& entityManager);

  // In declaration order; destroyed in reverse.
  Kel::Ptr<const Hardware::Strobe::SourceConfigDir> strobeSourceConfigDir_;
  Kel::Ptr<Hardware::Strobe::SourceStatusDir> strobeSourceStatusDir_;
  Kel::Ptr<Hardware::Strobe::SourceCliConfigDir> strobeSourceCliConfigDir_;
  Kel::Ptr<const Hardware::Strobe::SinkConfigDir> strobeSinkConfigDir_;
  Kel::Ptr<Hardware::Strobe::SinkStatusDir> strobeSinkStatusDir_;
  Kel::Ptr<Hardware::Strobe::SinkCliConfigDir> strobeSinkCliConfigDir_;
  Kel::Ptr<const Hardware::Freq::SourceConfigDir> freqSourceConfigDir_;
  Kel::Ptr<Hardware::Freq::SourceStatusDir> freqSourceStatusDir_;
  Kel::Ptr<Hardware::Freq::SourceCliConfigDir> freqSourceCliConfigDir_;
  Kel::Ptr<const Hardware::Freq::SinkConfigDir> freqSinkConfigDir_;
  Kel::Ptr<Hardware::Freq::SinkStatusDir> freqSinkStatusDir_;
  Kel::Ptr<Hardware::Freq::SinkCliConfigDir> freqSinkCliConfigDir_;
  Kel::Ptr<const Hardware::ClockMux::MuxConfigDir> muxConfigDir_;
  Kel::Ptr<Hardware::ClockMux::MuxStatusDir> muxStatusDir_;
  Kel::Ptr<MuxDirMonitorSm> muxDirMonitorSm_;
  Kel::Ptr<const Hardware::Clocking::PortCliConfigDir> portCliConfigDir_;
  Kel::Ptr<Hardware::Clocking::PortCliStatusDir> portCliStatusDir_;
  Kel::Ptr<PpsWaiterConfig> ppsConfig_;
  Kel::Ptr<PpsWaiterStatus> ppsStatus_;
  Kel::Ptr<PpsWaiterTimestamps> ppsWaiterTimestamps_;
};

// The entry point the host calls with the agent's name.
Kel::Ptr<Agent> agentFactory(const Kel::String& name);

}  // namespace VelaClockAgent
