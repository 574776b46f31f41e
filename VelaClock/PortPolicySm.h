#pragma once

#include <tuple>

#include "Hardware/Clocking.h"
#include "Hardware/Strobe.h"
#include "Kel/AttributeReactor.h"
#include "Kel/CollectionReactor.h"
#include "Kel/ReactorSlot.h"
#include "Kel/TypeBuilder.h"

// The clocking port policy: the configuration of the PPS GNSS input port "pps-in1" chooses the
// source of the strobe sink "fpga1/pps-in1" and is mirrored into the port's status.
namespace VelaClockAgent {

// Applies the configuration of the PPS GNSS input port: its signal chooses the source of the
// strobe sink "fpga1/pps-in1" (written as that sink's cliConfig entry, which the strobe sink
// monitor routes), and its signal and cable delay are mirrored into the port's status.
class PpsGnssInPortPolicySm final : public Kel::StateMachine {
 public:
  class KelPortConfig;

  static const Kel::String handledPortName;  // "pps-in1", the one port handled
  static const Kel::String fpgaPortName;     // "fpga1/pps-in1", the sink it chooses a source for
  static const Kel::String gnssPortName;     // "system/gps1", the GNSS receiver's PPS

  static Kel::Ptr<PpsGnssInPortPolicySm> PpsGnssInPortPolicySmIs(
      const Kel::Ptr<const Hardware::Clocking::PpsGnssInPortConfig>& portConfig,
      const Kel::Ptr<Hardware::Clocking::PpsGnssInPortStatus>& portStatus,
      const Kel::Ptr<Hardware::Strobe::SinkCliConfigDir>& strobeSinkCliConfigDir);
  PpsGnssInPortPolicySm(const Kel::Ptr<const Hardware::Clocking::PpsGnssInPortConfig>& portConfig,
                        const Kel::Ptr<Hardware::Clocking::PpsGnssInPortStatus>& portStatus,
                        const Kel::Ptr<Hardware::Strobe::SinkCliConfigDir>& strobeSinkCliConfigDir);
  const Kel::TypeInfo& fwkType() const override;

  // Chooses the sink's source from the configured signal and mirrors the signal into status.
  void handleSignal();
  // Mirrors the configured cable delay (ns) into status, unchanged.
  void handleCableDelay();
  // Applies the whole configuration entry.
  void handleInitialized();

  Kel::Ptr<const Hardware::Clocking::PpsGnssInPortConfig> portConfig() const;
  const Kel::Ptr<Hardware::Clocking::PpsGnssInPortStatus>& portStatus() const {
    return portStatus_;
  }
  const Kel::Ptr<Hardware::Strobe::SinkCliConfigDir>& strobeSinkCliConfigDir() const {
    return strobeSinkCliConfigDir_;
  }
  // The port's name, as its configuration entry has it ("" without one).
  Kel::String name() const;

  static const Kel::TypeInfo& typeInfo();
  static void kelDescribe(Kel::TypeBuilder<PpsGnssInPortPolicySm>& builder);

 private:
  Kel::Ptr<Hardware::Clocking::PpsGnssInPortStatus> portStatus_;
  Kel::Ptr<Hardware::Strobe::SinkCliConfigDir> strobeSinkCliConfigDir_;
  Kel::ReactorSlot<KelPortConfig> portConfig_;  // last: it goes first (see Kel::ReactorSlot)
};

// Runs handleSignal or handleCableDelay when the port's signal or cable delay changes.
class PpsGnssInPortPolicySm::KelPortConfig final
    : public Kel::AttributeReactor<PpsGnssInPortPolicySm, Hardware::Clocking::PpsGnssInPortConfig,
                                   Kel::On<Hardware::Clocking::PpsGnssInPortConfig::signalId,
                                           &PpsGnssInPortPolicySm::handleSignal>,
                                   Kel::On<Hardware::Clocking::PpsGnssInPortConfig::cableDelayNsId,
                                           &PpsGnssInPortPolicySm::handleCableDelay>> {
 public:
  using AttributeReactor::AttributeReactor;
};

Kel::Ptr<PpsGnssInPortPolicySm> ppsGnssInPortPolicySmFactory(
    const Kel::Ptr<const Hardware::Clocking::PpsGnssInPortConfig>& portConfig,
    const Kel::Ptr<Hardware::Clocking::PpsGnssInPortStatus>& portStatus,
    const Kel::Ptr<Hardware::Strobe::SinkCliConfigDir>& strobeSinkCliConfigDir);

// Watches the clocking port configuration directory. While the configuration entry of "pps-in1"
// exists (as a PPS GNSS input port), the port has a status entry, in both status collections, and
// a PpsGnssInPortPolicySm applying it; a new one on each change of the entry.
class PortConfigDirPolicySm final : public Kel::StateMachine {
 public:
  class KelPortCliConfigDir;

  static Kel::Ptr<PortConfigDirPolicySm> PortConfigDirPolicySmIs(
      const Kel::Ptr<const Hardware::Clocking::PortCliConfigDir>& portCliConfigDir,
      const Kel::Ptr<Hardware::Clocking::PortCliStatusDir>& portCliStatusDir,
      const Kel::Ptr<Hardware::Strobe::SinkCliConfigDir>& strobeSinkCliConfigDir);
  PortConfigDirPolicySm(
      const Kel::Ptr<const Hardware::Clocking::PortCliConfigDir>& portCliConfigDir,
      const Kel::Ptr<Hardware::Clocking::PortCliStatusDir>& portCliStatusDir,
      const Kel::Ptr<Hardware::Strobe::SinkCliConfigDir>& strobeSinkCliConfigDir);
  const Kel::TypeInfo& fwkType() const override;

  // Brings the named port in line with its configuration entry.
  void handlePortCliConfigDir(const Kel::String& name);
  // Handles every port configured when the machine is made.
  void handleInitialized();

  Kel::Ptr<const Hardware::Clocking::PortCliConfigDir> portCliConfigDir() const;
  const Kel::Ptr<Hardware::Clocking::PortCliStatusDir>& portCliStatusDir() const {
    return portCliStatusDir_;
  }
  const Kel::Ptr<Hardware::Strobe::SinkCliConfigDir>& strobeSinkCliConfigDir() const {
    return strobeSinkCliConfigDir_;
  }
  const Kel::Ptr<PpsGnssInPortPolicySm>& portPolicySm() const { return portPolicySm_; }
  // The directories the machine was built with.
  auto directories() const {
    return std::tuple(portCliConfigDir(), portCliStatusDir_, strobeSinkCliConfigDir_);
  }

  static const Kel::TypeInfo& typeInfo();
  static void kelDescribe(Kel::TypeBuilder<PortConfigDirPolicySm>& builder);

 private:
  void portPolicySmIs(const Kel::String& name,
                      const Kel::Ptr<const Hardware::Clocking::PpsGnssInPortConfig>& config);
  void portPolicySmDel(const Kel::String& name);

  Kel::Ptr<Hardware::Clocking::PortCliStatusDir> portCliStatusDir_;
  Kel::Ptr<Hardware::Strobe::SinkCliConfigDir> strobeSinkCliConfigDir_;
  Kel::Ptr<PpsGnssInPortPolicySm> portPolicySm_;
  // Last: it goes first, before the port's machine (see Kel::ReactorSlot).
  Kel::ReactorSlot<KelPortCliConfigDir> portCliConfigDir_;
};

// Runs handlePortCliConfigDir(key) for each change of the directory's `allPortConfig`.
class PortConfigDirPolicySm::KelPortCliConfigDir final
    : public Kel::CollectionReactor<PortConfigDirPolicySm,
                                    const Hardware::Clocking::PortCliConfigDir,
                                    Hardware::Clocking::PortCliConfigDir::allPortConfigId,
                                    &PortConfigDirPolicySm::handlePortCliConfigDir> {
 public:
  using CollectionReactor::CollectionReactor;
};

Kel::Ptr<PortConfigDirPolicySm> portConfigDirPolicySmFactory(
    const Kel::Ptr<const Hardware::Clocking::PortCliConfigDir>& portCliConfigDir,
    const Kel::Ptr<Hardware::Clocking::PortCliStatusDir>& portCliStatusDir,
    const Kel::Ptr<Hardware::Strobe::SinkCliConfigDir>& strobeSinkCliConfigDir);

}  // namespace VelaClockAgent
