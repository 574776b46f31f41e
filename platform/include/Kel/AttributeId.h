#pragma once

#include <compare>
#include <cstdint>

namespace Kel {

// Names one attribute or collection of an entity type: its position among the type's reflected
// members, base types first. Reactors compare it with the generated constants (`muxConfigId`).
struct AttributeId {
  std::int32_t index = -1;
  constexpr auto operator<=>(const AttributeId&) const = default;
};

}  // namespace Kel
