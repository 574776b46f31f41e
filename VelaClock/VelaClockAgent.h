#pragma once

#include <span>

#include "CAgent.h"
#include "Corral/MountProfile.h"
#include "Hardware/ClockMux.h"
#include "Hardware/Clocking.h"
#include "Hardware/Freq.h"
#include "Hardware/Strobe.h"
#include "VelaClock/AgentTrace.h"
#include "VelaClock/ClockMux.h"
#include "VelaClock/Freq.h"
#include "VelaClock/PortPolicySm.h"
#include "VelaClock/PpsWaiterSm.h"
#include "VelaClock/Strobe.h"
#include "VelaClockAgent/PpsWaiterTypes.h"

namespace VelaClockAgent {

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

  // Each ...SmIs keeps the machine it holds when that machine was built from these very
  // directories (pointer identity, null equal to null); otherwise it builds one, replaces the one
  // held and switches it on. It returns the machine held afterwards. Each ...SmDel takes the
  // machine out, switches its notification off and returns it (null when there was none).
  Kel::Ptr<StrobeSourceDirMonitorSm> strobeSourceDirMonitorSmIs(
      const Kel::Ptr<const Hardware::Strobe::SourceConfigDir>& configDir,
      const Kel::Ptr<Hardware::Strobe::SourceStatusDir>& statusDir,
      const Kel::Ptr<Hardware::Strobe::SourceCliConfigDir>& cliConfigDir);
  Kel::Ptr<StrobeSourceDirMonitorSm> strobeSourceDirMonitorSmDel();
  Kel::Ptr<StrobeSinkDirMonitorSm> strobeSinkDirMonitorSmIs(
      const Kel::Ptr<const Hardware::Strobe::SinkConfigDir>& configDir,
      const Kel::Ptr<Hardware::Strobe::SinkStatusDir>& statusDir,
      const Kel::Ptr<Hardware::Strobe::SinkCliConfigDir>& cliConfigDir,
      const Kel::Ptr<const Hardware::ClockMux::MuxConfigDir>& muxConfigDir,
      const Kel::Ptr<Hardware::ClockMux::MuxStatusDir>& muxStatusDir);
  Kel::Ptr<StrobeSinkDirMonitorSm> strobeSinkDirMonitorSmDel();
  Kel::Ptr<FreqSourceDirMonitorSm> freqSourceDirMonitorSmIs(
      const Kel::Ptr<const Hardware::Freq::SourceConfigDir>& configDir,
      const Kel::Ptr<Hardware::Freq::SourceStatusDir>& statusDir,
      const Kel::Ptr<Hardware::Freq::SourceCliConfigDir>& cliConfigDir);
  Kel::Ptr<FreqSourceDirMonitorSm> freqSourceDirMonitorSmDel();
  Kel::Ptr<FreqSinkDirMonitorSm> freqSinkDirMonitorSmIs(
      const Kel::Ptr<const Hardware::Freq::SinkConfigDir>& configDir,
      const Kel::Ptr<Hardware::Freq::SinkStatusDir>& statusDir,
      const Kel::Ptr<Hardware::Freq::SinkCliConfigDir>& cliConfigDir,
      const Kel::Ptr<const Hardware::ClockMux::MuxConfigDir>& muxConfigDir,
      const Kel::Ptr<Hardware::ClockMux::MuxStatusDir>& muxStatusDir);
  Kel::Ptr<FreqSinkDirMonitorSm> freqSinkDirMonitorSmDel();
  Kel::Ptr<MuxDirMonitorSm> muxDirMonitorSmIs(
      const Kel::Ptr<const Hardware::ClockMux::MuxConfigDir>& configDir,
      const Kel::Ptr<Hardware::ClockMux::MuxStatusDir>& statusDir);
  Kel::Ptr<MuxDirMonitorSm> muxDirMonitorSmDel();
  Kel::Ptr<PortConfigDirPolicySm> portConfigDirPolicySmIs(
      const Kel::Ptr<const Hardware::Clocking::PortCliConfigDir>& portCliConfigDir,
      const Kel::Ptr<Hardware::Clocking::PortCliStatusDir>& portCliStatusDir,
      const Kel::Ptr<Hardware::Strobe::SinkCliConfigDir>& strobeSinkCliConfigDir);
  Kel::Ptr<PortConfigDirPolicySm> portConfigDirPolicySmDel();

  const Kel::Ptr<StrobeSourceDirMonitorSm>& strobeSourceDirMonitorSm() const {
    return strobeSourceDirMonitorSm_;
  }
  const Kel::Ptr<StrobeSinkDirMonitorSm>& strobeSinkDirMonitorSm() const {
    return strobeSinkDirMonitorSm_;
  }
  const Kel::Ptr<FreqSourceDirMonitorSm>& freqSourceDirMonitorSm() const {
    return freqSourceDirMonitorSm_;
  }
  const Kel::Ptr<FreqSinkDirMonitorSm>& freqSinkDirMonitorSm() const {
    return freqSinkDirMonitorSm_;
  }
  const Kel::Ptr<MuxDirMonitorSm>& muxDirMonitorSm() const { return muxDirMonitorSm_; }
  const Kel::Ptr<PortConfigDirPolicySm>& portConfigDirPolicySm() const {
    return portConfigDirPolicySm_;
  }

  // Keeps the PPS waiter it holds, whatever the entities; otherwise builds one from ppsConfig
  // and ppsStatus, hands it the edge table, switches it on and holds it. Returns the waiter.
  Kel::Ptr<PpsWaiterSm> ppsWaiterSmIs();
  Kel::Ptr<PpsWaiterSm> ppsWaiterSmDel();
  const Kel::Ptr<PpsWaiterSm>& ppsWaiterSm() const { return ppsWaiterSm_; }

  // Keeps the shared-memory table of PPS edges, and hands it to the PPS waiter if there is one.
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

  // One of the agent's state machines: the attribute that holds it (its name in traces and in
  // reflection), how it is read, and how it is taken out, switched off.
  struct Machine {
    const char* name;
    Kel::Ptr<const Kel::PtrInterface> (*held)(const Agent& agent);
    Kel::Ptr<Kel::PtrInterface> (*del)(Agent& agent);
    void (*describe)(Kel::TypeBuilder<Agent>& builder, const char* name);
  };
  // The agent's state machines, in the order mount completion makes them and tear-down drops them:
  // each held in one attribute, kept, replaced and dropped one way (machineIs, machineDel), and
  // shown read-only by reflection under the attribute's name.
  static std::span<const Machine> machines();

  // Every path the agent looks up when its mounts complete, with the type it expects there and how
  // it uses it: the mount profile "VelaClockAgent" that the build writes for the host.
  static Corral::MountProfile mountProfile();

  // How the agent would route `source` to `sink` in `database`, programming nothing (the plan
  // velaclockd explains with `velaclockctl route`).
  static Clock::Mux::RoutePlan planRoute(const Corral::EntityManager& database,
                                         const Kel::String& sink, const Kel::String& source);
  // Makes `source` the wanted source of `sink` as velaclockctl route --apply asks: filed as the
  // operator's set would file it, and routed again when it already is the wanted source and the
  // one in force. Returns why it cannot, or "" once done.
  std::string applyRoute(const Kel::String& sink, const Kel::String& source);
  // The same for the agent the host holds (the entry point velaclockd finds in the library).
  static std::string applyRoute(CAgent& agent, const Kel::String& sink, const Kel::String& source);

 private:
  // When mount completion looks a directory up: the required ones first, then the clocking ones
  // (optional), then the PPS waiter's entities (optional).
  enum class Stage : std::uint8_t { required, clocking, ppsWaiter };
  struct Directory;
  template <auto member>
  static constexpr Directory directory(const char* path, const char* name, Stage stage,
                                       Corral::Access access, bool rebuiltAtStart = false);
  static const Directory directories_[];
  static const Machine machines_[];

  explicit Agent(const Kel::String& name);
  // Stores every directory of `stage`, in table order. For the required ones it stops at the first
  // that is missing and returns its attribute's name (the invariant that fails); else null.
  const char* takeDirectories(Stage stage, const Corral::EntityManager& entityManager);
  void createMonitors();
  void routeFiledSources();
  void mountPpsEdgeTable(const Kel::Ptr<Corral::EntityManager>& entityManager);
  void releaseRelay(const Corral::EntityManager& entityManager);
  // Traces, at tear-down, that the machine held in `attribute` was dropped (if there was one).
  void dropped(const char* attribute, const Kel::Ptr<Kel::PtrInterface>& machine) const;

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
  Kel::Ptr<StrobeSourceDirMonitorSm> strobeSourceDirMonitorSm_;
  Kel::Ptr<StrobeSinkDirMonitorSm> strobeSinkDirMonitorSm_;
  Kel::Ptr<FreqSourceDirMonitorSm> freqSourceDirMonitorSm_;
  Kel::Ptr<FreqSinkDirMonitorSm> freqSinkDirMonitorSm_;
  Kel::Ptr<MuxDirMonitorSm> muxDirMonitorSm_;
  Kel::Ptr<const Hardware::Clocking::PortCliConfigDir> portCliConfigDir_;
  Kel::Ptr<Hardware::Clocking::PortCliStatusDir> portCliStatusDir_;
  Kel::Ptr<PortConfigDirPolicySm> portConfigDirPolicySm_;
  Kel::Ptr<PpsWaiterConfig> ppsConfig_;
  Kel::Ptr<PpsWaiterStatus> ppsStatus_;
  Kel::Ptr<PpsWaiterTimestamps> ppsWaiterTimestamps_;
  Kel::Ptr<PpsWaiterSm> ppsWaiterSm_;
};

// The entry point the host calls with the agent's name.
Kel::Ptr<Agent> agentFactory(const Kel::String& name);

}  // namespace VelaClockAgent
