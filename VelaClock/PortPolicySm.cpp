#include "VelaClock/PortPolicySm.h"

#include "Kel/Trace.h"

namespace VelaClockAgent {

namespace {

Kel::TraceHandle& portPolicyTrace() {
  static Kel::TraceHandle& handle = Kel::traceHandle("PortPolicySm");
  return handle;
}

[[maybe_unused]] const bool portPolicyRegistered =
    (Kel::kelModuleIs<PpsGnssInPortPolicySm, PortConfigDirPolicySm>("VelaClock/PortPolicySm"),
     true);

}  // namespace

const Kel::String PpsGnssInPortPolicySm::handledPortName = "pps-in1";
const Kel::String PpsGnssInPortPolicySm::fpgaPortName = "fpga1/pps-in1";
const Kel::String PpsGnssInPortPolicySm::gnssPortName = "system/gps1";

Kel::Ptr<PpsGnssInPortPolicySm> PpsGnssInPortPolicySm::PpsGnssInPortPolicySmIs(
    const Kel::Ptr<const Hardware::Clocking::PpsGnssInPortConfig>& portConfig,
    const Kel::Ptr<Hardware::Clocking::PpsGnssInPortStatus>& portStatus,
    const Kel::Ptr<Hardware::Strobe::SinkCliConfigDir>& strobeSinkCliConfigDir) {
  return Kel::newStateMachine<PpsGnssInPortPolicySm>(portConfig, portStatus,
                                                     strobeSinkCliConfigDir);
}

Kel::Ptr<PpsGnssInPortPolicySm> ppsGnssInPortPolicySmFactory(
    const Kel::Ptr<const Hardware::Clocking::PpsGnssInPortConfig>& portConfig,
    const Kel::Ptr<Hardware::Clocking::PpsGnssInPortStatus>& portStatus,
    const Kel::Ptr<Hardware::Strobe::SinkCliConfigDir>& strobeSinkCliConfigDir) {
  return PpsGnssInPortPolicySm::PpsGnssInPortPolicySmIs(portConfig, portStatus,
                                                        strobeSinkCliConfigDir);
}

PpsGnssInPortPolicySm::PpsGnssInPortPolicySm(
    const Kel::Ptr<const Hardware::Clocking::PpsGnssInPortConfig>& portConfig,
    const Kel::Ptr<Hardware::Clocking::PpsGnssInPortStatus>& portStatus,
    const Kel::Ptr<Hardware::Strobe::SinkCliConfigDir>& strobeSinkCliConfigDir)
    : portStatus_(portStatus),
      strobeSinkCliConfigDir_(strobeSinkCliConfigDir),
      portConfig_(portConfig ? Kel::makePtr<KelPortConfig>(this, portConfig) : nullptr) {
  handleInitialized();
}

Kel::Ptr<const Hardware::Clocking::PpsGnssInPortConfig> PpsGnssInPortPolicySm::portConfig() const {
  return portConfig_ ? portConfig_->watched() : nullptr;
}

Kel::String PpsGnssInPortPolicySm::name() const {
  const auto config = portConfig();
  return config ? config->name() : Kel::String();
}

void PpsGnssInPortPolicySm::handleInitialized() {
  KEL_TRACE(portPolicyTrace(), 5) << "handleInitialized " << name();
  handleSignal();
  handleCableDelay();
}

void PpsGnssInPortPolicySm::handleSignal() {
  const auto config = portConfig();
  if (!config) return;
  const Hardware::Clocking::Signal signal = config->signal();
  KEL_TRACE(portPolicyTrace(), 5) << "handleSignal " << name() << " " << signal;
  if (strobeSinkCliConfigDir_) {
    switch (signal) {
      case Hardware::Clocking::Signal::none:
        strobeSinkCliConfigDir_->cliConfigDel(fpgaPortName);
        break;
      case Hardware::Clocking::Signal::pps:
        strobeSinkCliConfigDir_->cliConfigIs(fpgaPortName)->sourceNameIs(handledPortName);
        break;
      case Hardware::Clocking::Signal::gnssPps:
      case Hardware::Clocking::Signal::gnssPpsTod:
        strobeSinkCliConfigDir_->cliConfigIs(fpgaPortName)->sourceNameIs(gnssPortName);
        break;
    }
    // Any other signal leaves the sink as it is; it is still mirrored below.
  }
  if (portStatus_) portStatus_->signalIs(signal);
}

void PpsGnssInPortPolicySm::handleCableDelay() {
  const auto config = portConfig();
  if (!config) return;
  KEL_TRACE(portPolicyTrace(), 5) << "handleCableDelay " << name() << " " << config->cableDelayNs();
  if (portStatus_) portStatus_->cableDelayNsIs(config->cableDelayNs());
}

const Kel::TypeInfo& PpsGnssInPortPolicySm::typeInfo() {
  static const Kel::TypeInfo info =
      Kel::describeType<PpsGnssInPortPolicySm>("VelaClockAgent::PpsGnssInPortPolicySm", nullptr);
  return info;
}

const Kel::TypeInfo& PpsGnssInPortPolicySm::fwkType() const {
  return typeInfo();
}

void PpsGnssInPortPolicySm::kelDescribe(Kel::TypeBuilder<PpsGnssInPortPolicySm>& b) {
  using Self = PpsGnssInPortPolicySm;
  b.readOnly<Kel::String>("handledPortName", [](const Self&) { return handledPortName; });
  b.readOnly<Kel::String>("fpgaPortName", [](const Self&) { return fpgaPortName; });
  b.readOnly<Kel::String>("gnssPortName", [](const Self&) { return gnssPortName; });
  b.readOnlyReference<Hardware::Clocking::PpsGnssInPortConfig>(
      "portConfig", [](const Self& m) { return m.portConfig(); });
  b.readOnlyReference<Hardware::Clocking::PpsGnssInPortStatus>(
      "portStatus", [](const Self& m) { return m.portStatus(); });
  b.readOnlyReference<Hardware::Strobe::SinkCliConfigDir>(
      "strobeSinkCliConfigDir", [](const Self& m) { return m.strobeSinkCliConfigDir(); });
  b.readOnly<Kel::String>("name", [](const Self& m) { return m.name(); });
  b.operation("handleSignal", false, [](Self& m, const Kel::String&) { m.handleSignal(); });
  b.operation("handleCableDelay", false, [](Self& m, const Kel::String&) { m.handleCableDelay(); });
  b.operation("handleInitialized", false,
              [](Self& m, const Kel::String&) { m.handleInitialized(); });
}

Kel::Ptr<PortConfigDirPolicySm> PortConfigDirPolicySm::PortConfigDirPolicySmIs(
    const Kel::Ptr<const Hardware::Clocking::PortCliConfigDir>& portCliConfigDir,
    const Kel::Ptr<Hardware::Clocking::PortCliStatusDir>& portCliStatusDir,
    const Kel::Ptr<Hardware::Strobe::SinkCliConfigDir>& strobeSinkCliConfigDir) {
  return Kel::newStateMachine<PortConfigDirPolicySm>(portCliConfigDir, portCliStatusDir,
                                                     strobeSinkCliConfigDir);
}

Kel::Ptr<PortConfigDirPolicySm> portConfigDirPolicySmFactory(
    const Kel::Ptr<const Hardware::Clocking::PortCliConfigDir>& portCliConfigDir,
    const Kel::Ptr<Hardware::Clocking::PortCliStatusDir>& portCliStatusDir,
    const Kel::Ptr<Hardware::Strobe::SinkCliConfigDir>& strobeSinkCliConfigDir) {
  return PortConfigDirPolicySm::PortConfigDirPolicySmIs(portCliConfigDir, portCliStatusDir,
                                                        strobeSinkCliConfigDir);
}

PortConfigDirPolicySm::PortConfigDirPolicySm(
    const Kel::Ptr<const Hardware::Clocking::PortCliConfigDir>& portCliConfigDir,
    const Kel::Ptr<Hardware::Clocking::PortCliStatusDir>& portCliStatusDir,
    const Kel::Ptr<Hardware::Strobe::SinkCliConfigDir>& strobeSinkCliConfigDir)
    : portCliStatusDir_(portCliStatusDir),
      strobeSinkCliConfigDir_(strobeSinkCliConfigDir),
      portCliConfigDir_(portCliConfigDir ? Kel::makePtr<KelPortCliConfigDir>(this, portCliConfigDir)
                                         : nullptr) {
  handleInitialized();
}

Kel::Ptr<const Hardware::Clocking::PortCliConfigDir> PortConfigDirPolicySm::portCliConfigDir()
    const {
  return portCliConfigDir_ ? portCliConfigDir_->watched() : nullptr;
}

void PortConfigDirPolicySm::handleInitialized() {
  KEL_TRACE(portPolicyTrace(), 5) << "handleInitialized";
  const auto dir = portCliConfigDir();
  if (!dir) return;
  for (const Kel::String& name : dir->allPortConfig().keys()) handlePortCliConfigDir(name);
}

void PortConfigDirPolicySm::handlePortCliConfigDir(const Kel::String& name) {
  KEL_TRACE(portPolicyTrace(), 5) << "handlePortCliConfigDir " << name;
  if (name != PpsGnssInPortPolicySm::handledPortName) {
    KEL_INVARIANT_FAILED(portPolicyTrace(), "Unexpected port name: " + name);
    return;
  }
  const auto dir = portCliConfigDir();
  // An entry of another kind of port stands for no entry of this one.
  const auto config = dir ? Kel::dynamicPtrCast<const Hardware::Clocking::PpsGnssInPortConfig>(
                                dir->allPortConfig(name))
                          : nullptr;
  if (config) {
    portPolicySmIs(name, config);
  } else {
    portPolicySmDel(name);
  }
}

// A new machine on every call: it applies the entry at once, then replaces the one held.
void PortConfigDirPolicySm::portPolicySmIs(
    const Kel::String& name,
    const Kel::Ptr<const Hardware::Clocking::PpsGnssInPortConfig>& config) {
  KEL_TRACE(portPolicyTrace(), 5) << "handlePortCliConfigDir Creating portPolicySmIs " << name;
  Kel::Ptr<Hardware::Clocking::PpsGnssInPortStatus> status;
  if (portCliStatusDir_) {
    status = portCliStatusDir_->ppsGnssInPortStatusIs(name);
    portCliStatusDir_->allPortStatusIs(status);
  }
  portPolicySm_ =
      PpsGnssInPortPolicySm::PpsGnssInPortPolicySmIs(config, status, strobeSinkCliConfigDir_);
}

void PortConfigDirPolicySm::portPolicySmDel(const Kel::String& name) {
  KEL_TRACE(portPolicyTrace(), 5) << "handlePortCliConfigDir Deleting portPolicySmIs " << name;
  portPolicySm_.reset();
  if (!portCliStatusDir_) return;
  portCliStatusDir_->allPortStatusDel(name);
  portCliStatusDir_->ppsGnssInPortStatusDel(name);
}

const Kel::TypeInfo& PortConfigDirPolicySm::typeInfo() {
  static const Kel::TypeInfo info =
      Kel::describeType<PortConfigDirPolicySm>("VelaClockAgent::PortConfigDirPolicySm", nullptr);
  return info;
}

const Kel::TypeInfo& PortConfigDirPolicySm::fwkType() const {
  return typeInfo();
}

void PortConfigDirPolicySm::kelDescribe(Kel::TypeBuilder<PortConfigDirPolicySm>& b) {
  using Self = PortConfigDirPolicySm;
  b.readOnlyReference<Hardware::Clocking::PortCliConfigDir>(
      "portCliConfigDir", [](const Self& m) { return m.portCliConfigDir(); });
  b.readOnlyReference<Hardware::Clocking::PortCliStatusDir>(
      "portCliStatusDir", [](const Self& m) { return m.portCliStatusDir(); });
  b.readOnlyReference<Hardware::Strobe::SinkCliConfigDir>(
      "strobeSinkCliConfigDir", [](const Self& m) { return m.strobeSinkCliConfigDir(); });
  b.readOnlyReference<PpsGnssInPortPolicySm>("portPolicySm",
                                             [](const Self& m) { return m.portPolicySm(); });
  b.operation("handlePortCliConfigDir", true,
              [](Self& m, const Kel::String& name) { m.handlePortCliConfigDir(name); });
  b.operation("handleInitialized", false,
              [](Self& m, const Kel::String&) { m.handleInitialized(); });
}

}  // namespace VelaClockAgent
