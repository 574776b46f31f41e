#include "host/EntityYaml.h"

#include <fmt/format.h>

#include <set>

#include "host/DescriptionError.h"

namespace velaclockd {

void descriptionError(const std::string& file, const YAML::Mark& mark, const std::string& what) {
  throw DescriptionError(fmt::format("{}:{}:{}: {}", file, mark.line + 1, mark.column + 1, what));
}

void descriptionError(const std::string& file, const YAML::Node& node, const std::string& what) {
  descriptionError(file, node.Mark(), what);
}

namespace {

std::string memberList(const Kel::TypeInfo& type) {
  std::string names;
  for (const auto& a : type.attributes()) names += (names.empty() ? "" : ", ") + a.name;
  for (const auto& c : type.collections()) names += (names.empty() ? "" : ", ") + c.name;
  return names.empty() ? "none" : names;
}

const Kel::TypeInfo& entityType(const YAML::Node& node, const Kel::TypeInfo& expected,
                                const std::string& file) {
  const YAML::Node typeNode = node["type"];
  if (!typeNode) return expected;
  if (!typeNode.IsScalar()) descriptionError(file, typeNode, "expected a type name");
  const Kel::TypeInfo* type = Kel::typeInfo(typeNode.Scalar());
  if (!type) descriptionError(file, typeNode, "unknown entity type `" + typeNode.Scalar() + "`");
  if (!type->derivesFrom(expected)) {
    descriptionError(file, typeNode,
                     "expected an entity of type " + expected.name() +
                         " or one derived from it, "
                         "not " +
                         type->name());
  }
  return *type;
}

Kel::String nameOf(const YAML::Node& node, const Kel::String& name, bool nameIsKey,
                   const std::string& file) {
  const YAML::Node nameNode = node["name"];
  if (!nameNode) return name;
  if (!nameNode.IsScalar()) descriptionError(file, nameNode, "expected a name");
  if (nameIsKey && nameNode.Scalar() != name) {
    descriptionError(
        file, nameNode,
        "expected the entry's key `" + name + "` as its name, not `" + nameNode.Scalar() + "`");
  }
  return nameNode.Scalar();
}

void setAttribute(Kel::Entity& entity, const Kel::AttributeDescriptor& attribute,
                  const YAML::Node& value, const std::string& file) {
  if (!attribute.isWritable()) return;  // computed: shown by a dump, not set
  if (attribute.kind == Kel::ValueKind::reference) {
    if (value.IsNull()) {
      attribute.referenceIs(entity, nullptr);
      return;
    }
    if (!value.IsMap()) descriptionError(file, value, "expected " + attribute.expectation);
    const YAML::Node name = value["name"];
    const Kel::String target = name && name.IsScalar() ? name.Scalar() : attribute.name;
    attribute.referenceIs(entity,
                          entityFromYaml(value, *attribute.referencedType, target, false, file));
    return;
  }
  if (!value.IsScalar() || !attribute.textIs(entity, value.Scalar())) {
    descriptionError(file, value,
                     fmt::format("attribute `{}` of {}: expected {}", attribute.name,
                                 entity.fwkType().name(), attribute.expectation));
  }
}

void fillCollection(Kel::Entity& entity, const Kel::CollectionDescriptor& collection,
                    const YAML::Node& entries, const std::string& file) {
  if (entries.IsNull()) return;
  if (!entries.IsMap()) {
    descriptionError(file, entries,
                     "collection `" + collection.name + "`: expected a map of entries by name");
  }
  std::set<Kel::String> keys;
  for (const auto& item : entries) {
    const auto key = item.first.as<std::string>();
    if (!keys.insert(key).second) {
      descriptionError(file, item.first, "entry `" + key + "` given twice");
    }
    const YAML::Node body = item.second.IsNull() ? YAML::Node(YAML::NodeType::Map) : item.second;
    collection.entryIs(entity, entityFromYaml(body, *collection.entryType, key, true, file));
  }
}

}  // namespace

Kel::Ptr<Kel::Entity> entityFromYaml(const YAML::Node& node, const Kel::TypeInfo& expected,
                                     const Kel::String& name, bool nameIsKey,
                                     const std::string& file) {
  if (!node.IsMap()) {
    descriptionError(file, node, "expected an entity (a map of type, name and members)");
  }
  const Kel::TypeInfo& type = entityType(node, expected, file);
  if (!type.isCreatable()) {
    descriptionError(file, node, type.name() + " cannot be created: give a concrete `type`");
  }
  auto entity =
      Kel::dynamicPtrCast<Kel::Entity>(type.newEntity({nameOf(node, name, nameIsKey, file)}));
  if (!entity) descriptionError(file, node, type.name() + " is not an entity");

  std::set<Kel::String> seen;
  for (const auto& item : node) {
    const auto key = item.first.as<std::string>();
    if (!seen.insert(key).second) descriptionError(file, item.first, "`" + key + "` given twice");
    if (key == "type" || key == "name") continue;
    if (const auto* attribute = type.attribute(key)) {
      setAttribute(*entity, *attribute, item.second, file);
    } else if (const auto* collection = type.collection(key)) {
      fillCollection(*entity, *collection, item.second, file);
    } else {
      descriptionError(file, item.first,
                       fmt::format("{} has no attribute or collection `{}` (it has: {})",
                                   type.name(), key, memberList(type)));
    }
  }
  return entity;
}

}  // namespace velaclockd
