#pragma once

#include <string>

#include "Kel/Activity.h"
#include "host/ServiceNotifier.h"

namespace velaclockd {

// Speaks to systemd when velaclockd runs as a Type=notify service: says when the daemon is ready
// and when it stops, and pets the service watchdog from the event loop, so a loop that hangs gets
// the daemon restarted. Nothing it sends ever waits for the service manager: a pet that cannot go
// at once is dropped, and a state message is sent again at the next tick. Without NOTIFY_SOCKET in
// the environment it does nothing.
class Supervision {
 public:
  // Pets come at half the watchdog's interval, and never more often than this, whatever
  // WATCHDOG_USEC asks: a tiny interval must not turn the loop into a pet sender.
  static constexpr Kel::Seconds shortestPetInterval = 0.1;  // s

  // Arms the watchdog when the service manager asked for one (WATCHDOG_USEC).
  Supervision();
  ~Supervision();
  Supervision(const Supervision&) = delete;
  Supervision& operator=(const Supervision&) = delete;

  // The agent's mounts are complete: ready, with a status line for `systemctl status`.
  void readyIs(const std::string& status);
  // Something the operator should see in `systemctl status`, without being ready.
  void statusIs(const std::string& status);
  void stoppingIs();

 private:
  class Ticker;
  void stateIs(std::string message);
  void tick();
  void armTicker();

  ServiceNotifier notifier_;
  Kel::Seconds petInterval_ = 0;  // s; 0 when no watchdog was asked for
  std::string unsent_;            // the latest state message the manager has not taken
  Kel::Ptr<Ticker> ticker_;
  bool ready_ = false;
};

}  // namespace velaclockd
