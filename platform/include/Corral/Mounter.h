#pragma once

#include "Corral/MountStatus.h"
#include "Kel/Ptr.h"
#include "Kel/PtrInterface.h"

namespace Corral {

class EntityManager;

// A client of the state database: it asks for mounts and is told when they are done.
class Mounter : public Kel::PtrInterface {
 public:
  virtual void doMountsComplete(MountStatus status, const Kel::Ptr<EntityManager>& manager) = 0;
};

}  // namespace Corral
