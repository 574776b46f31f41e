#include "Corral/EntityManager.h"

#include "Corral/MountGroup.h"
#include "Kel/TypeInfo.h"

namespace Corral {

EntityManager::EntityManager(Kel::String instance, std::filesystem::path profileDirectory)
    : instance_(std::move(instance)), profileDirectory_(std::move(profileDirectory)) {}

void EntityManager::entityIs(const Kel::String& path, const Kel::Ptr<Kel::Entity>& entity) {
  entities_[path] = entity;
}

void EntityManager::entityDel(const Kel::String& path) {
  entities_.erase(path);
}

Kel::Ptr<Kel::Entity> EntityManager::storedEntity(const Kel::String& path) const {
  const auto it = entities_.find(path);
  return it == entities_.end() ? nullptr : it->second;
}

Kel::Ptr<Kel::Entity> EntityManager::getEntity(const Kel::String& path) const {
  const auto mount = mounts_.find(path);
  if (mount == mounts_.end()) return nullptr;
  Kel::Ptr<Kel::Entity> entity = storedEntity(path);
  const Kel::TypeInfo* mountedType = Kel::typeInfo(mount->second.type);
  if (!entity || !mountedType || !entity->fwkType().derivesFrom(*mountedType)) return nullptr;
  return entity;
}

Kel::Ptr<MountGroup> EntityManager::getMountGroup(const Kel::Ptr<Mounter>& mounter) {
  return Kel::makePtr<MountGroup>(Kel::Ptr<EntityManager>(this), mounter);
}

Kel::Ptr<Kel::PtrInterface> EntityManager::service(const Kel::String& name) const {
  const auto it = services_.find(name);
  return it == services_.end() ? nullptr : it->second;
}

void EntityManager::serviceIs(const Kel::String& name, const Kel::Ptr<Kel::PtrInterface>& service) {
  services_[name] = service;
}

}  // namespace Corral
