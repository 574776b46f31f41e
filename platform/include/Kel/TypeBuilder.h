#pragma once

#include <string_view>
#include <utility>

#include "Kel/Collection.h"
#include "Kel/TypeInfo.h"
#include "Kel/Value.h"

namespace Kel {

// Adds the descriptors of one type's members to its TypeInfo; used by KEL_ENTITY.
template <class Self>
class TypeBuilder {
 public:
  using Described = Self;
  explicit TypeBuilder(TypeInfo& info) : info_(info) {}

  template <class T, class Get, class Set>
  void attribute(const char* name, AttributeId id, Get get, Set set) {
    AttributeDescriptor d = valueDescriptor<T>(name, get);
    d.id = id;
    d.textIs = [set](PtrInterface& e, std::string_view text) {
      const auto value = ValueTraits<T>::fromText(text);
      if (value) set(static_cast<Self&>(e), *value);
      return value.has_value();
    };
    d.accepts = [](std::string_view text) { return ValueTraits<T>::fromText(text).has_value(); };
    info_.attributeIs(std::move(d));
  }

  template <class T, class Get, class Set>
  void reference(const char* name, AttributeId id, Get get, Set set) {
    AttributeDescriptor d = referenceDescriptor<T>(name, get);
    d.id = id;
    d.referenceIs = [set](PtrInterface& e, const Ptr<const PtrInterface>& target) {
      set(static_cast<Self&>(e), Ptr<const T>(dynamic_cast<const T*>(target.get())));
    };
    info_.attributeIs(std::move(d));
  }

  // An attribute computed from the entity's state: it can be read, not set.
  template <class T, class Get>
  void readOnly(const char* name, Get get) {
    info_.attributeIs(valueDescriptor<T>(name, get));
  }

  // A reference that can be read, not set.
  template <class T, class Get>
  void readOnlyReference(const char* name, Get get) {
    info_.attributeIs(referenceDescriptor<T>(name, get));
  }

  // An operation that reflection can call, with no argument or with a name.
  template <class Call>
  void operation(const char* name, bool takesName, Call call) {
    info_.operationIs(
        OperationDescriptor{name, takesName, [call](PtrInterface& e, const String& argument) {
                              call(static_cast<Self&>(e), argument);
                            }});
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
    d.keysAfter = [member](const PtrInterface& e, const String* after, std::size_t count) {
      return (static_cast<const Self&>(e).*member).keysAfter(after, count);
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
  // What every value attribute has: its name, kind and text, read through `get`.
  template <class T, class Get>
  static AttributeDescriptor valueDescriptor(const char* name, Get get) {
    AttributeDescriptor d;
    d.name = name;
    d.kind = ValueTraits<T>::kind;
    d.expectation = ValueTraits<T>::expectation();
    d.text = [get](const PtrInterface& e) {
      return ValueTraits<T>::toText(get(static_cast<const Self&>(e)));
    };
    return d;
  }

  // What every reference has: its name, target type and target, read through `get`.
  template <class T, class Get>
  static AttributeDescriptor referenceDescriptor(const char* name, Get get) {
    AttributeDescriptor d;
    d.name = name;
    d.kind = ValueKind::reference;
    d.referencedType = &T::typeInfo();
    d.expectation = "an entity of type " + T::typeInfo().name();
    d.reference = [get](const PtrInterface& e) -> Ptr<const PtrInterface> {
      return get(static_cast<const Self&>(e));
    };
    return d;
  }

  TypeInfo& info_;
};

// Makes the TypeInfo of `Self` from its base's members (first) and those that
// `Self::kelDescribe(builder)` adds.
template <class Self>
TypeInfo describeType(const char* name, const TypeInfo* base) {
  TypeInfo info(name, base);
  if (base) {
    for (const auto& a : base->attributes()) info.attributeIs(a);
    for (const auto& c : base->collections()) info.collectionIs(c);
    for (const auto& o : base->operations()) info.operationIs(o);
  }
  TypeBuilder<Self> builder(info);
  Self::kelDescribe(builder);
  return info;
}

}  // namespace Kel
