#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>

#include "e2e/Process.h"
#include "support/NotifySocket.h"

TEST(Supervision, ReadyOnceTheMountsAreCompleteThenWatchdogAndStopping) {
  Instance instance;
  NotifySocket notify(instance.runtime() / "notify");
  ASSERT_TRUE(notify.bound());
  Daemon daemon =
      instance.daemon({}, {{"NOTIFY_SOCKET", notify.path().string()}, {"WATCHDOG_USEC", "200000"}});
  ASSERT_TRUE(daemon.ready()) << daemon.errors();

  const std::string ready = notify.nextNotPet();
  EXPECT_EQ(ready.rfind("READY=1\n", 0), 0u) << ready;
  EXPECT_NE(ready.find("STATUS=instance " + instance.name() + ": agent running"),
            std::string::npos);
  // Ready means the agent's machines are at work: the mux monitor has mirrored every mux.
  const CommandResult muxes = instance.ctl({"get", "hardware/clockmux/status/FixedSystem"});
  EXPECT_NE(muxes.out.find("\"fpgaPpsMux\""), std::string::npos) << muxes.out;
  EXPECT_EQ(notify.next(), "WATCHDOG=1");  // petted from the event loop

  EXPECT_EQ(daemon.stop(), 0);
  EXPECT_EQ(notify.nextNotPet(), "STOPPING=1");
}

TEST(Supervision, FailedMountsAreReportedAndNeverReady) {
  Instance instance;
  NotifySocket notify(instance.runtime() / "notify");
  ASSERT_TRUE(notify.bound());
  Daemon daemon = instance.daemon({"--profiles", instance.runtime().string()},
                                  {{"NOTIFY_SOCKET", notify.path().string()}});
  ASSERT_TRUE(daemon.ready()) << daemon.errors();
  const std::string status = notify.next();
  EXPECT_EQ(status.rfind("STATUS=instance " + instance.name() + ": mounts failed: ", 0), 0u)
      << status;
  EXPECT_EQ(instance.ctl({"paths"}).status, 0);  // the daemon goes on
  EXPECT_EQ(daemon.stop(), 0);
  EXPECT_EQ(notify.next(), "STOPPING=1");
  EXPECT_NE(daemon.errors().find("invariant failed: mountStatus == Corral::mountSuccess_"),
            std::string::npos)
      << daemon.errors();
}

// logrotate's SIGHUP reopens the trace file and changes nothing else; SIGUSR1 and SIGUSR2 are
// ignored; SIGTERM still ends the daemon in order. (The agent gets the slice id given.)
TEST(Supervision, RotationAndUserSignalsLeaveTheServiceRunning) {
  Instance instance;
  const auto traces = instance.runtime() / "velaclockd.trace";
  Daemon daemon = instance.daemon({"--trace", "VelaClockAgent/0-5", "--slice-id", "Linecard2"},
                                  {{"TRACEFILE", traces.string()}});
  ASSERT_TRUE(daemon.ready()) << daemon.errors();
  EXPECT_EQ(instance.ctl({"paths"}).status, 0);  // the mounts are complete
  std::filesystem::rename(traces, traces.string() + ".1");
  EXPECT_NE(readFile(traces.string() + ".1").find("sliceId:Linecard2"), std::string::npos);
  for (const int signal : {SIGHUP, SIGUSR1, SIGUSR2}) daemon.signal(signal);
  EXPECT_EQ(instance.ctl({"paths"}).status, 0);  // served after the signals were taken
  EXPECT_EQ(instance
                .ctl({"set", "hardware/freq/sink/cliConfig/FixedSystem", "cliConfig",
                      "fpga1/ref-clk", "sourceName=system/gps1-10m"})
                .status,
            0);
  EXPECT_NE(readFile(traces).find("setupMuxesForSink"), std::string::npos);
  EXPECT_EQ(daemon.stop(), 0);
  EXPECT_FALSE(std::filesystem::exists(instance.socket()));
}

// A service manager that stops reading, with a watchdog of 2 ms, never stops the daemon: it keeps
// answering and stops on SIGTERM.
TEST(Supervision, AManagerThatStopsReadingNeverHoldsTheDaemon) {
  Instance instance;
  NotifySocket notify(instance.runtime() / "notify");
  ASSERT_TRUE(notify.bound());
  notify.fill();
  Daemon daemon =
      instance.daemon({}, {{"NOTIFY_SOCKET", notify.path().string()}, {"WATCHDOG_USEC", "2000"}});
  ASSERT_TRUE(daemon.ready()) << daemon.errors();
  EXPECT_EQ(instance.ctl({"paths"}).status, 0);
  EXPECT_EQ(daemon.stop(), 0);
}
