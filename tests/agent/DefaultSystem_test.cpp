#include <gtest/gtest.h>

#include "Fru/SimRegisterBank.h"
#include "Kel/VirtualTime.h"
#include "VelaClock/ClockMux.h"
#include "agent/AgentFixture.h"
#include "support/DefaultSystem.h"

namespace {
Kel::Ptr<Fru::SimRegisterBank> muxRegisters() {
  return Kel::dynamicPtrCast<Fru::SimRegisterBank>(Fru::describedHamImpl("IntelGpioHam"));
}
}  // namespace

// Over the shipped default system: a fresh start programs only the PPS input port's route; a
// sink's wanted source filed before the agent started (as a restart loads it) is routed once the
// mounts are complete; route --apply programs a route again that the registers lost, and refuses
// a mux named as a source.
TEST(DefaultSystem, FiledSourcesAreRoutedAtStartAndApplyRepairsALostRoute) {
  Kel::VirtualTime time;
  unsetenv("SIMULATION_VMID");
  VelaClockAgent::clockMuxHamImpl.reset();
  VelaClockAgent::clockMuxHam.reset();
  {
    DefaultSystem fresh("fresh");
    muxRegisters()->recordingIs(true);
    time.settle();
    std::vector<std::uint32_t> written;
    for (const auto& access : muxRegisters()->accesses()) {
      if (access.operation == Fru::SimRegisterBank::Operation::write8) {
        written.push_back(access.address);
      }
    }
    EXPECT_EQ(written, std::vector<std::uint32_t>{0x10});  // fpga1/pps-in1 <- pps-in1
  }
  VelaClockAgent::clockMuxHamImpl.reset();
  VelaClockAgent::clockMuxHam.reset();

  DefaultSystem system("restarted");
  const auto wanted = Kel::dynamicPtrCast<Hardware::Freq::SinkCliConfigDir>(
      system.database->storedEntity("hardware/freq/sink/cliConfig/FixedSystem"));
  wanted->cliConfigIs("fpga1/ref-clk")->sourceNameIs("system/gps1-10m");
  time.settle();
  const auto& agent = *system.agent;
  EXPECT_EQ(muxRegisters()->peek(0x21), 0x02);  // fpgaRefMux: system/gps1-10m
  EXPECT_EQ(agent.freqSinkStatusDir()->sinkStatus("fpga1/ref-clk")->sourceName(),
            "system/gps1-10m");

  muxRegisters()->poke(0x21, 0x01);  // behind the agent's back
  EXPECT_EQ(VelaClockAgent::Agent::applyRoute(*system.agent, "fpga1/ref-clk", "system/gps1-10m"),
            "");
  EXPECT_EQ(muxRegisters()->peek(0x21), 0x02);
  EXPECT_EQ(agent.freqSinkDirMonitorSm()->extra().counters.routesDone, 2U);

  EXPECT_NE(VelaClockAgent::Agent::planRoute(*system.database, "asic1/pps-in", "fpgaPpsMux")
                .failure.find("is a mux"),
            std::string::npos);
  // Applying a plan writes the cliConfig entry of the sink's own family.
  const auto cliConfigOf = [&](const char* sink) {
    return VelaClockAgent::Agent::planRoute(*system.database, sink, "system/ocxo1")
        .sinkCliConfigPath;
  };
  EXPECT_EQ(cliConfigOf("fpga1/ref-clk"), "hardware/freq/sink/cliConfig/FixedSystem");
  EXPECT_EQ(cliConfigOf("asic1/pps-in"), "hardware/strobe/sink/cliConfig/FixedSystem");
  EXPECT_EQ(cliConfigOf("no/sink"), "");
  EXPECT_EQ(VelaClockAgent::Agent::applyRoute(*system.agent, "no/sink", "system/ocxo1"),
            "no sink `no/sink` is configured");  // a sink of neither family
  system.agent.reset();
  VelaClockAgent::clockMuxHamImpl.reset();
  VelaClockAgent::clockMuxHam.reset();
}
