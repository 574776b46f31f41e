#include "host/EntityJson.h"

#include <cmath>
#include <cstdint>

#include "Kel/Entity.h"
#include "Kel/Value.h"

namespace velaclockd {

namespace {

// An attribute's canonical text as a JSON number of type T. It is the attribute's own text, so it
// parses; should it not, the text itself is shown rather than a made-up number.
template <class T, class... Base>
nlohmann::ordered_json number(const std::string& text, Base... base) {
  if (const auto value = Kel::wholeNumber<T>(text, base...)) return *value;
  return text;
}

}  // namespace

nlohmann::ordered_json attributeToJson(const Kel::AttributeDescriptor& attribute,
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
      return number<std::uint64_t>(text, 10);
    case Kel::ValueKind::signedInteger:
      return number<std::int64_t>(text, 10);
    case Kel::ValueKind::floatingPoint: {
      // JSON has no infinity or NaN: those stay text, which parses back the same. A finite value
      // (a float's too) goes in as the double its shortest text names; JSON prints that back as
      // text naming the same value, subnormals and -0.0 included.
      const auto value = Kel::wholeNumber<double>(text);
      if (value && std::isfinite(*value)) return *value;
      return text;
    }
    case Kel::ValueKind::string:
    case Kel::ValueKind::reference:
      break;
  }
  return text;
}

nlohmann::ordered_json entityToJson(const Kel::PtrInterface& entity) {
  const Kel::TypeInfo& type = entity.fwkType();
  nlohmann::ordered_json json = nlohmann::ordered_json::object();
  json["type"] = type.name();
  if (const auto* named = dynamic_cast<const Kel::Entity*>(&entity)) json["name"] = named->name();
  for (const auto& attribute : type.attributes()) {
    json[attribute.name] = attributeToJson(attribute, entity);
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
