#pragma once

#include "Kel/Trace.h"

namespace VelaClockAgent {

// The trace facility "VelaClockAgent" of the agent and of its state machines.
Kel::TraceHandle& agentTrace();

}  // namespace VelaClockAgent

// A line of `operation` at `level` of "VelaClockAgent": its text begins "<operation>(): ", its
// origin is the statement's own file and line with `operation` as the function (a helper traces
// under the name of the operation it serves). Nothing after the macro is evaluated when the level
// is off or `condition` is false:  VELACLOCK_TRACE(0, "handleMuxConfigDir") << name;
#define VELACLOCK_TRACE_IF(condition, level, operation)                                          \
  if (!(condition) || !::VelaClockAgent::agentTrace().enabled(level)) {                          \
  } else                                                                                         \
    ::Kel::TraceHelper(::VelaClockAgent::agentTrace(), (level), __FILE__, __LINE__, (operation)) \
        << (operation) << "(): "
#define VELACLOCK_TRACE(level, operation) VELACLOCK_TRACE_IF(true, level, operation)
