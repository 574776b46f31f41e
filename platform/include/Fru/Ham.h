#pragma once

#include "Fru/HamImpl.h"
#include "Fru/HamType.h"
#include "Kel/Entity.h"

namespace Fru {

// A hardware access method: a named way to reach registers. Its HamImpl is resolved by name from
// the platform's hardware description (Fru::hamImpl).
#define FRU_HAM_MEMBERS(attribute, collection, reference)                                       \
  attribute(HamType, hamType) attribute(std::uint32_t, busId) attribute(std::uint32_t, address) \
      attribute(Kel::String, description)
class Ham : public Kel::Entity {
  KEL_ENTITY(Fru, Ham, Kel::Entity, FRU_HAM_MEMBERS)

 public:
  // A Ham on `parent` (may be null) at bus `busId`, device `address`, described by `description`.
  Ham(Kel::String name, HamType type, Kel::Ptr<Ham> parent, std::uint32_t busId,
      std::uint32_t address, const Kel::String& description);

  const Kel::Ptr<Ham>& parent() const { return parent_; }
  // The register-level object of this Ham; never null (an undescribed Ham gets an in-memory bank).
  Kel::Ptr<HamImpl> hamImpl() const;

 private:
  Kel::Ptr<Ham> parent_;
};

}  // namespace Fru
