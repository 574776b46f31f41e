#pragma once

#include <cstdint>
#include <ostream>

#include "Kel/Entity.h"

// Clocking ports: the configuration of timing inputs such as the PPS GNSS input port.
namespace Hardware::Clocking {

// What a clocking input port carries.
enum class Signal : std::uint8_t {
  none = 0,        // nothing: the port feeds no sink
  pps = 1,         // a pulse per second on the port itself
  gnssPps = 2,     // the pulse per second of the GNSS receiver
  gnssPpsTod = 3,  // the GNSS receiver's pulse per second with time of day
};

// Prints the signal's name, or its number when it has none.
std::ostream& operator<<(std::ostream& out, Signal signal);

#define HARDWARE_CLOCKING_PORT(attribute, collection, reference)
#define HARDWARE_CLOCKING_PPS_GNSS_IN(attribute, collection, reference) \
  attribute(Signal, signal) attribute(double, cableDelayNs)
#define HARDWARE_CLOCKING_PORT_STATUS(attribute, collection, reference) attribute(Signal, signal)
#define HARDWARE_CLOCKING_PPS_GNSS_IN_STATUS(attribute, collection, reference) \
  attribute(double, cableDelayNs)
#define HARDWARE_CLOCKING_PORT_CLI_CONFIG_DIR(attribute, collection, reference) \
  collection(PortConfig, allPortConfig)
#define HARDWARE_CLOCKING_PORT_CLI_STATUS_DIR(attribute, collection, reference) \
  collection(PpsGnssInPortStatus, ppsGnssInPortStatus) collection(PortStatus, allPortStatus)

// The configuration of one port; each kind of port derives its own.
KEL_ENTITY_CLASS(Hardware::Clocking, PortConfig, Kel::Entity, HARDWARE_CLOCKING_PORT);
// The PPS GNSS input port: the signal it carries and its cable delay in nanoseconds.
KEL_ENTITY_CLASS(Hardware::Clocking, PpsGnssInPortConfig, PortConfig,
                 HARDWARE_CLOCKING_PPS_GNSS_IN);
// The status of one port.
KEL_ENTITY_CLASS(Hardware::Clocking, PortStatus, Kel::Entity, HARDWARE_CLOCKING_PORT_STATUS);
KEL_ENTITY_CLASS(Hardware::Clocking, PpsGnssInPortStatus, PortStatus,
                 HARDWARE_CLOCKING_PPS_GNSS_IN_STATUS);
// Port configurations by port name, of any port kind.
KEL_ENTITY_CLASS(Hardware::Clocking, PortCliConfigDir, Kel::Entity,
                 HARDWARE_CLOCKING_PORT_CLI_CONFIG_DIR);
// Port statuses: PPS GNSS input ones by kind, and every one in allPortStatus.
KEL_ENTITY_CLASS(Hardware::Clocking, PortCliStatusDir, Kel::Entity,
                 HARDWARE_CLOCKING_PORT_CLI_STATUS_DIR);

}  // namespace Hardware::Clocking
