#include "Kel/TypeInfo.h"

#include <algorithm>
#include <map>

#include "Kel/Entity.h"

namespace Kel {

TypeInfo::TypeInfo(String name, const TypeInfo* base) : name_(std::move(name)), base_(base) {}

namespace {
template <class Descriptor>
const Descriptor* findByName(const std::vector<Descriptor>& all, std::string_view name) {
  const auto it = std::find_if(all.begin(), all.end(), [&](auto& d) { return d.name == name; });
  return it == all.end() ? nullptr : &*it;
}

std::map<String, const TypeInfo*, std::less<>>& registry() {
  static std::map<String, const TypeInfo*, std::less<>> types;
  return types;
}
}  // namespace

const AttributeDescriptor* TypeInfo::attribute(std::string_view name) const {
  return findByName(attributes_, name);
}

const CollectionDescriptor* TypeInfo::collection(std::string_view name) const {
  return findByName(collections_, name);
}

const OperationDescriptor* TypeInfo::operation(std::string_view name) const {
  return findByName(operations_, name);
}

bool TypeInfo::derivesFrom(const TypeInfo& other) const {
  for (const TypeInfo* t = this; t; t = t->base_) {
    if (t == &other) return true;
  }
  return false;
}

Ptr<PtrInterface> TypeInfo::newEntity(const std::vector<String>& arguments) const {
  if (!factory_) throw std::logic_error(name_ + " cannot be created generically");
  return factory_(arguments);
}

const TypeInfo& TypeInfo::ptrInterface() {
  static const TypeInfo info("Kel::PtrInterface", nullptr);
  return info;
}

const TypeInfo& Entity::typeInfo() {
  static const TypeInfo info("Kel::Entity", &TypeInfo::ptrInterface());
  return info;
}

void kelModuleIs(const Module& module) {
  for (const TypeInfo* type : module.types) {
    const auto [it, added] = registry().emplace(type->name(), type);
    if (!added && it->second != type) {
      throw std::logic_error("type " + type->name() + " of module " + module.name +
                             " is already registered by module " + it->second->module());
    }
    type->moduleIs(module.name);
  }
}

const TypeInfo* typeInfo(std::string_view name) {
  const auto it = registry().find(name);
  return it == registry().end() ? nullptr : it->second;
}

std::vector<const TypeInfo*> registeredTypes() {
  std::vector<const TypeInfo*> types;
  for (const auto& [name, type] : registry()) types.push_back(type);
  return types;
}

Ptr<PtrInterface> newEntity(std::string_view typeName, const std::vector<String>& arguments) {
  const TypeInfo* type = typeInfo(typeName);
  if (!type) throw std::invalid_argument("unknown entity type " + String(typeName));
  return type->newEntity(arguments);
}

}  // namespace Kel
