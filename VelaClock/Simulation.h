#pragma once

namespace VelaClockAgent {

// Whether the agent runs on a simulated system: SIMULATION_VMID is set in the environment, to any
// value, the empty one included. A simulated system routes nothing and drives no hardware output.
bool isSimulatedSystem();

}  // namespace VelaClockAgent
