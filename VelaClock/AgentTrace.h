#pragma once

#include "Kel/Trace.h"

namespace VelaClockAgent {

// The trace facility "VelaClockAgent" of the agent and of its state machines.
Kel::TraceHandle& agentTrace();

}  // namespace VelaClockAgent
