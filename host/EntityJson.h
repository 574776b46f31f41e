#pragma once

#include <nlohmann/json.hpp>

#include "Kel/PtrInterface.h"
#include "Kel/TypeInfo.h"

namespace velaclockd {

// An entity as JSON, through reflection alone: "type", "name", every attribute by name (numbers
// and enumerations as numbers, infinite and NaN floats as their text, strings as strings,
// references as the referenced entity inline or null) and every collection as an object keyed by
// entry name. The shape loads back as a platform description's entity.
nlohmann::ordered_json entityToJson(const Kel::PtrInterface& entity);
// One attribute of `entity`, as entityToJson shows it.
nlohmann::ordered_json attributeToJson(const Kel::AttributeDescriptor& attribute,
                                       const Kel::PtrInterface& entity);

}  // namespace velaclockd
