#include "host/EntityJson.h"

#include <cmath>

#include "Kel/Entity.h"

namespace velaclockd {

namespace {

nlohmann::ordered_json valueToJson(const Kel::AttributeDescriptor& attribute,
                                   const Kel::PtrInterface& entity) {
  if (attribute.kind == Kel::ValueKind::reference) {
    const auto target = attribute.reference(entity);
    return target ? entityToJson(*target) : nlohmann::ordered_json(nullptr);
  }
  const std::string text = attribute.text(entity);
  switch (attribute.kind) {
    case Kel::ValueKind::boolean:
      return text == "true";
    case Kel::ValueKind::unsignedInteger:
    case Kel::ValueKind::enumeration:
      return std::stoull(text);
    case Kel::ValueKind::signedInteger:
      return std::stoll(text);
    case Kel::ValueKind::floatingPoint: {
      // JSON has no infinity or NaN; those stay text, which parses back the same.
      const double value = std::stod(text);
      return std::isfinite(value) ? nlohmann::ordered_json::parse(text)
                                  : nlohmann::ordered_json(text);
    }
    case Kel::ValueKind::string:
    case Kel::ValueKind::reference:
      break;
  }
  return text;
}

}  // namespace

nlohmann::ordered_json entityToJson(const Kel::PtrInterface& entity) {
  const Kel::TypeInfo& type = entity.fwkType();
  nlohmann::ordered_json json = nlohmann::ordered_json::object();
  json["type"] = type.name();
  if (const auto* named = dynamic_cast<const Kel::Entity*>(&entity)) json["name"] = named->name();
  for (const auto& attribute : type.attributes()) {
    json[attribute.name] = valueToJson(attribute, entity);
  }
  for (const auto& collection : type.collections()) {
    nlohmann::ordered_json entries = nlohmann::ordered_json::object();
    for (const Kel::String& key : collection.keys(entity)) {
      if (const auto entry = collection.entry(entity, key)) entries[key] = entityToJson(*entry);
    }
    json[collection.name] = std::move(entries);
  }
  return json;
}

}  // namespace velaclockd
