#pragma once

#include <cstdint>

#include "Hardware/Signal.h"

// Frequency sources and sinks.
namespace Hardware::Freq {

#define HARDWARE_FREQ_SOURCE_CONFIG(attribute, collection, reference) \
  attribute(std::uint64_t, frequency) attribute(float, defaultAdjustmentPpb)
#define HARDWARE_FREQ_SOURCE_CLI_CONFIG(attribute, collection, reference) \
  attribute(float, adjustmentPpb) attribute(Kel::String, configImageFile)
#define HARDWARE_FREQ_SOURCE_STATUS(attribute, collection, reference) \
  attribute(std::uint64_t, frequency) attribute(float, adjustmentPpb) \
      attribute(Kel::String, sourceConfigImageFile)

// A source the platform lists: its frequency and the adjustment (ppb) it starts with.
KEL_ENTITY_CLASS(Hardware::Freq, SourceConfig, Kel::Entity, HARDWARE_FREQ_SOURCE_CONFIG);
// The user's adjustment (ppb) and configuration image file for one source.
KEL_ENTITY_CLASS(Hardware::Freq, SourceCliConfig, Kel::Entity, HARDWARE_FREQ_SOURCE_CLI_CONFIG);
// What is in force for one source.
KEL_ENTITY_CLASS(Hardware::Freq, SourceStatus, Kel::Entity, HARDWARE_FREQ_SOURCE_STATUS);

HARDWARE_SIGNAL_SOURCE_DIRS(Hardware::Freq);
HARDWARE_SIGNAL_SINK_TYPES(Hardware::Freq);

}  // namespace Hardware::Freq
