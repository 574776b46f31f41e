#pragma once

#include <yaml-cpp/yaml.h>

#include <optional>
#include <set>
#include <string>

#include "Kel/Value.h"
#include "host/DescriptionError.h"

namespace velaclockd {

// Reads one scalar of a value type through the same parsing as entity attributes.
template <class T>
T scalar(const std::string& file, const YAML::Node& node, const std::string& what) {
  std::optional<T> value;
  if (node.IsScalar()) value = Kel::ValueTraits<T>::fromText(node.Scalar());
  if (!value)
    descriptionError(file, node, what + ": expected " + Kel::ValueTraits<T>::expectation());
  return *value;
}

inline void requireMap(const std::string& file, const YAML::Node& node, const std::string& what) {
  if (!node.IsMap()) descriptionError(file, node, "expected " + what);
}

// The member `key` of `map`, which must be there.
inline YAML::Node child(const std::string& file, const YAML::Node& map, const char* key) {
  const YAML::Node value = map[key];
  if (!value) descriptionError(file, map, std::string("expected `") + key + "`");
  return value;
}

// Calls `handle(key, keyNode, value)` for each entry of a map, refusing a key given twice.
template <class Handle>
void forEachUnique(const std::string& file, const YAML::Node& map, Handle handle) {
  std::set<std::string> seen;
  for (const auto& item : map) {
    const auto key = item.first.as<std::string>();
    if (!seen.insert(key).second) descriptionError(file, item.first, "`" + key + "` given twice");
    handle(key, item.first, item.second);
  }
}

}  // namespace velaclockd
