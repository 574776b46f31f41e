#include "VelaClock/VelaClockAgent.h"

#include <cstdlib>

#include "Corral/MountGroup.h"
#include "Fru/Gpo.h"
#include "Kel/Activity.h"
#include "Kel/Dir.h"
#include "KelSharedMem/EntityManager.h"

namespace VelaClockAgent {

namespace {

// State-database paths of the one fixed system this agent serves.
namespace Path {
const Kel::String strobeSourceConfig = "hardware/strobe/source/config/FixedSystem";
const Kel::String strobeSinkConfig = "hardware/strobe/sink/config/FixedSystem";
const Kel::String freqSourceConfig = "hardware/freq/source/config/FixedSystem";
const Kel::String freqSinkConfig = "hardware/freq/sink/config/FixedSystem";
const Kel::String strobeSourceStatus = "hardware/strobe/source/status/FixedSystem";
const Kel::String strobeSinkStatus = "hardware/strobe/sink/status/FixedSystem";
const Kel::String freqSourceStatus = "hardware/freq/source/status/FixedSystem";
const Kel::String freqSinkStatus = "hardware/freq/sink/status/FixedSystem";
const Kel::String strobeSourceCliConfig = "hardware/strobe/source/cliConfig/FixedSystem";
const Kel::String strobeSinkCliConfig = "hardware/strobe/sink/cliConfig/FixedSystem";
const Kel::String freqSourceCliConfig = "hardware/freq/source/cliConfig/FixedSystem";
const Kel::String freqSinkCliConfig = "hardware/freq/sink/cliConfig/FixedSystem";
const Kel::String muxConfig = "hardware/clockmux/config/FixedSystem";
const Kel::String muxStatus = "hardware/clockmux/status/FixedSystem";
const Kel::String portCliConfig = "hardware/clocking/cliConfig/FixedSystem";
const Kel::String portCliStatus = "hardware/clocking/cliStatus/FixedSystem";
const Kel::String ppsWaiterConfig = "hardware/ppsWaiter/config";
const Kel::String ppsWaiterStatus = "hardware/ppsWaiter/status";
const Kel::String gpo = "hardware/tundra/gpo";
const Kel::String ppsWaiterTimestamps = "ppsWaiter/timestamps";
}  // namespace Path

const Kel::String fixedSystem = "FixedSystem";
const Kel::String relayName = "PCA9554-1-smaRelaySw";
const char* const doMountsCompleteSignature =
    "void VelaClockAgent::Agent::doMountsComplete(Corral::MountStatus, const "
    "Kel::Ptr<Corral::EntityManager>&)";

// The entity at `path` as a T, or null when it is absent or of another type.
template <class T>
Kel::Ptr<T> lookUp(const Kel::Ptr<Corral::EntityManager>& manager, const Kel::String& path) {
  return Kel::dynamicPtrCast<T>(manager->getEntity(path));
}

// Stores the entity at `path` in `into`; true when there was one of type T.
template <class T>
bool take(const Kel::Ptr<Corral::EntityManager>& manager, const Kel::String& path,
          Kel::Ptr<T>& into) {
  into = lookUp<T>(manager, path);
  return bool(into);
}

const char* presence(bool present) {
  return present ? "found" : "absent";
}

bool isSimulation() {
  return std::getenv("SIMULATION_VMID") != nullptr;
}

// Keeps the machine in `slot` when it was built from the very same directories (pointer identity);
// otherwise builds one with `make`, replaces the one held and switches it on.
template <class Machine, class Make, class... Directories>
Kel::Ptr<Machine> machineIs(Kel::Ptr<Machine>& slot, Make make, const Directories&... directories) {
  if (slot && slot->directories() == std::tie(directories...)) return slot;
  slot = make(directories...);
  slot->hasNotificationActiveIs(true);
  return slot;
}

// Takes the machine out of `slot`, switched off; the caller's release frees it.
template <class Machine>
Kel::Ptr<Machine> machineDel(Kel::Ptr<Machine>& slot) {
  Kel::Ptr<Machine> machine = std::move(slot);
  if (machine) machine->hasNotificationActiveIs(false);
  return machine;
}

[[maybe_unused]] const bool registered =
    (Kel::kelModuleIs<Agent>("VelaClock/VelaClockAgent"), true);

}  // namespace

Kel::TraceHandle& agentTrace() {
  static Kel::TraceHandle& handle = Kel::traceHandle("VelaClockAgent");
  return handle;
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

// The machines go in the order they were made; then the directories, in reverse declaration order.
Agent::~Agent() {
  muxDirMonitorSmDel();
}

Kel::Ptr<MuxDirMonitorSm> Agent::muxDirMonitorSmIs(
    const Kel::Ptr<const Hardware::ClockMux::MuxConfigDir>& configDir,
    const Kel::Ptr<Hardware::ClockMux::MuxStatusDir>& statusDir) {
  return machineIs(muxDirMonitorSm_, &MuxDirMonitorSm::MuxDirMonitorSmIs, configDir, statusDir);
}

Kel::Ptr<MuxDirMonitorSm> Agent::muxDirMonitorSmDel() {
  return machineDel(muxDirMonitorSm_);
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
  group->doMountProfile("VelaClockAgent");
  group->doClose(false, "", 0);
}

void Agent::doMountsComplete(Corral::MountStatus mountStatus,
                             const Kel::Ptr<Corral::EntityManager>& entityManager) {
  KEL_TRACE(agentTrace(), 0) << "doMountsComplete"
                             << "(): " << doMountsCompleteSignature;
  if (mountStatus != Corral::mountSuccess_) {
    KEL_INVARIANT_FAILED(agentTrace(), "mountStatus == Corral::mountSuccess_");
    return;
  }
  if (const char* missing = takeRequiredDirectories(entityManager)) {
    KEL_INVARIANT_FAILED(agentTrace(), missing);
    return;
  }
  KEL_TRACE(agentTrace(), 5) << name() << " doMountsComplete: the 14 required directories found";
  muxDirMonitorSmIs(muxConfigDir_, muxStatusDir_);

  takeClockingDirectories(entityManager);
  takePpsWaiterEntities(entityManager);
  mountPpsEdgeTable(entityManager);
  KEL_TRACE(agentTrace(), 5) << name() << " doMountsComplete: portCliConfigDir "
                             << presence(bool(portCliConfigDir_)) << ", portCliStatusDir "
                             << presence(bool(portCliStatusDir_)) << ", ppsConfig "
                             << presence(bool(ppsConfig_)) << ", ppsStatus "
                             << presence(bool(ppsStatus_)) << ", ppsWaiterTimestamps "
                             << presence(bool(ppsWaiterTimestamps_));

  const auto gpoDir = lookUp<const Kel::Dir>(entityManager, Path::gpo);
  const bool simulation = isSimulation();
  KEL_TRACE(agentTrace(), 0) << "doMountsComplete"
                             << "(): " << doMountsCompleteSignature << " simulation is "
                             << simulation;
  const auto relay =
      gpoDir ? Kel::dynamicPtrCast<const Fru::Gpo>(gpoDir->entityPtr(relayName)) : nullptr;
  // The board powers up with the relay switched over; real hardware gets it released.
  if (relay && !simulation) relay->assertedIs(false);
  KEL_TRACE(agentTrace(), 5) << name() << " doMountsComplete: relay " << relayName
                             << (!relay       ? " absent"
                                 : simulation ? " left alone"
                                              : " released");
}

const char* Agent::takeRequiredDirectories(const Kel::Ptr<Corral::EntityManager>& em) {
  if (!take(em, Path::strobeSourceConfig, strobeSourceConfigDir_)) return "strobeSourceConfigDir";
  if (!take(em, Path::strobeSinkConfig, strobeSinkConfigDir_)) return "strobeSinkConfigDir";
  if (!take(em, Path::freqSourceConfig, freqSourceConfigDir_)) return "freqSourceConfigDir";
  if (!take(em, Path::freqSinkConfig, freqSinkConfigDir_)) return "freqSinkConfigDir";
  if (!take(em, Path::strobeSourceStatus, strobeSourceStatusDir_)) return "strobeSourceStatusDir";
  if (!take(em, Path::strobeSinkStatus, strobeSinkStatusDir_)) return "strobeSinkStatusDir";
  if (!take(em, Path::freqSourceStatus, freqSourceStatusDir_)) return "freqSourceStatusDir";
  if (!take(em, Path::freqSinkStatus, freqSinkStatusDir_)) return "freqSinkStatusDir";
  if (!take(em, Path::strobeSourceCliConfig, strobeSourceCliConfigDir_)) {
    return "strobeSourceCliConfigDir";
  }
  if (!take(em, Path::strobeSinkCliConfig, strobeSinkCliConfigDir_)) {
    return "strobeSinkCliConfigDir";
  }
  if (!take(em, Path::freqSourceCliConfig, freqSourceCliConfigDir_)) {
    return "freqSourceCliConfigDir";
  }
  if (!take(em, Path::freqSinkCliConfig, freqSinkCliConfigDir_)) return "freqSinkCliConfigDir";
  if (!take(em, Path::muxConfig, muxConfigDir_)) return "muxConfigDir";
  if (!take(em, Path::muxStatus, muxStatusDir_)) return "muxStatusDir";
  return nullptr;
}

void Agent::takeClockingDirectories(const Kel::Ptr<Corral::EntityManager>& em) {
  take(em, Path::portCliConfig, portCliConfigDir_);
  take(em, Path::portCliStatus, portCliStatusDir_);
}

void Agent::takePpsWaiterEntities(const Kel::Ptr<Corral::EntityManager>& em) {
  take(em, Path::ppsWaiterConfig, ppsConfig_);
  take(em, Path::ppsWaiterStatus, ppsStatus_);
}

void Agent::mountPpsEdgeTable(const Kel::Ptr<Corral::EntityManager>& em) {
  const Kel::Ptr<KelSharedMem::EntityManager> sharedMemory = KelSharedMem::getEntityManager(em);
  KelFlume::MountInfo mountInfo{KelFlume::KelFlumeType(0)};
  mountInfo.collectionInfoIs(KelFlume::CollectionInfo("ppsEdgeTimestamps", 1, false));
  sharedMemory->doMount(Path::ppsWaiterTimestamps, "VelaClockAgent::PpsWaiterTimestamps",
                        mountInfo);
  ppsWaiterTimestampsIs(
      Kel::dynamicPtrCast<PpsWaiterTimestamps>(sharedMemory->getEntity(Path::ppsWaiterTimestamps)));
}

void Agent::ppsWaiterTimestampsIs(const Kel::Ptr<PpsWaiterTimestamps>& table) {
  ppsWaiterTimestamps_ = table;
}

const Kel::TypeInfo& Agent::fwkType() const {
  return typeInfo();
}

const Kel::TypeInfo& Agent::typeInfo() {
  static const Kel::TypeInfo info = [] {
    Kel::TypeInfo type("VelaClockAgent::Agent", &Kel::TypeInfo::ptrInterface());
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
