#include "VelaClock/Simulation.h"

#include <cstdlib>

namespace VelaClockAgent {

bool isSimulatedSystem() {
  return std::getenv("SIMULATION_VMID") != nullptr;
}

}  // namespace VelaClockAgent
