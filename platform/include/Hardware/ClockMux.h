#pragma once

#include <cstdint>

#include "Clock/Mux/AccessMethod.h"
#include "Kel/Entity.h"

// Clock multiplexers: which input each mux passes on is a bit field of an 8-bit control register.
namespace Hardware::ClockMux {

#define HARDWARE_CLOCKMUX_SOURCE_CONTROL(attribute, collection, reference) \
  attribute(std::uint32_t, bitValue)
#define HARDWARE_CLOCKMUX_SINK(attribute, collection, reference)
#define HARDWARE_CLOCKMUX_MUX_CONFIG(attribute, collection, reference)                       \
  attribute(std::uint32_t, controlRegister) attribute(std::uint32_t, bitMask)                \
      attribute(Clock::Mux::AccessMethod, muxAccessMethod) collection(SourceControl, source) \
          collection(Sink, sink)
#define HARDWARE_CLOCKMUX_MUX_CONFIG_DIR(attribute, collection, reference) \
  collection(MuxConfig, muxConfig)
#define HARDWARE_CLOCKMUX_MUX_STATUS(attribute, collection, reference)           \
  attribute(Kel::String, sourceSelect) attribute(std::uint32_t, controlRegister) \
      attribute(std::uint32_t, bitMask) attribute(Clock::Mux::AccessMethod, muxAccessMethod)
#define HARDWARE_CLOCKMUX_MUX_STATUS_DIR(attribute, collection, reference) \
  collection(MuxStatus, muxStatus)

// One input of a mux, named after a signal source or after the mux that feeds it: writing
// bitValue under the mux's bitMask selects it.
KEL_ENTITY_CLASS(Hardware::ClockMux, SourceControl, Kel::Entity, HARDWARE_CLOCKMUX_SOURCE_CONTROL);
// One sink a mux's output drives.
KEL_ENTITY_CLASS(Hardware::ClockMux, Sink, Kel::Entity, HARDWARE_CLOCKMUX_SINK);
// One mux: its control register, the bits that select its source, and how the register is reached.
KEL_ENTITY_CLASS(Hardware::ClockMux, MuxConfig, Kel::Entity, HARDWARE_CLOCKMUX_MUX_CONFIG);
KEL_ENTITY_CLASS(Hardware::ClockMux, MuxConfigDir, Kel::Entity, HARDWARE_CLOCKMUX_MUX_CONFIG_DIR);
// One mux as last handled by the agent: its register settings and the source it was switched to.
KEL_ENTITY_CLASS(Hardware::ClockMux, MuxStatus, Kel::Entity, HARDWARE_CLOCKMUX_MUX_STATUS);
KEL_ENTITY_CLASS(Hardware::ClockMux, MuxStatusDir, Kel::Entity, HARDWARE_CLOCKMUX_MUX_STATUS_DIR);

}  // namespace Hardware::ClockMux
