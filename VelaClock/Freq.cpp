#include "VelaClock/Freq.h"

namespace VelaClockAgent {

namespace {
[[maybe_unused]] const bool freqRegistered =
    (Kel::kelModuleIs<FreqSourceDirMonitorSm, FreqSinkDirMonitorSm>("VelaClock/Freq"), true);
}  // namespace

Kel::TraceHelper FreqSources::trace(const char* operation) {
  return Kel::TraceHelper(agentTrace(), 0, __FILE__, __LINE__, operation);
}

Kel::TraceHelper FreqSinks::trace(const char* operation) {
  return Kel::TraceHelper(agentTrace(), 0, __FILE__, __LINE__, operation);
}

void FreqSources::statusCreated(const Config& config, Status& status, const Extra&) {
  status.frequencyIs(config.frequency());
  status.adjustmentPpbIs(config.defaultAdjustmentPpb());
}

void FreqSources::apply(const CliConfig& wanted, Status& status, const Extra&) {
  const char* op = texts.handleCliConfig;
  const Signature sig{texts.machine, op, false};
  VELACLOCK_TRACE(0, op) << sig << " before processing: cliConfig's configImageFile is "
                         << wanted.configImageFile();
  VELACLOCK_TRACE(0, op) << sig << " before processing: cliConfig's adjustmentPpb is "
                         << wanted.adjustmentPpb();
  VELACLOCK_TRACE(0, op) << sig << " before processing: sourceStatus's configImageFile is "
                         << status.sourceConfigImageFile();
  VELACLOCK_TRACE(0, op) << sig << " before processing: sourceStatus's adjustmentPpb is "
                         << status.adjustmentPpb();
  status.adjustmentPpbIs(wanted.adjustmentPpb());
  status.sourceConfigImageFileIs(wanted.configImageFile());
  VELACLOCK_TRACE(0, op) << sig << " source cli config after processing is";
  VELACLOCK_TRACE(0, op) << sig << " after processing: sourceStatus's configImageFile is "
                         << status.sourceConfigImageFile();
  VELACLOCK_TRACE(0, op) << sig << " after processing: sourceStatus's adjustmentPpb is "
                         << status.adjustmentPpb();
}

}  // namespace VelaClockAgent
