#pragma once

#include <tuple>

#include "Fru/Ham.h"
#include "Hardware/ClockMux.h"
#include "Kel/CollectionReactor.h"
#include "Kel/ReactorSlot.h"
#include "Kel/TypeBuilder.h"

namespace VelaClockAgent {

// The shared access method of every mux whose register is reached through the Ham
// "IntelGpioHam": made once, by the first mux directory monitor on real hardware, and kept until
// the program ends.
extern Kel::Ptr<Fru::Ham> clockMuxHam;
extern Kel::Ptr<Fru::HamImpl> clockMuxHamImpl;
// The name of that Ham.
extern const Kel::String clockMuxHamName;

// Switches the mux `mux` to its source `sourceSelect`: rewrites the source-select bits of its
// control register (read, modify, write), records the source in its status entry, and reads the
// register back to check. A failed register access or check leaves the status entry's source as
// it was, and is traced at level 0.
void setupMuxToSelectSource(Kel::String mux, Kel::String sourceSelect,
                            Kel::Ptr<Hardware::ClockMux::MuxConfigDir const> muxConfigDir,
                            Kel::Ptr<Hardware::ClockMux::MuxStatusDir> muxStatusDir);

// What became of one mux's switch.
enum class MuxSwitch : std::uint8_t {
  confirmed,         // written, and the read-back shows the new selection
  readBackMismatch,  // written, but the register does not hold the new selection
  accessFailed,      // a register access failed
  notSwitched,       // nothing written: no access method to use, or the mux cannot be found
};

// setupMuxToSelectSource, telling what became of the switch.
MuxSwitch switchMux(const Kel::String& mux, const Kel::String& sourceSelect,
                    const Kel::Ptr<Hardware::ClockMux::MuxConfigDir const>& muxConfigDir,
                    const Kel::Ptr<Hardware::ClockMux::MuxStatusDir>& muxStatusDir);

// Keeps the mux status directory in step with the mux configuration: every configured mux has a
// status entry with its control register, bit mask and access method. On real hardware the first
// monitor also makes the shared mux access method.
class MuxDirMonitorSm : public Kel::StateMachine {
 public:
  class KelConfigDir;

  static Kel::Ptr<MuxDirMonitorSm> MuxDirMonitorSmIs(
      const Kel::Ptr<const Hardware::ClockMux::MuxConfigDir>& configDir,
      const Kel::Ptr<Hardware::ClockMux::MuxStatusDir>& statusDir);
  MuxDirMonitorSm(const Kel::Ptr<const Hardware::ClockMux::MuxConfigDir>& configDir,
                  const Kel::Ptr<Hardware::ClockMux::MuxStatusDir>& statusDir);
  const Kel::TypeInfo& fwkType() const override;

  // The whole-directory pass, run once at construction.
  void handleMuxConfigDir();
  // Brings the status entry of one mux in line with its configuration.
  void handleMuxConfigDir(const Kel::String& name);
  void handleInitialized();

  Kel::Ptr<const Hardware::ClockMux::MuxConfigDir> configDir() const;
  const Kel::Ptr<Hardware::ClockMux::MuxStatusDir>& statusDir() const { return statusDir_; }
  bool initialized() const { return initialized_; }
  void initializedIs(bool initialized) { initialized_ = initialized; }
  // The directories the monitor was built with.
  auto directories() const { return std::tuple(configDir(), statusDir_); }

  static const Kel::TypeInfo& typeInfo();
  static void kelDescribe(Kel::TypeBuilder<MuxDirMonitorSm>& builder);

 private:
  Kel::Ptr<Hardware::ClockMux::MuxStatusDir> statusDir_;
  bool initialized_ = false;
  Kel::ReactorSlot<KelConfigDir> configDir_;  // last: it goes first (see Kel::ReactorSlot)
};

// Runs handleMuxConfigDir(key) for each change of the configuration's `muxConfig` collection.
class MuxDirMonitorSm::KelConfigDir final
    : public Kel::CollectionReactor<MuxDirMonitorSm, const Hardware::ClockMux::MuxConfigDir,
                                    Hardware::ClockMux::MuxConfigDir::muxConfigId,
                                    &MuxDirMonitorSm::handleMuxConfigDir> {
 public:
  using CollectionReactor::CollectionReactor;
};

}  // namespace VelaClockAgent
