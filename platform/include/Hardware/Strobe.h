#pragma once

#include "Hardware/Signal.h"

// Time-pulse (strobe) sources and sinks.
namespace Hardware::Strobe {

#define HARDWARE_STROBE_SOURCE_CONFIG(attribute, collection, reference)
#define HARDWARE_STROBE_SOURCE_SETTINGS(attribute, collection, reference) \
  attribute(float, configuredAdjustment) attribute(bool, hasAntenna)

// A source the platform lists; only its presence counts.
KEL_ENTITY_CLASS(Hardware::Strobe, SourceConfig, Kel::Entity, HARDWARE_STROBE_SOURCE_CONFIG);
// The user's adjustment and antenna presence for one source.
KEL_ENTITY_CLASS(Hardware::Strobe, SourceCliConfig, Kel::Entity, HARDWARE_STROBE_SOURCE_SETTINGS);
// The adjustment and antenna presence in force for one source.
KEL_ENTITY_CLASS(Hardware::Strobe, SourceStatus, Kel::Entity, HARDWARE_STROBE_SOURCE_SETTINGS);

HARDWARE_SIGNAL_SOURCE_DIRS(Hardware::Strobe);
HARDWARE_SIGNAL_SINK_TYPES(Hardware::Strobe);

}  // namespace Hardware::Strobe
