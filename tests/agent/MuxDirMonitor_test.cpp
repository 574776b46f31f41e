#include <gtest/gtest.h>

#include "agent/MuxFixture.h"

using VelaClockAgent::MuxDirMonitorSm;

TEST_F(MuxFixture, TheMonitorMirrorsConfiguredMuxesIntoStatus) {
  addMux("before", 0x10, 0x03, {{"a", 1}});
  status->muxStatusIs("stale");  // no configuration: left until a notification names it
  CapturedTrace trace("VelaClockAgent/0");
  startMonitor();
  ASSERT_NE(status->muxStatus("before"), nullptr);
  EXPECT_EQ(status->muxStatus("before")->controlRegister(), 0x10u);
  EXPECT_NE(status->muxStatus("stale"), nullptr);
  EXPECT_TRUE(monitor->initialized());
  EXPECT_EQ(trace.messages().front(),
            "handleMuxConfigDir(): void VelaClockAgent::MuxDirMonitorSm::handleMuxConfigDir() "
            "simulation is false");
  EXPECT_EQ(trace.messages().back(),
            "handleInitialized(): void VelaClockAgent::MuxDirMonitorSm::handleInitialized()");

  addMux("added", 0x20, 0xF0, {{"b", 0x10}}, {}, Clock::Mux::AccessMethod::fpgaRegister);
  const auto added = status->muxStatus("added");
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->controlRegister(), 0x20u);
  EXPECT_EQ(added->bitMask(), 0xF0u);
  EXPECT_EQ(added->muxAccessMethod(), Clock::Mux::AccessMethod::fpgaRegister);
  EXPECT_EQ(added->sourceSelect(), "");
  EXPECT_EQ(trace.messages().back(), "handleMuxConfigDir(): added mux status created");

  added->sourceSelectIs("b");
  addMux("added", 0x21, 0x0F, {{"b", 0x1}});  // replaced by another entry of the same name
  EXPECT_EQ(status->muxStatus("added"), added);
  EXPECT_EQ(added->controlRegister(), 0x21u);
  EXPECT_EQ(added->bitMask(), 0x0Fu);
  EXPECT_EQ(added->sourceSelect(), "b");

  config->muxConfig("added")->controlRegisterIs(0x99);  // inside the entry: not watched
  EXPECT_EQ(added->controlRegister(), 0x21u);

  config->muxConfigDel("added");
  EXPECT_EQ(status->muxStatus("added"), nullptr);
  EXPECT_EQ(trace.messages().back(), "handleMuxConfigDir(): added mux status deleted");
  EXPECT_EQ(trace.count("handleMuxConfigDir(): added mux config NOT found"), 1u);
}

TEST_F(MuxFixture, TheSharedHamIsMadeOnceAndOnlyOnRealHardware) {
  addMux("m", 0x10, 0x03, {{"a", 1}});
  setenv("SIMULATION_VMID", "", 1);
  startMonitor();
  EXPECT_NE(status->muxStatus("m"), nullptr);  // status fills all the same
  EXPECT_EQ(VelaClockAgent::clockMuxHam, nullptr);
  EXPECT_EQ(VelaClockAgent::clockMuxHamImpl, nullptr);

  unsetenv("SIMULATION_VMID");
  monitor.reset();
  startMonitor();
  ASSERT_NE(VelaClockAgent::clockMuxHam, nullptr);
  EXPECT_EQ(VelaClockAgent::clockMuxHam->name(), "IntelGpioHam");
  EXPECT_EQ(VelaClockAgent::clockMuxHam->hamType(), static_cast<Fru::HamType>(5));
  EXPECT_TRUE(VelaClockAgent::clockMuxHam->hasNotificationActive());
  EXPECT_EQ(VelaClockAgent::clockMuxHamImpl, bank);  // the described backend
  EXPECT_EQ(bank->ham(), VelaClockAgent::clockMuxHam);

  const auto first = VelaClockAgent::clockMuxHam;
  monitor.reset();
  startMonitor();  // a later monitor finds it made
  EXPECT_EQ(VelaClockAgent::clockMuxHam, first);
}

TEST_F(MuxFixture, TheMonitorReflectsItsStateAndHandlers) {
  startMonitor();
  const Kel::TypeInfo& type = monitor->fwkType();
  EXPECT_EQ(type.name(), "VelaClockAgent::MuxDirMonitorSm");
  EXPECT_EQ(type.module(), "VelaClock/ClockMux");
  EXPECT_EQ(type.attribute("configDir")->reference(*monitor), config);
  ASSERT_TRUE(type.attribute("initialized")->textIs(*monitor, "false"));

  // Reflection can run a handler by name, as a notification would.
  config->muxConfigIs(Kel::makePtr<Hardware::ClockMux::MuxConfig>("silent"));
  status->muxStatusDel("silent");
  type.operation("handleMuxConfigDir")->invoke(*monitor, "silent");
  EXPECT_NE(status->muxStatus("silent"), nullptr);
  type.operation("handleInitialized")->invoke(*monitor, "");
  EXPECT_TRUE(monitor->initialized());
}
