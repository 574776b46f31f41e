#pragma once

#include <string>

#include <yaml-cpp/yaml.h>

#include "Kel/Entity.h"

namespace velaclockd {

// Builds an entity from its description, through reflection alone, in the shape that
// `velaclockctl get` prints: a map with an optional `type` (default: `expected`), an optional
// `name` (default: `name`; within a collection it must equal the key), its attributes by name and
// its collections as maps keyed by entry name. References are given inline, or null. Read-only
// attributes are accepted and ignored, so that a dump loads back. Throws DescriptionError.
Kel::Ptr<Kel::Entity> entityFromYaml(const YAML::Node& node, const Kel::TypeInfo& expected,
                                     const Kel::String& name, bool nameIsKey,
                                     const std::string& file);

}  // namespace velaclockd
