#include "VelaClock/Strobe.h"

namespace VelaClockAgent {

namespace {
[[maybe_unused]] const bool strobeRegistered =
    (Kel::kelModuleIs<StrobeSourceDirMonitorSm, StrobeSinkDirMonitorSm>("VelaClock/Strobe"), true);
}  // namespace

Kel::TraceHelper StrobeSources::trace(const char* operation) {
  return Kel::TraceHelper(agentTrace(), 0, __FILE__, __LINE__, operation);
}

Kel::TraceHelper StrobeSinks::trace(const char* operation) {
  return Kel::TraceHelper(agentTrace(), 0, __FILE__, __LINE__, operation);
}

void StrobeSources::apply(const CliConfig& wanted, Status& status, const Extra&) {
  const char* op = texts.handleCliConfig;
  const Signature sig{texts.machine, op, false};
  VELACLOCK_TRACE(0, op) << sig << " before processing: cliConfig's configuredAdjustment is "
                         << wanted.configuredAdjustment();
  VELACLOCK_TRACE(0, op) << sig << " before processing: cliConfig's hasAntenna is "
                         << wanted.hasAntenna();
  VELACLOCK_TRACE(0, op) << sig << " before processing: sourceStatus's configuredAdjustment is "
                         << status.configuredAdjustment();
  VELACLOCK_TRACE(0, op) << sig << " before processing: sourceStatus's hasAntenna is "
                         << status.hasAntenna();
  status.configuredAdjustmentIs(wanted.configuredAdjustment());
  status.hasAntennaIs(wanted.hasAntenna());
  VELACLOCK_TRACE(0, op) << sig << " after processing: sourceStatus's configuredAdjustment is "
                         << status.configuredAdjustment();
  VELACLOCK_TRACE(0, op) << sig << " after processing: sourceStatus's hasAntenna is "
                         << status.hasAntenna();
}

}  // namespace VelaClockAgent
