#include <gtest/gtest.h>

#include "Fru/SimRegisterBank.h"
#include "Kel/VirtualTime.h"
#include "VelaClock/ClockMux.h"
#include "VelaClock/VelaClockCommonFunctions.h"
#include "agent/AgentFixture.h"
#include "support/DefaultSystem.h"

// The shipped default system: the agent mirrors its muxes, and a two-level route through two
// muxes that share one control register is programmed farthest first, each keeping the other's
// bits.
TEST(DefaultSystem, RoutesThroughTwoMuxesSharingARegister) {
  Kel::VirtualTime time;
  unsetenv("SIMULATION_VMID");
  VelaClockAgent::clockMuxHamImpl.reset();
  VelaClockAgent::clockMuxHam.reset();
  DefaultSystem system("default");
  const auto& agent = system.agent;
  time.settle();

  const auto statusDir = agent->muxStatusDir();
  ASSERT_NE(statusDir, nullptr);
  EXPECT_EQ(statusDir->muxStatus().size(), agent->muxConfigDir()->muxConfig().size());
  const auto bank =
      Kel::dynamicPtrCast<Fru::SimRegisterBank>(Fru::describedHamImpl("IntelGpioHam"));
  ASSERT_NE(bank, nullptr);
  EXPECT_EQ(VelaClockAgent::clockMuxHamImpl, bank);
  ASSERT_EQ(bank->peek(0x20), 0x01);  // asicRefMux selects system/ocxo1, synceMux nothing yet

  CapturedTrace trace("VelaClockAgent/0");
  EXPECT_TRUE(VelaClockAgent::setupMuxesForSink("asic1/ref-clk", "port1/rx-clk",
                                                agent->muxConfigDir(), statusDir));
  EXPECT_EQ(bank->peek(0x20), 0x12);  // synceMux: port1/rx-clk (0x10); asicRefMux: synceMux (0x2)
  EXPECT_EQ(statusDir->muxStatus("synceMux")->sourceSelect(), "port1/rx-clk");
  EXPECT_EQ(statusDir->muxStatus("asicRefMux")->sourceSelect(), "synceMux");
  EXPECT_EQ(trace.count("new setting is found to be as expected"), 2u);

  system.agent.reset();
  VelaClockAgent::clockMuxHamImpl.reset();
  VelaClockAgent::clockMuxHam.reset();
}
