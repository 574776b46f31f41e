#pragma once

#include <string>

#include "Kel/Activity.h"

namespace velaclockd {

// Speaks to systemd when velaclockd runs as a Type=notify service: says when the daemon is ready
// and when it stops, and pets the service watchdog from the event loop, so a loop that hangs gets
// the daemon restarted. Without NOTIFY_SOCKET in the environment it does nothing.
class Supervision {
 public:
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
  class WatchdogTimer;
  Kel::Ptr<WatchdogTimer> watchdog_;
  bool ready_ = false;
};

}  // namespace velaclockd
