#pragma once

#include <filesystem>
#include <functional>
#include <map>

#include "Corral/MountProfile.h"
#include "Corral/Mounter.h"
#include "Kel/Entity.h"
#include "Kel/Ptr.h"

namespace Corral {

class MountGroup;

// The state database of one host: a map from path to entity, and the view of it that mounts give
// to the host's client. Paths are fixed strings such as "hardware/clockmux/config/FixedSystem".
class EntityManager : public Kel::PtrInterface {
 public:
  // `instance` keeps the shared resources of parallel hosts apart; profiles are read from
  // `profileDirectory`.
  EntityManager(Kel::String instance, std::filesystem::path profileDirectory);

  const Kel::String& instance() const { return instance_; }
  const std::filesystem::path& profileDirectory() const { return profileDirectory_; }

  // The database itself, as the host builds and edits it.
  void entityIs(const Kel::String& path, const Kel::Ptr<Kel::Entity>& entity);
  void entityDel(const Kel::String& path);
  Kel::Ptr<Kel::Entity> storedEntity(const Kel::String& path) const;
  const std::map<Kel::String, Kel::Ptr<Kel::Entity>>& storedEntities() const { return entities_; }

  // The client's view: the entity at a mounted path, or null when the path is not mounted, holds
  // nothing, or holds an entity that is not of the mounted type.
  Kel::Ptr<Kel::Entity> getEntity(const Kel::String& path) const;
  bool isMounted(const Kel::String& path) const { return mounts_.contains(path); }
  const std::map<Kel::String, Mount>& mounts() const { return mounts_; }

  // A new mount group for `mounter`.
  Kel::Ptr<MountGroup> getMountGroup(const Kel::Ptr<Mounter>& mounter);
  // Told, after a mounter has handled the completion of its mounts, how they went (the host
  // reports readiness from it).
  using MountsCompleteObserver = std::function<void(MountStatus status, const std::string& error)>;
  void mountsCompleteObserverIs(MountsCompleteObserver observer) {
    mountsCompleteObserver_ = std::move(observer);
  }

  // Services attached to this database by name (for example the shared-memory tables).
  Kel::Ptr<Kel::PtrInterface> service(const Kel::String& name) const;
  void serviceIs(const Kel::String& name, const Kel::Ptr<Kel::PtrInterface>& service);

 private:
  friend class MountGroup;
  void mountIs(const Mount& mount) { mounts_[mount.path] = mount; }
  void mountsCompleted(MountStatus status, const std::string& error) const {
    if (mountsCompleteObserver_) mountsCompleteObserver_(status, error);
  }

  Kel::String instance_;
  std::filesystem::path profileDirectory_;
  std::map<Kel::String, Kel::Ptr<Kel::Entity>> entities_;
  std::map<Kel::String, Mount> mounts_;
  std::map<Kel::String, Kel::Ptr<Kel::PtrInterface>> services_;
  MountsCompleteObserver mountsCompleteObserver_;
};

}  // namespace Corral
