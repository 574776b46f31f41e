#include "VelaClock/VelaClockAgent.h"

#include <algorithm>
#include <iterator>

#include "Corral/MountGroup.h"
#include "Fru/Gpo.h"
#include "Kel/Activity.h"
#include "Kel/Dir.h"
#include "KelSharedMem/EntityManager.h"
#include "VelaClock/Simulation.h"

namespace VelaClockAgent {

namespace {

const Kel::String fixedSystem = "FixedSystem";
const Kel::String gpoPath = "hardware/tundra/gpo";
const Kel::String mountProfileName = "VelaClockAgent";
const Kel::String ppsWaiterTimestampsPath = "ppsWaiter/timestamps";
const Kel::String relayName = "PCA9554-1-smaRelaySw";
const char* const doMountsCompleteSignature =
    "void VelaClockAgent::Agent::doMountsComplete(Corral::MountStatus, const "
    "Kel::Ptr<Corral::EntityManager>&)";

// The entity at `path` as a T, or null when it is absent or of another type.
template <class T>
Kel::Ptr<T> lookUp(const Corral::EntityManager& manager, const Kel::String& path) {
  return Kel::dynamicPtrCast<T>(manager.getEntity(path));
}

const char* presence(bool present) {
  return present ? "found" : "absent";
}

// Keeps the machine in `slot` when it was built from the very same directories (pointer identity);
// otherwise builds one with `make`, which switches it on, and replaces the one held.
template <class Machine, class Make, class... Directories>
Kel::Ptr<Machine> machineIs(Kel::Ptr<Machine>& slot, Make make, const Directories&... directories) {
  if (slot && slot->directories() == std::tie(directories...)) return slot;
  slot = make(directories...);
  return slot;
}

// Takes the machine out of `slot`, switched off; the caller's release frees it.
template <class Machine>
Kel::Ptr<Machine> machineDel(Kel::Ptr<Machine>& slot) {
  Kel::Ptr<Machine> machine = std::move(slot);
  if (machine) machine->hasNotificationActiveIs(false);
  return machine;
}

[[maybe_unused]] const bool agentRegistered =
    (Kel::kelModuleIs<Agent>("VelaClock/VelaClockAgent"), true);

}  // namespace

// One directory the agent looks up at mount completion: where it is mounted, the attribute that
// keeps it (whose name is also the invariant that fails when a required one is missing), the
// stage that takes it, how the agent uses it, and how the attribute takes it and which type it
// must have there.
struct Agent::Directory {
  const char* path;
  const char* name;
  Stage stage;
  Corral::Access access;
  bool rebuilt;  // the agent rebuilds its content whenever it starts: a saved copy would be stale
  bool (*take)(Agent& agent, const Corral::EntityManager& manager, const char* path);
  const Kel::TypeInfo& (*type)();
};

namespace {
// The type held by the attribute `member`.
template <auto member>
using Held =
    typename std::remove_reference_t<decltype(std::declval<Agent&>().*member)>::element_type;

// Stores the entity at `path` in the attribute `member`, as the attribute's type or null.
template <auto member>
bool takeInto(Agent& agent, const Corral::EntityManager& manager, const char* path) {
  auto& slot = agent.*member;
  slot = lookUp<Held<member>>(manager, path);
  return bool(slot);
}

template <auto member>
const Kel::TypeInfo& heldType() {
  return std::remove_const_t<Held<member>>::typeInfo();
}

constexpr bool rebuilt = true;
}  // namespace

template <auto member>
constexpr Agent::Directory Agent::directory(const char* path, const char* name, Stage stage,
                                            Corral::Access access, bool rebuiltAtStart) {
  return {path, name, stage, access, rebuiltAtStart, &takeInto<member>, &heldType<member>};
}

// In the order mount completion takes them; the cell name "FixedSystem" ends every per-cell path.
// The build writes the agent's mount profile from this table.
const Agent::Directory Agent::directories_[] = {
    directory<&Agent::strobeSourceConfigDir_>("hardware/strobe/source/config/FixedSystem",
                                              "strobeSourceConfigDir", Stage::required,
                                              Corral::Access::read),
    directory<&Agent::strobeSinkConfigDir_>("hardware/strobe/sink/config/FixedSystem",
                                            "strobeSinkConfigDir", Stage::required,
                                            Corral::Access::read),
    directory<&Agent::freqSourceConfigDir_>("hardware/freq/source/config/FixedSystem",
                                            "freqSourceConfigDir", Stage::required,
                                            Corral::Access::read),
    directory<&Agent::freqSinkConfigDir_>("hardware/freq/sink/config/FixedSystem",
                                          "freqSinkConfigDir", Stage::required,
                                          Corral::Access::read),
    directory<&Agent::strobeSourceStatusDir_>("hardware/strobe/source/status/FixedSystem",
                                              "strobeSourceStatusDir", Stage::required,
                                              Corral::Access::write, rebuilt),
    directory<&Agent::strobeSinkStatusDir_>("hardware/strobe/sink/status/FixedSystem",
                                            "strobeSinkStatusDir", Stage::required,
                                            Corral::Access::write, rebuilt),
    directory<&Agent::freqSourceStatusDir_>("hardware/freq/source/status/FixedSystem",
                                            "freqSourceStatusDir", Stage::required,
                                            Corral::Access::write, rebuilt),
    directory<&Agent::freqSinkStatusDir_>("hardware/freq/sink/status/FixedSystem",
                                          "freqSinkStatusDir", Stage::required,
                                          Corral::Access::write, rebuilt),
    directory<&Agent::strobeSourceCliConfigDir_>("hardware/strobe/source/cliConfig/FixedSystem",
                                                 "strobeSourceCliConfigDir", Stage::required,
                                                 Corral::Access::write),
    directory<&Agent::strobeSinkCliConfigDir_>("hardware/strobe/sink/cliConfig/FixedSystem",
                                               "strobeSinkCliConfigDir", Stage::required,
                                               Corral::Access::write),
    directory<&Agent::freqSourceCliConfigDir_>("hardware/freq/source/cliConfig/FixedSystem",
                                               "freqSourceCliConfigDir", Stage::required,
                                               Corral::Access::write),
    directory<&Agent::freqSinkCliConfigDir_>("hardware/freq/sink/cliConfig/FixedSystem",
                                             "freqSinkCliConfigDir", Stage::required,
                                             Corral::Access::write),
    directory<&Agent::muxConfigDir_>("hardware/clockmux/config/FixedSystem", "muxConfigDir",
                                     Stage::required, Corral::Access::read),
    directory<&Agent::muxStatusDir_>("hardware/clockmux/status/FixedSystem", "muxStatusDir",
                                     Stage::required, Corral::Access::write, rebuilt),
    directory<&Agent::portCliConfigDir_>("hardware/clocking/cliConfig/FixedSystem",
                                         "portCliConfigDir", Stage::clocking, Corral::Access::read),
    directory<&Agent::portCliStatusDir_>("hardware/clocking/cliStatus/FixedSystem",
                                         "portCliStatusDir", Stage::clocking, Corral::Access::write,
                                         rebuilt),
    directory<&Agent::ppsConfig_>("hardware/ppsWaiter/config", "ppsConfig", Stage::ppsWaiter,
                                  Corral::Access::read),
    directory<&Agent::ppsStatus_>("hardware/ppsWaiter/status", "ppsStatus", Stage::ppsWaiter,
                                  Corral::Access::write, rebuilt),
};

Corral::MountProfile Agent::mountProfile() {
  Corral::MountProfile profile{mountProfileName, {}};
  for (const Directory& directory : directories_) {
    profile.mounts.push_back(
        {directory.path, directory.type().name(), directory.access, directory.rebuilt});
  }
  profile.mounts.push_back({gpoPath, Kel::Dir::typeInfo().name(), Corral::Access::read});
  return profile;
}

Agent::Agent(const Kel::String& name) : CAgent(name) {}

Kel::Ptr<Agent> Agent::AgentIs(const Kel::String& name) {
  Kel::Ptr<Agent> agent(new Agent(name));
  agent->hasNotificationActiveIs(true);
  return agent;
}

Kel::Ptr<Agent> agentFactory(const Kel::String& name) {
  return Agent::AgentIs(name);
}

namespace {
template <auto member>
constexpr Agent::Machine machineOf(const char* name) {
  using Machine =
      typename std::remove_reference_t<decltype(std::declval<Agent&>().*member)>::element_type;
  return {name,
          [](const Agent& agent) -> Kel::Ptr<const Kel::PtrInterface> { return agent.*member; },
          [](Agent& agent) -> Kel::Ptr<Kel::PtrInterface> { return machineDel(agent.*member); },
          [](Kel::TypeBuilder<Agent>& b, const char* attribute) {
            b.readOnlyReference<Machine>(attribute, [](const Agent& a) { return a.*member; });
          }};
}
}  // namespace

// In the order mount completion makes them and tear-down drops them. Constant: the type's
// reflection reads it while the library's types register, before dynamic initialisation.
constinit const Agent::Machine Agent::machines_[] = {
    machineOf<&Agent::strobeSourceDirMonitorSm_>("strobeSourceDirMonitorSm"),
    machineOf<&Agent::strobeSinkDirMonitorSm_>("strobeSinkDirMonitorSm"),
    machineOf<&Agent::freqSourceDirMonitorSm_>("freqSourceDirMonitorSm"),
    machineOf<&Agent::freqSinkDirMonitorSm_>("freqSinkDirMonitorSm"),
    machineOf<&Agent::muxDirMonitorSm_>("muxDirMonitorSm"),
    machineOf<&Agent::portConfigDirPolicySm_>("portConfigDirPolicySm"),
    machineOf<&Agent::ppsWaiterSm_>("ppsWaiterSm"),
};

std::span<const Agent::Machine> Agent::machines() {
  return machines_;
}

// The machines go in the order they were made, not its reverse; then the directories, in reverse
// declaration order.
Agent::~Agent() {
  for (const Machine& machine : machines_) dropped(machine.name, machine.del(*this));
}

void Agent::dropped(const char* attribute, const Kel::Ptr<Kel::PtrInterface>& machine) const {
  if (!machine) return;
  KEL_TRACE(agentTrace(), 5) << name() << " ~Agent: " << attribute << " dropped";
}

Kel::Ptr<StrobeSourceDirMonitorSm> Agent::strobeSourceDirMonitorSmIs(
    const Kel::Ptr<const Hardware::Strobe::SourceConfigDir>& configDir,
    const Kel::Ptr<Hardware::Strobe::SourceStatusDir>& statusDir,
    const Kel::Ptr<Hardware::Strobe::SourceCliConfigDir>& cliConfigDir) {
  return machineIs(strobeSourceDirMonitorSm_, &StrobeSourceDirMonitorSm::StrobeSourceDirMonitorSmIs,
                   configDir, statusDir, cliConfigDir);
}

Kel::Ptr<StrobeSourceDirMonitorSm> Agent::strobeSourceDirMonitorSmDel() {
  return machineDel(strobeSourceDirMonitorSm_);
}

Kel::Ptr<StrobeSinkDirMonitorSm> Agent::strobeSinkDirMonitorSmIs(
    const Kel::Ptr<const Hardware::Strobe::SinkConfigDir>& configDir,
    const Kel::Ptr<Hardware::Strobe::SinkStatusDir>& statusDir,
    const Kel::Ptr<Hardware::Strobe::SinkCliConfigDir>& cliConfigDir,
    const Kel::Ptr<const Hardware::ClockMux::MuxConfigDir>& muxConfigDir,
    const Kel::Ptr<Hardware::ClockMux::MuxStatusDir>& muxStatusDir) {
  return machineIs(strobeSinkDirMonitorSm_, &StrobeSinkDirMonitorSm::StrobeSinkDirMonitorSmIs,
                   configDir, statusDir, cliConfigDir, muxConfigDir, muxStatusDir);
}

Kel::Ptr<StrobeSinkDirMonitorSm> Agent::strobeSinkDirMonitorSmDel() {
  return machineDel(strobeSinkDirMonitorSm_);
}

Kel::Ptr<FreqSourceDirMonitorSm> Agent::freqSourceDirMonitorSmIs(
    const Kel::Ptr<const Hardware::Freq::SourceConfigDir>& configDir,
    const Kel::Ptr<Hardware::Freq::SourceStatusDir>& statusDir,
    const Kel::Ptr<Hardware::Freq::SourceCliConfigDir>& cliConfigDir) {
  return machineIs(freqSourceDirMonitorSm_, &FreqSourceDirMonitorSm::FreqSourceDirMonitorSmIs,
                   configDir, statusDir, cliConfigDir);
}

Kel::Ptr<FreqSourceDirMonitorSm> Agent::freqSourceDirMonitorSmDel() {
  return machineDel(freqSourceDirMonitorSm_);
}

Kel::Ptr<FreqSinkDirMonitorSm> Agent::freqSinkDirMonitorSmIs(
    const Kel::Ptr<const Hardware::Freq::SinkConfigDir>& configDir,
    const Kel::Ptr<Hardware::Freq::SinkStatusDir>& statusDir,
    const Kel::Ptr<Hardware::Freq::SinkCliConfigDir>& cliConfigDir,
    const Kel::Ptr<const Hardware::ClockMux::MuxConfigDir>& muxConfigDir,
    const Kel::Ptr<Hardware::ClockMux::MuxStatusDir>& muxStatusDir) {
  return machineIs(freqSinkDirMonitorSm_, &FreqSinkDirMonitorSm::FreqSinkDirMonitorSmIs, configDir,
                   statusDir, cliConfigDir, muxConfigDir, muxStatusDir);
}

Kel::Ptr<FreqSinkDirMonitorSm> Agent::freqSinkDirMonitorSmDel() {
  return machineDel(freqSinkDirMonitorSm_);
}

Kel::Ptr<MuxDirMonitorSm> Agent::muxDirMonitorSmIs(
    const Kel::Ptr<const Hardware::ClockMux::MuxConfigDir>& configDir,
    const Kel::Ptr<Hardware::ClockMux::MuxStatusDir>& statusDir) {
  return machineIs(muxDirMonitorSm_, &MuxDirMonitorSm::MuxDirMonitorSmIs, configDir, statusDir);
}

Kel::Ptr<MuxDirMonitorSm> Agent::muxDirMonitorSmDel() {
  return machineDel(muxDirMonitorSm_);
}

Kel::Ptr<PortConfigDirPolicySm> Agent::portConfigDirPolicySmIs(
    const Kel::Ptr<const Hardware::Clocking::PortCliConfigDir>& portCliConfigDir,
    const Kel::Ptr<Hardware::Clocking::PortCliStatusDir>& portCliStatusDir,
    const Kel::Ptr<Hardware::Strobe::SinkCliConfigDir>& strobeSinkCliConfigDir) {
  return machineIs(portConfigDirPolicySm_, &portConfigDirPolicySmFactory, portCliConfigDir,
                   portCliStatusDir, strobeSinkCliConfigDir);
}

Kel::Ptr<PortConfigDirPolicySm> Agent::portConfigDirPolicySmDel() {
  return machineDel(portConfigDirPolicySm_);
}

// The table goes to the waiter in the handler that builds it, so before its first poll.
Kel::Ptr<PpsWaiterSm> Agent::ppsWaiterSmIs() {
  if (ppsWaiterSm_) return ppsWaiterSm_;
  ppsWaiterSm_ = PpsWaiterSm::PpsWaiterSmIs(ppsConfig_, ppsStatus_);
  ppsWaiterSm_->ppsWaiterTimestampsIs(ppsWaiterTimestamps_);
  return ppsWaiterSm_;
}

Kel::Ptr<PpsWaiterSm> Agent::ppsWaiterSmDel() {
  return machineDel(ppsWaiterSm_);
}

void Agent::doPreInit() {
  KEL_TRACE(agentTrace(), 5) << name() << " doPreInit";
  agentCorralNameIs("VelaClockAgent");
}

void Agent::doInit() {
  KEL_TRACE(agentTrace(), 5) << name() << " doInit";
  if (sliceId().empty()) sliceIdIs(fixedSystem);
  KEL_TRACE(agentTrace(), 5) << name() << " doInit"
                             << "; sliceId:" << sliceId();
  Kel::ActivityFacility::activityManagerConfig()->useEpollIs(true);
  const Kel::Ptr<Corral::MountGroup> group = entityManager()->getMountGroup(this);
  group->doMountProfile(mountProfileName);
  group->doClose(false, "", 0);
}

void Agent::doMountsComplete(Corral::MountStatus mountStatus,
                             const Kel::Ptr<Corral::EntityManager>& entityManager) {
  VELACLOCK_TRACE(0, "doMountsComplete") << doMountsCompleteSignature;
  if (mountStatus != Corral::mountSuccess_) {
    KEL_INVARIANT_FAILED(agentTrace(), "mountStatus == Corral::mountSuccess_");
    return;
  }
  if (const char* missing = takeDirectories(Stage::required, *entityManager)) {
    KEL_INVARIANT_FAILED(agentTrace(), missing);
    return;
  }
  createMonitors();
  takeDirectories(Stage::clocking, *entityManager);
  // The mux monitor exists by now, so the policy's first sink cliConfig entry can be routed.
  portConfigDirPolicySmIs(portCliConfigDir_, portCliStatusDir_, strobeSinkCliConfigDir_);
  routeFiledSources();
  takeDirectories(Stage::ppsWaiter, *entityManager);
  mountPpsEdgeTable(entityManager);
  KEL_TRACE(agentTrace(), 5) << name() << " doMountsComplete: portCliConfigDir "
                             << presence(bool(portCliConfigDir_)) << ", portCliStatusDir "
                             << presence(bool(portCliStatusDir_)) << ", ppsConfig "
                             << presence(bool(ppsConfig_)) << ", ppsStatus "
                             << presence(bool(ppsStatus_)) << ", ppsWaiterTimestamps "
                             << presence(bool(ppsWaiterTimestamps_));
  ppsWaiterSmIs();
  releaseRelay(*entityManager);
}

const char* Agent::takeDirectories(Stage stage, const Corral::EntityManager& entityManager) {
  for (const Directory& directory : directories_) {
    if (directory.stage != stage) continue;
    const bool found = directory.take(*this, entityManager, directory.path);
    if (!found && stage == Stage::required) return directory.name;
  }
  if (stage == Stage::required) {
    const auto required =
        std::count_if(std::begin(directories_), std::end(directories_),
                      [](const Directory& d) { return d.stage == Stage::required; });
    KEL_TRACE(agentTrace(), 5) << name() << " doMountsComplete: the " << required
                               << " required directories found";
  }
  return nullptr;
}

// The sink monitors program no mux while they are built, and the mux monitor, which makes the
// shared mux access method on real hardware, exists before any route is programmed.
void Agent::createMonitors() {
  strobeSourceDirMonitorSmIs(strobeSourceConfigDir_, strobeSourceStatusDir_,
                             strobeSourceCliConfigDir_);
  strobeSinkDirMonitorSmIs(strobeSinkConfigDir_, strobeSinkStatusDir_, strobeSinkCliConfigDir_,
                           muxConfigDir_, muxStatusDir_);
  freqSourceDirMonitorSmIs(freqSourceConfigDir_, freqSourceStatusDir_, freqSourceCliConfigDir_);
  freqSinkDirMonitorSmIs(freqSinkConfigDir_, freqSinkStatusDir_, freqSinkCliConfigDir_,
                         muxConfigDir_, muxStatusDir_);
  muxDirMonitorSmIs(muxConfigDir_, muxStatusDir_);
}

// A sink's wanted source filed before the sink monitors were built (as a restart finds it in the
// description it loads) was not routed then: no mux could be programmed yet. It is now, once, as a
// change would route it.
void Agent::routeFiledSources() {
  strobeSinkDirMonitorSm_->handleFiledSettings();
  freqSinkDirMonitorSm_->handleFiledSettings();
}

std::string Agent::applyRoute(CAgent& agent, const Kel::String& sink, const Kel::String& source) {
  auto* velaClock = dynamic_cast<Agent*>(&agent);
  return velaClock ? velaClock->applyRoute(sink, source) : "the agent is not a VelaClockAgent";
}

std::string Agent::applyRoute(const Kel::String& sink, const Kel::String& source) {
  bool applied = false;
  if (strobeSinkConfigDir_ && strobeSinkConfigDir_->sinkConfig(sink)) {
    applied = strobeSinkDirMonitorSm_ && strobeSinkDirMonitorSm_->wantedSourceIs(sink, source);
  } else if (freqSinkConfigDir_ && freqSinkConfigDir_->sinkConfig(sink)) {
    applied = freqSinkDirMonitorSm_ && freqSinkDirMonitorSm_->wantedSourceIs(sink, source);
  } else {
    return "no sink `" + sink + "` is configured";
  }
  return applied ? "" : "the sink `" + sink + "` has no status entry yet";
}

void Agent::mountPpsEdgeTable(const Kel::Ptr<Corral::EntityManager>& em) {
  const Kel::Ptr<KelSharedMem::EntityManager> sharedMemory = KelSharedMem::getEntityManager(em);
  KelFlume::MountInfo mountInfo{KelFlume::KelFlumeType(0)};
  mountInfo.collectionInfoIs(KelFlume::CollectionInfo("ppsEdgeTimestamps", 1, false));
  sharedMemory->doMount(ppsWaiterTimestampsPath, "VelaClockAgent::PpsWaiterTimestamps", mountInfo);
  ppsWaiterTimestampsIs(
      Kel::dynamicPtrCast<PpsWaiterTimestamps>(sharedMemory->getEntity(ppsWaiterTimestampsPath)));
}

void Agent::releaseRelay(const Corral::EntityManager& entityManager) {
  const auto gpoDir = lookUp<const Kel::Dir>(entityManager, gpoPath);
  const bool simulated = isSimulatedSystem();
  VELACLOCK_TRACE(0, "doMountsComplete")
      << doMountsCompleteSignature << " simulation is " << simulated;
  const auto relay =
      gpoDir ? Kel::dynamicPtrCast<const Fru::Gpo>(gpoDir->entityPtr(relayName)) : nullptr;
  // The board powers up with the relay switched over; real hardware gets it released.
  if (relay && !simulated) relay->assertedIs(false);
  KEL_TRACE(agentTrace(), 5) << name() << " doMountsComplete: relay " << relayName
                             << (!relay      ? " absent"
                                 : simulated ? " left alone"
                                             : " released");
}

Clock::Mux::RoutePlan Agent::planRoute(const Corral::EntityManager& database,
                                       const Kel::String& sink, const Kel::String& source) {
  const auto pathOf = [](std::string_view attribute) {
    return std::find_if(std::begin(directories_), std::end(directories_),
                        [&](const Directory& d) { return d.name == attribute; })
        ->path;
  };
  const auto muxes =
      lookUp<const Hardware::ClockMux::MuxConfigDir>(database, pathOf("muxConfigDir"));
  if (!muxes) {
    Clock::Mux::RoutePlan none;
    none.failure = "the mux configuration is not mounted";
    return none;
  }
  Clock::Mux::RoutePlan plan = VelaClockAgent::planRoute(sink, source, muxes);
  const auto strobeSinks =
      lookUp<const Hardware::Strobe::SinkConfigDir>(database, pathOf("strobeSinkConfigDir"));
  const auto freqSinks =
      lookUp<const Hardware::Freq::SinkConfigDir>(database, pathOf("freqSinkConfigDir"));
  if (strobeSinks && strobeSinks->sinkConfig(sink)) {
    plan.sinkCliConfigPath = pathOf("strobeSinkCliConfigDir");
  } else if (freqSinks && freqSinks->sinkConfig(sink)) {
    plan.sinkCliConfigPath = pathOf("freqSinkCliConfigDir");
  }
  return plan;
}

void Agent::ppsWaiterTimestampsIs(const Kel::Ptr<PpsWaiterTimestamps>& table) {
  ppsWaiterTimestamps_ = table;
  if (ppsWaiterSm_) ppsWaiterSm_->ppsWaiterTimestampsIs(table);
}

const Kel::TypeInfo& Agent::fwkType() const {
  return typeInfo();
}

const Kel::TypeInfo& Agent::typeInfo() {
  static const Kel::TypeInfo info = [] {
    Kel::TypeInfo type("VelaClockAgent::Agent", &Kel::TypeInfo::ptrInterface());
    // The state machines, as read-only references: an operator can look at each, change none.
    Kel::TypeBuilder<Agent> builder(type);
    for (const Machine& machine : machines_) machine.describe(builder, machine.name);
    type.factoryIs(Kel::nameOnlyFactory(type.name(), [](const Kel::String& name) {
      return Kel::Ptr<Kel::PtrInterface>(Agent::AgentIs(name));
    }));
    return type;
  }();
  return info;
}

}  // namespace VelaClockAgent

extern "C" const CAgentFactory kelAgentFactory = [](const Kel::String& name) -> Kel::Ptr<CAgent> {
  return VelaClockAgent::agentFactory(name);
};

extern "C" const CAgentRoutePlanner kelAgentRoutePlanner =
    [](const Corral::EntityManager& database, const Kel::String& sink, const Kel::String& source) {
      return VelaClockAgent::Agent::planRoute(database, sink, source);
    };

extern "C" const CAgentRouteApplier kelAgentRouteApplier =
    [](CAgent& agent, const Kel::String& sink, const Kel::String& source) {
      return VelaClockAgent::Agent::applyRoute(agent, sink, source);
    };
