#pragma once

#include "Kel/Entity.h"

namespace Fru {

// One simulated general-purpose output line: its level and how often it was driven.
struct GpoLine {
  bool asserted = false;
  unsigned writes = 0;
};

// The line named `name`, made (de-asserted, never written) on first use. One set per process.
GpoLine& gpoLine(const Kel::String& name);
void gpoLinesDelAll();

// A general-purpose output, found by name in a state-database directory. Driving it does not
// change the entity, only the line of the same name.
#define FRU_GPO_MEMBERS(attribute, collection, reference)
class Gpo : public Kel::Entity {
  KEL_ENTITY(Fru, Gpo, Kel::Entity, FRU_GPO_MEMBERS)

 public:
  // Drives the line asserted or de-asserted.
  void assertedIs(bool asserted) const;
  bool asserted() const;
  unsigned writeCount() const;

  static void kelDescribeMore(Kel::TypeBuilder<Gpo>& builder);
};

}  // namespace Fru
