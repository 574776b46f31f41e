#pragma once

#include <cstdint>

#include "Fru/Ham.h"
#include "Kel/Entity.h"

// Descriptions of PPS counters.
namespace Hardware::Pps {

// The `counterType` codes; each names the concrete description and the HAL that serves it.
inline constexpr std::uint8_t lumenCounterType = 0;  // LumenCounter, served by LumenHal
inline constexpr std::uint8_t quillCounterType = 1;  // QuillCounter, served by QuillHal
inline constexpr std::uint8_t mockCounterType = 2;   // CounterCommon alone, served by MockHal

#define HARDWARE_PPS_COUNTER_COMMON(attribute, collection, reference) \
  attribute(std::uint8_t, counterType)
#define HARDWARE_PPS_LUMEN_COUNTER(attribute, collection, reference) \
  attribute(std::uint32_t, counterBase)
#define HARDWARE_PPS_QUILL_COUNTER(attribute, collection, reference) \
  attribute(std::uint32_t, counterBase) reference(Fru::Ham, ham)

// One PPS counter. On its own it describes a counter with no hardware (a mock).
class CounterCommon : public Kel::Entity {
  KEL_ENTITY(Hardware::Pps, CounterCommon, Kel::Entity, HARDWARE_PPS_COUNTER_COMMON)

 public:
  explicit CounterCommon(Kel::String name) : Kel::Entity(std::move(name)) {
    counterTypeIs(mockCounterType);
  }
};

// A counter register of the Lumen timing FPGA at `counterBase`.
class LumenCounter : public CounterCommon {
  KEL_ENTITY(Hardware::Pps, LumenCounter, CounterCommon, HARDWARE_PPS_LUMEN_COUNTER)

 public:
  explicit LumenCounter(Kel::String name) : CounterCommon(std::move(name)) {
    counterTypeIs(lumenCounterType);
  }
};

// A counter register of a Quill timing card at `counterBase`, reached through the card's Ham.
class QuillCounter : public CounterCommon {
  KEL_ENTITY(Hardware::Pps, QuillCounter, CounterCommon, HARDWARE_PPS_QUILL_COUNTER)

 public:
  explicit QuillCounter(Kel::String name) : CounterCommon(std::move(name)) {
    counterTypeIs(quillCounterType);
  }
};

}  // namespace Hardware::Pps
