#include "Corral/MountGroup.h"

#include <cstdio>

#include "Kel/Activity.h"
#include "Kel/Trace.h"

namespace Corral {

// Completes a group closed with a delay once the activity clock reaches it. It keeps the group
// alive until then, as a posted completion does.
class MountGroup::CompletionTimer : public Kel::Clock::NotifieeConst {
 public:
  explicit CompletionTimer(MountGroup* group) : group_(group) {}
  void onAttribute(Kel::AttributeId, const void*) override {
    const Kel::Ptr<MountGroup> group = std::move(group_);
    group->timer_.reset();
    group->complete();
  }

 private:
  Kel::Ptr<MountGroup> group_;
};

MountGroup::MountGroup(Kel::Ptr<EntityManager> manager, Kel::Ptr<Mounter> mounter)
    : manager_(std::move(manager)), mounter_(std::move(mounter)) {}

MountGroup::~MountGroup() = default;

void MountGroup::doMountProfile(const Kel::String& profile) {
  MountProfileResult result = readMountProfile(manager_->profileDirectory(), profile);
  if (result.status != mountSuccess_) {
    if (status_ == mountSuccess_) {
      status_ = result.status;
      error_ = result.error;
    }
    return;
  }
  for (Mount& mount : result.profile.mounts) mounts_.push_back(std::move(mount));
}

void MountGroup::doClose(bool synchronous, const Kel::String& label, Kel::Seconds delay) {
  if (closed_) return;
  closed_ = true;
  label_ = label;
  if (synchronous) {
    complete();
  } else if (delay > 0) {
    timer_ = Kel::makePtr<CompletionTimer>(this);
    timer_->hasNotificationActiveIs(true);
    timer_->notifierIs(Kel::ActivityFacility::clock());
    timer_->timeMinIs(Kel::System::currentTime() + delay);
  } else {
    Kel::ActivityFacility::manager().post(
        [group = Kel::Ptr<MountGroup>(this)] { group->complete(); });
  }
}

void MountGroup::complete() {
  if (status_ == mountSuccess_) {
    for (const Mount& mount : mounts_) manager_->mountIs(mount);
  } else {
    static Kel::TraceHandle& trace = Kel::traceHandle("Corral");
    KEL_TRACE(trace, 0) << "mount group " << label_ << " failed: " << error_;
    std::fprintf(stderr, "Corral: mount failed: %s\n", error_.c_str());
  }
  mounter_->doMountsComplete(status_, manager_);
  manager_->mountsCompleted(status_, error_);
}

}  // namespace Corral
