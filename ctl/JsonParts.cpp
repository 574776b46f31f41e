#include "ctl/JsonParts.h"

namespace velaclockctl {

Json entityAt(Client& client, const std::string& path) {
  try {
    return client.request({{"op", "get"}, {"path", path}}).member("entity", Shape::object);
  } catch (const Refused&) {
    return Json::object();
  }
}

Json objectAt(const Json& entity, const std::string& name) {
  if (!entity.is_object()) return Json::object();
  const auto it = entity.find(name);
  return it != entity.end() && it->is_object() ? *it : Json::object();
}

Json entry(const Json& entity, const char* collection, const std::string& key) {
  return objectAt(objectAt(entity, collection), key);
}

std::optional<std::uint64_t> unsignedAt(const Json& entity, const char* name) {
  if (!entity.is_object()) return std::nullopt;
  const auto it = entity.find(name);
  if (it == entity.end() || !it->is_number_unsigned()) return std::nullopt;
  return it->get<std::uint64_t>();
}

std::optional<std::string> stringAt(const Json& entity, const char* name) {
  if (!entity.is_object()) return std::nullopt;
  const auto it = entity.find(name);
  if (it == entity.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

}  // namespace velaclockctl
