#pragma once

#include <utility>

#include "Kel/Collection.h"
#include "Kel/PtrInterface.h"
#include "Kel/String.h"
#include "Kel/TypeInfo.h"
#include "Kel/Value.h"

namespace Kel {

// A named entity of the state database. Data-model types derive from it and declare their
// attributes and collections with KEL_ENTITY (below).
class Entity : public PtrInterface {
 public:
  explicit Entity(String name) : name_(std::move(name)) {}
  const String& name() const noexcept { return name_; }

  static constexpr int kelMemberCount = 0;
  static const TypeInfo& typeInfo();
  const TypeInfo& fwkType() const override { return typeInfo(); }

  // Announces a change of the collection `id` under `key` (a copy: handlers may remove the entry).
  void notifyKey(AttributeId id, String key) const { notify(id, &key); }

 protected:
  template <class T>
  void valueIs(T& member, const T& value, AttributeId id) {
    if (sameValue(member, value)) return;
    member = value;
    notify(id, &member);
  }

 private:
  String name_;
};

// Adds the descriptors of one type's members to its TypeInfo; used by KEL_ENTITY.
template <class Self>
class TypeBuilder {
 public:
  explicit TypeBuilder(TypeInfo& info) : info_(info) {}

  template <class T, class Get, class Set>
  void attribute(const char* name, AttributeId id, Get get, Set set) {
    AttributeDescriptor d;
    d.name = name;
    d.id = id;
    d.kind = ValueTraits<T>::kind;
    d.expectation = ValueTraits<T>::expectation();
    d.text = [get](const PtrInterface& e) {
      return ValueTraits<T>::toText(get(static_cast<const Self&>(e)));
    };
    d.textIs = [set](PtrInterface& e, std::string_view text) {
      const auto value = ValueTraits<T>::fromText(text);
      if (value) set(static_cast<Self&>(e), *value);
      return value.has_value();
    };
    info_.attributeIs(std::move(d));
  }

  template <class T, class Get, class Set>
  void reference(const char* name, AttributeId id, Get get, Set set) {
    AttributeDescriptor d;
    d.name = name;
    d.id = id;
    d.kind = ValueKind::reference;
    d.referencedType = &T::typeInfo();
    d.expectation = "an entity of type " + T::typeInfo().name();
    d.reference = [get](const PtrInterface& e) -> Ptr<const PtrInterface> {
      return get(static_cast<const Self&>(e));
    };
    d.referenceIs = [set](PtrInterface& e, const Ptr<const PtrInterface>& target) {
      set(static_cast<Self&>(e), Ptr<const T>(dynamic_cast<const T*>(target.get())));
    };
    info_.attributeIs(std::move(d));
  }

  // An attribute computed from the entity's state: it can be read, not set.
  template <class T, class Get>
  void readOnly(const char* name, Get get) {
    AttributeDescriptor d;
    d.name = name;
    d.kind = ValueTraits<T>::kind;
    d.expectation = ValueTraits<T>::expectation();
    d.text = [get](const PtrInterface& e) {
      return ValueTraits<T>::toText(get(static_cast<const Self&>(e)));
    };
    info_.attributeIs(std::move(d));
  }

  template <class Entry>
  void collection(const char* name, AttributeId id, Collection<Entry> Self::*member) {
    CollectionDescriptor d;
    d.name = name;
    d.id = id;
    d.entryType = &Entry::typeInfo();
    d.keys = [member](const PtrInterface& e) {
      return (static_cast<const Self&>(e).*member).keys();
    };
    d.entry = [member](const PtrInterface& e, const String& key) -> Ptr<PtrInterface> {
      return (static_cast<const Self&>(e).*member).find(key);
    };
    d.entryIs = [member, id](PtrInterface& e, const Ptr<PtrInterface>& entry) {
      auto& self = static_cast<Self&>(e);
      (self.*member).is(self, id, dynamicPtrCast<Entry>(entry));
    };
    d.entryDel = [member, id](PtrInterface& e, const String& key) {
      auto& self = static_cast<Self&>(e);
      (self.*member).del(self, id, key);
    };
    info_.collectionIs(std::move(d));
  }

 private:
  TypeInfo& info_;
};

// Makes the TypeInfo of an entity type from its base's and its own members.
template <class Self>
TypeInfo describeEntityType(const char* name) {
  TypeInfo info(name, &Self::KelBase::typeInfo());
  for (const auto& a : Self::KelBase::typeInfo().attributes()) info.attributeIs(a);
  for (const auto& c : Self::KelBase::typeInfo().collections()) info.collectionIs(c);
  TypeBuilder<Self> builder(info);
  Self::kelDescribe(builder);
  if constexpr (requires { Self::kelDescribeMore(builder); }) Self::kelDescribeMore(builder);
  if constexpr (std::is_constructible_v<Self, String>) {
    info.factoryIs(nameOnlyFactory<Self>(name));
  }
  return info;
}

}  // namespace Kel

// A data-model type that is nothing but its members (see KEL_ENTITY).
#define KEL_ENTITY_CLASS(Namespace, Class, Base, MEMBERS) \
  class Class : public Base {                             \
    KEL_ENTITY(Namespace, Class, Base, MEMBERS)           \
  }

// Declares the members of a data-model entity type from one list, so that accessors, change
// notification, attribute ids and reflection all come from the same place. MEMBERS is a macro
// taking (attribute, collection, reference) and listing, in declaration order:
//   attribute(Type, name)   value attribute: `name()`, `nameIs(v)` (announces real changes only)
//   collection(Entry, name) keyed collection: `name()` walk, `name(key)`, `nameIs(key)` (creates),
//                           `nameIs(entry)` (files by name), `nameDel(key)`
//   reference(Type, name)   reference to a constant entity: `name()`, `nameIs(ptr)`
// Each member also gets `nameId`, the Kel::AttributeId its notifications carry. A class may add
// computed, read-only attributes to its reflection with `static void kelDescribeMore(builder)`.
#define KEL_ENTITY(Namespace, Class, Base, MEMBERS)                                               \
 public:                                                                                          \
  using KelBase = Base;                                                                           \
  using KelSelf_ = Class;                                                                         \
  using KelBase::KelBase;                                                                         \
  enum : int {                                                                                    \
    kelIndexBefore_ = KelBase::kelMemberCount - 1,                                                \
    MEMBERS(KEL_X_INDEX, KEL_X_INDEX, KEL_X_INDEX) kelIndexAfter_                                 \
  };                                                                                              \
  static constexpr int kelMemberCount = kelIndexAfter_;                                           \
  MEMBERS(KEL_X_ATTRIBUTE, KEL_X_COLLECTION, KEL_X_REFERENCE)                                     \
 public:                                                                                          \
  static const ::Kel::TypeInfo& typeInfo() {                                                      \
    static const ::Kel::TypeInfo info = ::Kel::describeEntityType<Class>(#Namespace "::" #Class); \
    return info;                                                                                  \
  }                                                                                               \
  const ::Kel::TypeInfo& fwkType() const override {                                               \
    return typeInfo();                                                                            \
  }                                                                                               \
  static void kelDescribe([[maybe_unused]] ::Kel::TypeBuilder<Class>& builder) {                  \
    MEMBERS(KEL_X_DESCRIBE_ATTRIBUTE, KEL_X_DESCRIBE_COLLECTION, KEL_X_DESCRIBE_REFERENCE)        \
  }                                                                                               \
                                                                                                  \
 private:

#define KEL_X_INDEX(Type, name) kelIndex_##name,

#define KEL_X_ATTRIBUTE(Type, name)                              \
 public:                                                         \
  static constexpr ::Kel::AttributeId name##Id{kelIndex_##name}; \
  const Type& name() const noexcept {                            \
    return name##_;                                              \
  }                                                              \
  void name##Is(const Type& value) {                             \
    valueIs(name##_, value, name##Id);                           \
  }                                                              \
                                                                 \
 private:                                                        \
  Type name##_{};

#define KEL_X_COLLECTION(Entry, name)                            \
 public:                                                         \
  static constexpr ::Kel::AttributeId name##Id{kelIndex_##name}; \
  ::Kel::CollectionView<const Entry> name() const {              \
    return name##_.view();                                       \
  }                                                              \
  ::Kel::Ptr<const Entry> name(const ::Kel::String& key) const { \
    return name##_.find(key);                                    \
  }                                                              \
  ::Kel::Ptr<Entry> name(const ::Kel::String& key) {             \
    return name##_.find(key);                                    \
  }                                                              \
  ::Kel::Ptr<Entry> name##Is(const ::Kel::String& key) {         \
    return name##_.is(*this, name##Id, key);                     \
  }                                                              \
  ::Kel::Ptr<Entry> name##Is(const ::Kel::Ptr<Entry>& entry) {   \
    return name##_.is(*this, name##Id, entry);                   \
  }                                                              \
  ::Kel::Ptr<Entry> name##Del(const ::Kel::String& key) {        \
    return name##_.del(*this, name##Id, key);                    \
  }                                                              \
                                                                 \
 private:                                                        \
  ::Kel::Collection<Entry> name##_;

#define KEL_X_REFERENCE(Type, name)                              \
 public:                                                         \
  static constexpr ::Kel::AttributeId name##Id{kelIndex_##name}; \
  const ::Kel::Ptr<const Type>& name() const noexcept {          \
    return name##_;                                              \
  }                                                              \
  void name##Is(const ::Kel::Ptr<const Type>& value) {           \
    valueIs(name##_, value, name##Id);                           \
  }                                                              \
                                                                 \
 private:                                                        \
  ::Kel::Ptr<const Type> name##_;

#define KEL_X_DESCRIBE_ATTRIBUTE(Type, name)                         \
  builder.template attribute<Type>(                                  \
      #name, name##Id, [](const auto& self) { return self.name(); }, \
      [](auto& self, const Type& value) { self.name##Is(value); });

#define KEL_X_DESCRIBE_COLLECTION(Entry, name) \
  builder.collection(#name, name##Id, &KelSelf_::name##_);

#define KEL_X_DESCRIBE_REFERENCE(Type, name)                         \
  builder.template reference<Type>(                                  \
      #name, name##Id, [](const auto& self) { return self.name(); }, \
      [](auto& self, const ::Kel::Ptr<const Type>& value) { self.name##Is(value); });
