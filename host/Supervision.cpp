#include "host/Supervision.h"

#include <systemd/sd-daemon.h>

#include <algorithm>
#include <cstdint>

namespace velaclockd {

namespace {
// How soon a state message the manager did not take is sent again, without a watchdog.
constexpr Kel::Seconds stateRetryInterval = 0.1;  // s
}  // namespace

// Runs the supervision's tick on the activity clock: a pet that is late means the event loop is
// stuck, which is what the watchdog is there to catch.
class Supervision::Ticker : public Kel::Clock::NotifieeConst {
 public:
  explicit Ticker(Supervision& supervision) : supervision_(supervision) {
    hasNotificationActiveIs(true);
    notifierIs(Kel::ActivityFacility::clock());
  }
  void onAttribute(Kel::AttributeId, const void*) override { supervision_.tick(); }

 private:
  Supervision& supervision_;
};

Supervision::Supervision() : ticker_(Kel::makePtr<Ticker>(*this)) {
  std::uint64_t usec = 0;
  if (notifier_.enabled() && sd_watchdog_enabled(0, &usec) > 0 && usec > 0) {
    petInterval_ = std::max(static_cast<Kel::Seconds>(usec) / 2e6, shortestPetInterval);
    ticker_->timeMinIs(Kel::System::currentTime());
  }
}

Supervision::~Supervision() = default;

void Supervision::readyIs(const std::string& status) {
  if (ready_) return;
  ready_ = true;
  stateIs("READY=1\nSTATUS=" + status);
}

void Supervision::statusIs(const std::string& status) {
  stateIs("STATUS=" + status);
}

void Supervision::stoppingIs() {
  notifier_.send("STOPPING=1");
}

// A state message replaces one not yet taken: the manager only needs the latest, and READY=1 is
// never lost, as nothing follows it but STOPPING=1.
void Supervision::stateIs(std::string message) {
  if (!notifier_.enabled()) return;
  if (!unsent_.empty() && unsent_.starts_with("READY=1\n")) message = "READY=1\n" + message;
  unsent_ = notifier_.send(message) ? "" : std::move(message);
  armTicker();
}

void Supervision::tick() {
  if (!unsent_.empty() && notifier_.send(unsent_)) unsent_.clear();
  if (petInterval_ > 0) notifier_.send("WATCHDOG=1");
  armTicker();
}

void Supervision::armTicker() {
  const Kel::Seconds now = Kel::System::currentTime();
  if (petInterval_ > 0) {
    // The next pet keeps its schedule; a state message waits for it.
    if (ticker_->pendingWakeUp() == Kel::infiniteTime) ticker_->timeMinIs(now + petInterval_);
  } else {
    ticker_->timeMinIs(unsent_.empty() ? Kel::infiniteTime : now + stateRetryInterval);
  }
}

}  // namespace velaclockd
