#pragma once

#include <string>
#include <vector>

#include "Corral/EntityManager.h"
#include "Corral/MountProfile.h"
#include "Kel/Clock.h"
#include "Kel/Time.h"

namespace Corral {

// The mounts one mounter asks for at once. Profiles are read when added; closing the group
// mounts their paths and tells the mounter, on a later turn of the event loop, how it went.
class MountGroup : public Kel::PtrInterface {
 public:
  MountGroup(Kel::Ptr<EntityManager> manager, Kel::Ptr<Mounter> mounter);
  ~MountGroup() override;

  // Adds every path of the named profile. A missing or malformed profile makes the whole group
  // fail; its reason is kept in error().
  void doMountProfile(const Kel::String& profile);
  // Closes the group. `synchronous` completes before returning; otherwise completion runs on a
  // later turn of the loop, no earlier than `delay` from now. `label` names the group in errors.
  void doClose(bool synchronous, const Kel::String& label, Kel::Seconds delay);

  MountStatus status() const { return status_; }
  const std::string& error() const { return error_; }
  bool isClosed() const { return closed_; }

 private:
  class CompletionTimer;
  void complete();

  Kel::Ptr<EntityManager> manager_;
  Kel::Ptr<Mounter> mounter_;
  std::vector<Mount> mounts_;
  MountStatus status_ = mountSuccess_;
  std::string error_;
  Kel::String label_;
  bool closed_ = false;
  Kel::Ptr<CompletionTimer> timer_;
};

}  // namespace Corral
