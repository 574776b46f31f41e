#include "VelaClock/ClockMux.h"

#include "Kel/Entity.h"
#include "VelaClock/AgentTrace.h"
#include "VelaClock/Simulation.h"

namespace VelaClockAgent {

Kel::Ptr<Fru::Ham> clockMuxHam;
Kel::Ptr<Fru::HamImpl> clockMuxHamImpl;
const Kel::String clockMuxHamName = "IntelGpioHam";

namespace {

constexpr const char* handleDirSignature =
    "void VelaClockAgent::MuxDirMonitorSm::handleMuxConfigDir()";
constexpr const char* handleNameSignature =
    "void VelaClockAgent::MuxDirMonitorSm::handleMuxConfigDir(const Kel::String&)";
constexpr const char* handleInitializedSignature =
    "void VelaClockAgent::MuxDirMonitorSm::handleInitialized()";

// How an entity is shown in a trace: its address, and its name when it has one.
struct Reference {
  const Kel::PtrInterface* object;
};
std::ostream& operator<<(std::ostream& out, Reference r) {
  out << std::hex << reinterpret_cast<std::uintptr_t>(r.object) << std::dec;
  if (const auto* entity = dynamic_cast<const Kel::Entity*>(r.object)) {
    out << " (" << entity->name() << ")";
  }
  return out;
}

[[maybe_unused]] const bool clockMuxRegistered =
    (Kel::kelModuleIs<MuxDirMonitorSm>("VelaClock/ClockMux"), true);

// One line for a register access that failed: the operation, the register, the access status,
// and what became of the mux.
void traceFailedAccess(const char* operation, std::uint32_t reg, Fru::AccessStatus result,
                       const std::string& outcome) {
  VELACLOCK_TRACE(0, "setupMuxToSelectSource") << operation << " of the reg 0x" << std::hex << reg
                                               << " failed: " << result << "; " << outcome;
}

// Method 0: read, replace the bits under the mask, write, record, read back. The status entry
// names a new source only once the read-back confirms it; any failed access leaves it as it was.
MuxSwitch programThroughClockMuxHam(const Kel::String& mux, const Kel::String& sourceSelect,
                                    std::uint32_t reg, std::uint8_t bitMask, std::uint8_t bitValue,
                                    Hardware::ClockMux::MuxStatus& status) {
  VELACLOCK_TRACE(0, "setupMuxToSelectSource")
      << "reading the reg 0x" << std::hex << reg
      << " now from clockMuxHamImpl=" << Reference{clockMuxHamImpl.get()};
  std::uint8_t data = 0;
  if (const auto result = clockMuxHamImpl->read8(reg, data); result != Fru::AccessStatus::ok) {
    traceFailedAccess("read8", reg, result, "mux " + mux + " not switched");
    return MuxSwitch::accessFailed;
  }
  VELACLOCK_TRACE(0, "setupMuxToSelectSource")
      << std::hex << "read the reg 0x" << reg << " having value of =0x" << data;
  // Bits outside the mask keep their value: other muxes may share the register.
  const auto newData = static_cast<std::uint8_t>((data & ~bitMask) | bitValue);
  VELACLOCK_TRACE(0, "setupMuxToSelectSource")
      << std::hex << "data is " << data << " newData is " << newData << " bitValue is " << bitValue;
  VELACLOCK_TRACE(0, "setupMuxToSelectSource")
      << std::hex << "writing the reg 0x" << reg << " the value of =0x" << newData;
  if (const auto result = clockMuxHamImpl->write8(reg, newData); result != Fru::AccessStatus::ok) {
    traceFailedAccess("write8", reg, result, "mux " + mux + " not switched");
    return MuxSwitch::accessFailed;
  }
  VELACLOCK_TRACE(0, "setupMuxToSelectSource") << "write sourceSelect to the muxStatus";
  const Kel::String previous = status.sourceSelect();
  status.sourceSelectIs(sourceSelect);
  if (const auto result = clockMuxHamImpl->read8(reg, data); result != Fru::AccessStatus::ok) {
    traceFailedAccess("read8", reg, result, "sourceSelect stays \"" + previous + "\"");
    status.sourceSelectIs(previous);
    return MuxSwitch::accessFailed;
  }
  VELACLOCK_TRACE(0, "setupMuxToSelectSource")
      << std::hex << "re-read data is " << data << " bitMask is " << bitMask << " bitValue is "
      << bitValue;
  if ((data & bitMask) == bitValue) {
    VELACLOCK_TRACE(0, "setupMuxToSelectSource") << "new setting is found to be as expected";
    return MuxSwitch::confirmed;
  }
  // The register does not hold the new selection: status must not claim it does.
  VELACLOCK_TRACE(0, "setupMuxToSelectSource")
      << std::hex << "new setting of mux " << mux << " did not take: re-read 0x" << data
      << " under bitMask 0x" << bitMask << " is not bitValue 0x" << bitValue
      << "; sourceSelect stays \"" << previous << "\"";
  status.sourceSelectIs(previous);
  return MuxSwitch::readBackMismatch;
}

}  // namespace

// By value, as the routing interface is.
// NOLINTBEGIN(performance-unnecessary-value-param)
void setupMuxToSelectSource(Kel::String mux, Kel::String sourceSelect,
                            Kel::Ptr<Hardware::ClockMux::MuxConfigDir const> muxConfigDir,
                            Kel::Ptr<Hardware::ClockMux::MuxStatusDir> muxStatusDir) {
  // NOLINTEND(performance-unnecessary-value-param)
  // Its callers learn nothing of the outcome.
  static_cast<void>(switchMux(mux, sourceSelect, muxConfigDir, muxStatusDir));
}

MuxSwitch switchMux(const Kel::String& mux, const Kel::String& sourceSelect,
                    const Kel::Ptr<Hardware::ClockMux::MuxConfigDir const>& muxConfigDir,
                    const Kel::Ptr<Hardware::ClockMux::MuxStatusDir>& muxStatusDir) {
  VELACLOCK_TRACE(0, "setupMuxToSelectSource")
      << "given mux is " << mux << " given sourceSelect is " << sourceSelect;
  const auto config = muxConfigDir ? muxConfigDir->muxConfig(mux) : nullptr;
  const auto status = muxStatusDir ? muxStatusDir->muxStatus(mux) : nullptr;
  const auto sourceControl = config ? config->source(sourceSelect) : nullptr;
  if (!config || !status || !sourceControl) {
    const std::string missing = !config   ? " is not configured"
                                : !status ? " has no status entry"
                                          : " has no source " + sourceSelect;
    VELACLOCK_TRACE(0, "setupMuxToSelectSource")
        << "mux " << mux << missing << "; nothing switched";
    return MuxSwitch::notSwitched;
  }
  const std::uint32_t reg = config->controlRegister();
  const auto bitMask = static_cast<std::uint8_t>(config->bitMask());
  const auto bitValue = static_cast<std::uint8_t>(sourceControl->bitValue());
  const Clock::Mux::AccessMethod method = config->muxAccessMethod();
  VELACLOCK_TRACE(0, "setupMuxToSelectSource") << std::hex << "reg is " << reg << " bitMask is "
                                               << bitMask << " muxAccessMethod is " << method;
  VELACLOCK_TRACE(0, "setupMuxToSelectSource")
      << "sourceControl is 0x" << Reference{sourceControl.get()};
  switch (method) {
    case Clock::Mux::AccessMethod::clockMuxHam:
      if (!clockMuxHamImpl) {
        VELACLOCK_TRACE(0, "setupMuxToSelectSource")
            << "no clockMuxHamImpl yet: mux " << mux << " not switched";
        return MuxSwitch::notSwitched;
      }
      return programThroughClockMuxHam(mux, sourceSelect, reg, bitMask, bitValue, *status);
    case Clock::Mux::AccessMethod::cpldRegister:
    case Clock::Mux::AccessMethod::fpgaRegister:
      VELACLOCK_TRACE(0, "setupMuxToSelectSource")
          << "This muxAccessMethod is not yet implemented.";
      return MuxSwitch::notSwitched;
  }
  // Any other method: nothing to do, and nothing to say.
  return MuxSwitch::notSwitched;
}

Kel::Ptr<MuxDirMonitorSm> MuxDirMonitorSm::MuxDirMonitorSmIs(
    const Kel::Ptr<const Hardware::ClockMux::MuxConfigDir>& configDir,
    const Kel::Ptr<Hardware::ClockMux::MuxStatusDir>& statusDir) {
  return Kel::newStateMachine<MuxDirMonitorSm>(configDir, statusDir);
}

MuxDirMonitorSm::MuxDirMonitorSm(const Kel::Ptr<const Hardware::ClockMux::MuxConfigDir>& configDir,
                                 const Kel::Ptr<Hardware::ClockMux::MuxStatusDir>& statusDir)
    : statusDir_(statusDir),
      configDir_(configDir ? Kel::makePtr<KelConfigDir>(this, configDir) : nullptr) {
  handleMuxConfigDir();
  handleInitialized();
}

Kel::Ptr<const Hardware::ClockMux::MuxConfigDir> MuxDirMonitorSm::configDir() const {
  return configDir_ ? configDir_->watched() : nullptr;
}

void MuxDirMonitorSm::handleMuxConfigDir() {
  const bool simulation = isSimulatedSystem();
  VELACLOCK_TRACE(0, "handleMuxConfigDir") << handleDirSignature << " simulation is " << simulation;
  if (!simulation && !clockMuxHamImpl) {
    clockMuxHam =
        Kel::makePtr<Fru::Ham>(clockMuxHamName, Fru::HamType::gpioController, nullptr, 0, 0, "");
    clockMuxHam->hasNotificationActiveIs(true);
    clockMuxHamImpl = clockMuxHam->hamImpl();
    clockMuxHamImpl->hamIs(clockMuxHam);
  }
  const auto config = configDir();
  if (!config) return;
  for (const Kel::String& name : config->muxConfig().keys()) {
    if (config->muxConfig(name)) handleMuxConfigDir(name);
  }
}

void MuxDirMonitorSm::handleMuxConfigDir(const Kel::String& name) {
  VELACLOCK_TRACE(0, "handleMuxConfigDir") << handleNameSignature << " name is " << name;
  const auto config = configDir();
  const auto mux = config ? config->muxConfig(name) : nullptr;
  if (mux) {
    VELACLOCK_TRACE(0, "handleMuxConfigDir") << name << " mux config found";
    if (statusDir_) {
      const auto status = statusDir_->muxStatusIs(name);
      status->controlRegisterIs(mux->controlRegister());
      status->bitMaskIs(mux->bitMask());
      status->muxAccessMethodIs(mux->muxAccessMethod());
    }
    VELACLOCK_TRACE(0, "handleMuxConfigDir") << name << " mux status created";
  } else {
    VELACLOCK_TRACE(0, "handleMuxConfigDir") << name << " mux config NOT found";
    if (statusDir_) statusDir_->muxStatusDel(name);
    VELACLOCK_TRACE(0, "handleMuxConfigDir") << name << " mux status deleted";
  }
}

void MuxDirMonitorSm::handleInitialized() {
  VELACLOCK_TRACE(0, "handleInitialized") << handleInitializedSignature;
  initialized_ = true;
}

const Kel::TypeInfo& MuxDirMonitorSm::typeInfo() {
  static const Kel::TypeInfo info =
      Kel::describeType<MuxDirMonitorSm>("VelaClockAgent::MuxDirMonitorSm", nullptr);
  return info;
}

const Kel::TypeInfo& MuxDirMonitorSm::fwkType() const {
  return typeInfo();
}

void MuxDirMonitorSm::kelDescribe(Kel::TypeBuilder<MuxDirMonitorSm>& b) {
  b.readOnlyReference<Hardware::ClockMux::MuxConfigDir>(
      "configDir", [](const MuxDirMonitorSm& m) { return m.configDir(); });
  b.readOnlyReference<Hardware::ClockMux::MuxStatusDir>(
      "statusDir", [](const MuxDirMonitorSm& m) { return m.statusDir(); });
  b.attribute<bool>(
      "initialized", Kel::AttributeId{2}, [](const MuxDirMonitorSm& m) { return m.initialized(); },
      [](MuxDirMonitorSm& m, bool value) { m.initializedIs(value); });
  b.operation("handleMuxConfigDir", true,
              [](MuxDirMonitorSm& m, const Kel::String& name) { m.handleMuxConfigDir(name); });
  b.operation("handleInitialized", false,
              [](MuxDirMonitorSm& m, const Kel::String&) { m.handleInitialized(); });
}

}  // namespace VelaClockAgent
