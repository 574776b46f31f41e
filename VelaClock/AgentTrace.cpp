#include "VelaClock/AgentTrace.h"

namespace VelaClockAgent {

Kel::TraceHandle& agentTrace() {
  static Kel::TraceHandle& handle = Kel::traceHandle("VelaClockAgent");
  return handle;
}

}  // namespace VelaClockAgent
