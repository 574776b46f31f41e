// Supervision on virtual time against a stand-in for systemd's notification socket.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "Kel/VirtualTime.h"
#include "host/Supervision.h"
#include "support/NotifySocket.h"

namespace {

// The service manager's end, named in NOTIFY_SOCKET: it reads only when the test says so.
class Manager : public NotifySocket {
 public:
  Manager()
      : NotifySocket(std::filesystem::temp_directory_path() /
                     ("velaclock-notify-" + std::to_string(getpid()))) {
    EXPECT_TRUE(bound());
    setenv("NOTIFY_SOCKET", path().c_str(), 1);
  }
  ~Manager() { unsetenv("NOTIFY_SOCKET"); }
  // The messages waiting, oldest first.
  std::vector<std::string> read() {
    std::vector<std::string> messages;
    for (std::string message; !(message = next(0)).empty();) messages.push_back(message);
    return messages;
  }
};

}  // namespace

// A manager that stops reading never holds up the loop: pets that find its queue full are dropped,
// the ready message is sent again until it goes. However short the watchdog asked for (2 ms),
// pets come ten times a second at the most.
TEST(Supervision, NothingWaitsForTheManagerAndPetsComeTenTimesASecondAtMost) {
  Kel::VirtualTime time;
  Manager manager;
  setenv("WATCHDOG_USEC", "2000", 1);
  unsetenv("WATCHDOG_PID");
  {
    velaclockd::Supervision supervision;
    time.runFor(5.0);  // the manager's queue fills up: each further pet would have to wait
    supervision.readyIs("up");
    time.runFor(1.0);
    manager.read();
    time.runFor(0.15);
    const auto late = manager.read();
    ASSERT_FALSE(late.empty());
    EXPECT_EQ(late.front(), "READY=1\nSTATUS=up");

    int pets = 0;
    for (int step = 0; step < 10; ++step) {
      time.runFor(0.1);
      for (const std::string& message : manager.read()) pets += message == "WATCHDOG=1";
    }
    EXPECT_GE(pets, 9);
    EXPECT_LE(pets, 11);
  }
  unsetenv("WATCHDOG_USEC");
}

// Without a watchdog no pet wakes the loop, so a state message the manager did not take has a
// wake-up of its own.
TEST(Supervision, AStateMessageTheManagerDidNotTakeIsSentAgainWithoutAWatchdog) {
  Kel::VirtualTime time;
  Manager manager;
  unsetenv("WATCHDOG_USEC");
  velaclockd::Supervision supervision;
  for (int message = 0; message < 1000; ++message) supervision.statusIs("starting");
  supervision.readyIs("up");  // finds the manager's queue full
  manager.read();
  time.runFor(0.15);
  EXPECT_EQ(manager.read(), std::vector<std::string>{"READY=1\nSTATUS=up"});
}
