#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <initializer_list>
#include <utility>

#include "Fru/Hardware.h"
#include "Fru/SimRegisterBank.h"
#include "VelaClock/ClockMux.h"
#include "VelaClock/VelaClockCommonFunctions.h"
#include "support/CapturedTrace.h"

// Mux configuration and status directories over a simulated, recording register bank that the
// hardware description names "IntelGpioHam", on real hardware (no SIMULATION_VMID).
class MuxFixture : public ::testing::Test {
 protected:
  using Access = Fru::SimRegisterBank::Access;
  using Op = Fru::SimRegisterBank::Operation;

  MuxFixture() {
    unsetenv("SIMULATION_VMID");
    resetSharedHam();
    bank->recordingIs(true);
    Fru::hamImplIs("IntelGpioHam", bank);
  }
  ~MuxFixture() override {
    resetSharedHam();
    Fru::hamImplsDelAll();
    unsetenv("SIMULATION_VMID");
  }

  static void resetSharedHam() {
    VelaClockAgent::clockMuxHamImpl.reset();
    VelaClockAgent::clockMuxHam.reset();
  }

  // Adds a mux to the configuration.
  Kel::Ptr<Hardware::ClockMux::MuxConfig> addMux(
      const std::string& name, std::uint32_t reg, std::uint32_t mask,
      std::initializer_list<std::pair<const char*, std::uint32_t>> sources,
      std::initializer_list<const char*> sinks = {},
      Clock::Mux::AccessMethod method = Clock::Mux::AccessMethod::clockMuxHam) {
    auto mux = Kel::makePtr<Hardware::ClockMux::MuxConfig>(name);
    mux->controlRegisterIs(reg);
    mux->bitMaskIs(mask);
    mux->muxAccessMethodIs(method);
    for (const auto& [source, bits] : sources) mux->sourceIs(source)->bitValueIs(bits);
    for (const char* sink : sinks) mux->sinkIs(sink);
    config->muxConfigIs(mux);
    return mux;
  }

  // Starts the mux directory monitor: status entries, and the shared Ham on real hardware.
  void startMonitor() {
    monitor = VelaClockAgent::MuxDirMonitorSm::MuxDirMonitorSmIs(config, status);
    bank->accessesDelAll();
  }

  // The register writes of a run, as (register, value).
  using Writes = std::vector<std::pair<std::uint32_t, std::uint16_t>>;
  static Writes writes(const Fru::SimRegisterBank& bank) {
    Writes all;
    for (const auto& access : bank.accesses()) {
      if (access.operation == Op::write8) all.emplace_back(access.address, access.value);
    }
    return all;
  }

  std::string selected(const std::string& mux) {
    const auto entry = status->muxStatus(mux);
    return entry ? entry->sourceSelect() : "(no status)";
  }

  Kel::Ptr<Fru::SimRegisterBank> bank = Kel::makePtr<Fru::SimRegisterBank>("IntelGpioHam", 256);
  Kel::Ptr<Hardware::ClockMux::MuxConfigDir> config =
      Kel::makePtr<Hardware::ClockMux::MuxConfigDir>("FixedSystem");
  Kel::Ptr<Hardware::ClockMux::MuxStatusDir> status =
      Kel::makePtr<Hardware::ClockMux::MuxStatusDir>("FixedSystem");
  Kel::Ptr<VelaClockAgent::MuxDirMonitorSm> monitor;
};
