#pragma once

#include "Kel/Entity.h"

namespace Kel {

// A directory of named entities of any type (for example the general-purpose outputs of a board).
#define KEL_DIR_MEMBERS(attribute, collection, reference) collection(Entity, entity)
class Dir : public Entity {
  KEL_ENTITY(Kel, Dir, Entity, KEL_DIR_MEMBERS)

 public:
  // The child named `name`, or null.
  Ptr<const Entity> entityPtr(const String& name) const { return entity(name); }
  Ptr<Entity> entityPtr(const String& name) { return entity(name); }
};

}  // namespace Kel
