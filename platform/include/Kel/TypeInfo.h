#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "Kel/AttributeId.h"
#include "Kel/Ptr.h"
#include "Kel/PtrInterface.h"
#include "Kel/String.h"
#include "Kel/Value.h"

namespace Kel {

// Generic creation was given arguments the type does not take.
class NewEntityArgumentsError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

class TypeInfo;

// One reflected attribute. Plain values travel as text (ValueTraits); references as entities.
struct AttributeDescriptor {
  String name;
  AttributeId id;
  ValueKind kind = ValueKind::string;
  std::string expectation;                   // what a valid value looks like, for error messages
  const TypeInfo* referencedType = nullptr;  // for references: the type they point at
  std::function<std::string(const PtrInterface&)> text;
  // Parses and sets; false (and nothing changed) when the text is not a valid value. Null when
  // the attribute is read-only.
  std::function<bool(PtrInterface&, std::string_view)> textIs;
  // True when `text` is a valid value (what textIs would accept), changing nothing.
  std::function<bool(std::string_view)> accepts;
  std::function<Ptr<const PtrInterface>(const PtrInterface&)> reference;
  std::function<void(PtrInterface&, const Ptr<const PtrInterface>&)> referenceIs;

  bool isWritable() const {
    return kind == ValueKind::reference ? bool(referenceIs) : bool(textIs);
  }
};

// One reflected keyed collection.
struct CollectionDescriptor {
  String name;
  AttributeId id;
  const TypeInfo* entryType = nullptr;
  std::function<std::vector<String>(const PtrInterface&)> keys;  // ascending key order
  // Up to a count of keys after a key (from the first when null), in ascending order.
  std::function<std::vector<String>(const PtrInterface&, const String*, std::size_t)> keysAfter;
  std::function<Ptr<PtrInterface>(const PtrInterface&, const String&)> entry;
  // Files `entry` (of entryType or derived) under its name; replaces a present entry.
  std::function<void(PtrInterface&, const Ptr<PtrInterface>&)> entryIs;
  std::function<void(PtrInterface&, const String&)> entryDel;
};

// One reflected operation, callable with no argument or with a name.
struct OperationDescriptor {
  String name;
  bool takesName = false;
  std::function<void(PtrInterface&, const String&)> invoke;
};

using EntityFactory = std::function<Ptr<PtrInterface>(const std::vector<String>& arguments)>;

// The reflected description of one type: its attributes, collections and operations (base types'
// first), and how to create it generically.
class TypeInfo {
 public:
  TypeInfo(String name, const TypeInfo* base);

  const String& name() const { return name_; }
  const TypeInfo* base() const { return base_; }
  const String& module() const { return module_; }
  const std::vector<AttributeDescriptor>& attributes() const { return attributes_; }
  const std::vector<CollectionDescriptor>& collections() const { return collections_; }
  const std::vector<OperationDescriptor>& operations() const { return operations_; }
  const AttributeDescriptor* attribute(std::string_view name) const;
  const CollectionDescriptor* collection(std::string_view name) const;
  const OperationDescriptor* operation(std::string_view name) const;
  bool derivesFrom(const TypeInfo& other) const;
  bool isCreatable() const { return bool(factory_); }
  // Creates an object of this type; throws NewEntityArgumentsError when the arguments do not fit,
  // std::logic_error when the type cannot be created generically.
  Ptr<PtrInterface> newEntity(const std::vector<String>& arguments) const;

  // Builder side, used while the descriptor is made (TypeBuilder, kelModuleIs).
  void attributeIs(AttributeDescriptor descriptor) { attributes_.push_back(std::move(descriptor)); }
  void collectionIs(CollectionDescriptor d) { collections_.push_back(std::move(d)); }
  void operationIs(OperationDescriptor d) { operations_.push_back(std::move(d)); }
  void factoryIs(EntityFactory factory) { factory_ = std::move(factory); }
  void moduleIs(String module) const { module_ = std::move(module); }

  static const TypeInfo& ptrInterface();

 private:
  String name_;
  const TypeInfo* base_;
  mutable String module_;
  std::vector<AttributeDescriptor> attributes_;
  std::vector<CollectionDescriptor> collections_;
  std::vector<OperationDescriptor> operations_;
  EntityFactory factory_;
};

// A group of types registered together when the library that defines them is loaded.
struct Module {
  String name;
  std::vector<const TypeInfo*> types;
};

// Registers a module's types with the runtime; a later module may not reuse a type name.
void kelModuleIs(const Module& module);
template <class... Types>
void kelModuleIs(const String& module) {
  kelModuleIs(Module{module, {&Types::typeInfo()...}});
}
// A registered type by its full name (`Hardware::ClockMux::MuxConfig`), or null.
const TypeInfo* typeInfo(std::string_view name);
// Every registered type, ordered by name.
std::vector<const TypeInfo*> registeredTypes();
// Generic creation by type name; throws as TypeInfo::newEntity, or std::invalid_argument when
// the type is unknown.
Ptr<PtrInterface> newEntity(std::string_view typeName, const std::vector<String>& arguments);

// A factory that takes a name and nothing else, and makes the object with `create`.
inline EntityFactory nameOnlyFactory(
    const String& typeName, const std::function<Ptr<PtrInterface>(const String&)>& create) {
  return [typeName, create](const std::vector<String>& arguments) -> Ptr<PtrInterface> {
    if (arguments.size() != 1) {
      throw NewEntityArgumentsError(typeName +
                                    ": generic creation takes a name and nothing else (" +
                                    std::to_string(arguments.size()) + " arguments given)");
    }
    return create(arguments.front());
  };
}

// The usual factory of an entity type: one argument, the name.
template <class T>
EntityFactory nameOnlyFactory(const String& typeName) {
  return nameOnlyFactory(typeName, [](const String& name) { return makePtr<T>(name); });
}

}  // namespace Kel
