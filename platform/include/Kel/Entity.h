#pragma once

#include <utility>

#include "Kel/Collection.h"
#include "Kel/PtrInterface.h"
#include "Kel/String.h"
#include "Kel/TypeBuilder.h"
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

// Makes the TypeInfo of an entity type from its base's and its own members.
template <class Self>
TypeInfo describeEntityType(const char* name) {
  TypeInfo info = describeType<Self>(name, &Self::KelBase::typeInfo());
  if constexpr (requires(TypeBuilder<Self> & b) { Self::kelDescribeMore(b); }) {
    TypeBuilder<Self> builder(info);
    Self::kelDescribeMore(builder);
  }
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
