#include "host/Supervision.h"

#include <systemd/sd-daemon.h>

#include <cstdint>

namespace velaclockd {

// Pets the watchdog at half its interval, on the activity clock: a pet that is late means the
// event loop is stuck, which is what the watchdog is there to catch.
class Supervision::WatchdogTimer : public Kel::Clock::NotifieeConst {
 public:
  explicit WatchdogTimer(Kel::Seconds interval) : interval_(interval) {
    hasNotificationActiveIs(true);
    notifierIs(Kel::ActivityFacility::clock());
    timeMinIs(Kel::System::currentTime());
  }
  void onAttribute(Kel::AttributeId, const void*) override {
    sd_notify(0, "WATCHDOG=1");
    timeMinIs(Kel::System::currentTime() + interval_ / 2);
  }

 private:
  Kel::Seconds interval_;
};

Supervision::Supervision() {
  std::uint64_t usec = 0;
  if (sd_watchdog_enabled(0, &usec) > 0 && usec > 0) {
    watchdog_ = Kel::makePtr<WatchdogTimer>(static_cast<Kel::Seconds>(usec) / 1e6);
  }
}

Supervision::~Supervision() = default;

void Supervision::readyIs(const std::string& status) {
  if (ready_) return;
  ready_ = true;
  sd_notifyf(0, "READY=1\nSTATUS=%s", status.c_str());
}

void Supervision::statusIs(const std::string& status) {
  sd_notifyf(0, "STATUS=%s", status.c_str());
}

void Supervision::stoppingIs() {
  sd_notify(0, "STOPPING=1");
}

}  // namespace velaclockd
