#pragma once

#include <ostream>
#include <tuple>

#include "Kel/CollectionReactor.h"
#include "Kel/ReactorMap.h"
#include "Kel/ReactorSlot.h"
#include "Kel/TypeBuilder.h"
#include "VelaClock/AgentTrace.h"

namespace VelaClockAgent {

// The words that set one signal monitor's traces apart from another's.
struct MonitorTexts {
  const char* machine;          // the state machine's class, e.g. "StrobeSourceDirMonitorSm"
  const char* handleDir;        // its config handler, e.g. "handleStrobeSourceDir"
  const char* handleCliConfig;  // its cliConfig handler, e.g. "handleStrobeSourceCliConfig"
  const char* noun;             // what it watches, e.g. "strobe source"
  const char* role;             // "source" or "sink"
  const char* toConfigure;      // e.g. " Strobe source to configure is "
};

// The signature text of one of a monitor's operations, as its traces print it:
// "void VelaClockAgent::<machine>::<operation>(const Kel::String&)" or "...<operation>()".
struct Signature {
  const char* machine;
  const char* operation;
  bool takesName;
};

inline std::ostream& operator<<(std::ostream& out, const Signature& s) {
  return out << "void VelaClockAgent::" << s.machine << "::" << s.operation
             << (s.takesName ? "(const Kel::String&)" : "()");
}

// A line of the shared monitor mechanism below, as VELACLOCK_TRACE at level 0, except for its
// origin: log readers look for a monitor's lines under its family's file (VelaClock/Strobe.cpp,
// VelaClock/Freq.cpp), so the family's trace() gives its own file, at the fixed line of that hook,
// rather than this header's.
#define VELACLOCK_SIGNAL_TRACE(Family, operation)   \
  if (!::VelaClockAgent::agentTrace().enabled(0)) { \
  } else                                            \
    Family::trace(operation) << (operation) << "(): "

// The mechanism shared by the four signal monitors (strobe and frequency sources and sinks). Each
// keeps a status directory in step with a config directory, and applies the user's cliConfig
// entries to the status entries; a Family states what differs between them: its entity types,
// collections, the attributes of a cliConfig entry that matter, what a new status entry starts
// with, how a cliConfig entry is applied, and its trace texts. `Self` is the concrete machine.
//
// A Family provides (see SignalFamily.h): the types Config, Status, CliConfig, ConfigDir,
// StatusDir, CliConfigDir and Extra (further directories the machine keeps, after cliConfigDir);
// the collection ids configCollection and cliConfigCollection; the look-ups config, configKeys,
// status, statusIs, statusDel, cliConfig, cliConfigKeys and cliConfigDel; `Settings<Owner, walk>`,
// the per-entry reactor that hears the cliConfig attributes that matter; `texts`;
// trace(operation); statusCreated(config, status, extra), run on each config handling of a
// configured entry; and apply(cliConfig, status, extra), run by the settings walk for each entry
// that has both.
template <class Self, class Family>
class SignalDirMonitor : public Kel::StateMachine {
  using Config = typename Family::Config;
  using Status = typename Family::Status;
  using CliConfig = typename Family::CliConfig;
  using ConfigDir = typename Family::ConfigDir;
  using StatusDir = typename Family::StatusDir;
  using CliConfigDir = typename Family::CliConfigDir;
  using Extra = typename Family::Extra;

 public:
  // The config walk: every config entry, in key order, through handleDir(name).
  void handleDir() {
    VELACLOCK_SIGNAL_TRACE(Family, texts().handleDir) << signature(texts().handleDir, false);
    const auto dir = configDir();
    if (!dir) return;
    for (const Kel::String& name : Family::configKeys(*dir)) {
      if (Family::config(*dir, name)) handleDir(name);
    }
  }

  // Mirrors one config entry: a status entry while it is configured, none (nor a cliConfig entry)
  // once it is gone.
  void handleDir(const Kel::String& name) {
    const char* op = texts().handleDir;
    VELACLOCK_SIGNAL_TRACE(Family, op) << signature(op, true) << " name is " << name;
    const auto dir = configDir();
    if (const auto config = dir ? Family::config(*dir, name) : nullptr) {
      VELACLOCK_SIGNAL_TRACE(Family, op) << name << " " << texts().noun << " config found";
      if (statusDir_) Family::statusCreated(*config, *Family::statusIs(*statusDir_, name), extra_);
      // The text names a cliConfig entry that is not made here; it is the agent's own wording.
      VELACLOCK_SIGNAL_TRACE(Family, op)
          << name << " " << texts().noun << " status and cliConfig created";
      return;
    }
    VELACLOCK_SIGNAL_TRACE(Family, op) << name << " " << texts().noun << " config NOT found";
    if (statusDir_) Family::statusDel(*statusDir_, name);
    if (const auto cliDir = cliConfigDir()) Family::cliConfigDel(*cliDir, name);
    VELACLOCK_SIGNAL_TRACE(Family, op)
        << name << " " << texts().noun << " status and cliConfig deleted";
  }

  void handleInitialized() {
    VELACLOCK_SIGNAL_TRACE(Family, "handleInitialized") << signature("handleInitialized", false);
    handleDir();
  }

  // The settings walk: applies every cliConfig entry that has a status entry, whatever changed.
  void handleCliConfig() {
    const char* op = texts().handleCliConfig;
    const Signature sig = signature(op, false);
    VELACLOCK_SIGNAL_TRACE(Family, op) << sig << " handling " << texts().noun << " config";
    const auto cliDir = cliConfigDir();
    if (!cliDir) return;
    for (const Kel::String& name : Family::cliConfigKeys(*cliDir)) {
      VELACLOCK_SIGNAL_TRACE(Family, op) << sig << " checking " << texts().noun << " " << name;
      const auto wanted = Family::cliConfig(*cliDir, name);
      const auto status = statusDir_ ? Family::status(*statusDir_, name) : nullptr;
      if (!reportFound(op, sig, bool(wanted), bool(status))) continue;
      Family::apply(*wanted, *status, extra_);
    }
  }

  // Runs the settings walk once if a cliConfig entry wants what its status entry does not show:
  // settings filed before the machine was built (by the description a restart loads) are applied
  // as a change would apply them, once everything they need exists.
  void handleFiledSettings() {
    const auto cliDir = cliConfigDir();
    if (!cliDir || !statusDir_) return;
    for (const Kel::String& name : Family::cliConfigKeys(*cliDir)) {
      const auto wanted = Family::cliConfig(*cliDir, name);
      const auto status = Family::status(*statusDir_, name);
      if (wanted && status && !Family::inForce(*wanted, *status)) {
        handleCliConfig();
        return;
      }
    }
  }

  // Makes `source` the wanted source of the sink `name` (see SinkFamily::wantedSourceIs); false,
  // and nothing filed, when the sink has no status entry or the machine no cliConfig directory.
  bool wantedSourceIs(const Kel::String& name, const Kel::String& source) {
    const auto cliDir = cliConfigDir();
    const auto status = statusDir_ ? Family::status(*statusDir_, name) : nullptr;
    if (!cliDir || !status) return false;
    Family::wantedSourceIs(*cliDir, *status, source, extra_);
    return true;
  }

  // Reports one cliConfig change; changes nothing.
  void handleCliConfig(const Kel::String& name) {
    const char* op = texts().handleCliConfig;
    const Signature sig = signature(op, true);
    VELACLOCK_SIGNAL_TRACE(Family, op) << sig << texts().toConfigure << name;
    const auto cliDir = cliConfigDir();
    const bool wanted = cliDir && Family::cliConfig(*cliDir, name);
    reportFound(op, sig, wanted, statusDir_ && Family::status(*statusDir_, name));
  }

 private:
  // The settings walk, the one operation a per-entry reactor runs.
  static constexpr void (SignalDirMonitor::*settingsWalk)() = &SignalDirMonitor::handleCliConfig;
  void configChanged(const Kel::String& name) { handleDir(name); }
  void cliConfigChanged(const Kel::String& name) {
    handleCliConfig(name);
    const auto cliDir = cliConfigDir();
    const auto entry = cliDir ? Family::cliConfig(*cliDir, name) : nullptr;
    if (entry) {
      kel_CliConfigDir_CliConfigInIs(name, entry);
    } else {
      kel_CliConfigDir_CliConfigInDel(name);
    }
  }

 public:
  // Runs the config handler for each change of the config directory's collection.
  class KelConfigDir final
      : public Kel::CollectionReactor<SignalDirMonitor, const ConfigDir, Family::configCollection,
                                      &SignalDirMonitor::configChanged> {
   public:
    using KelConfigDir::CollectionReactor::CollectionReactor;
  };
  // Runs the cliConfig report for each change of the cliConfig collection, then keeps the
  // per-entry reactor of that key in step.
  class KelCliConfigDir final
      : public Kel::CollectionReactor<SignalDirMonitor, CliConfigDir, Family::cliConfigCollection,
                                      &SignalDirMonitor::cliConfigChanged> {
   public:
    using KelCliConfigDir::CollectionReactor::CollectionReactor;
  };
  // Runs the settings walk when an attribute that matters changes in one cliConfig entry.
  class KelKel_CliConfigDir_CliConfigIn final
      : public Family::template Settings<SignalDirMonitor, settingsWalk> {
   public:
    using KelKel_CliConfigDir_CliConfigIn::EntryReactor::EntryReactor;
  };
  using KelKelKel_CliConfigDir_CliConfigIn = Kel::ReactorMap<KelKel_CliConfigDir_CliConfigIn>;

  SignalDirMonitor(const Kel::Ptr<const ConfigDir>& configDir, const Kel::Ptr<StatusDir>& statusDir,
                   const Kel::Ptr<CliConfigDir>& cliConfigDir, Extra extra = {})
      : statusDir_(statusDir),
        extra_(std::move(extra)),
        configDir_(configDir ? Kel::makePtr<KelConfigDir>(this, configDir) : nullptr),
        cliConfigDir_(cliConfigDir ? Kel::makePtr<KelCliConfigDir>(this, cliConfigDir) : nullptr),
        cliConfigEntries_(this) {
    handleDir();
    handleInitialized();
    // The settings already filed reach the status entries at the next settings walk, not now.
    if (const auto dir = cliConfigDir_ ? cliConfigDir_->watched() : nullptr) {
      for (const Kel::String& name : Family::cliConfigKeys(*dir)) {
        kel_CliConfigDir_CliConfigInIs(name, Family::cliConfig(*dir, name));
      }
    }
  }

  // Per-entry reactor upkeep (see Kel::ReactorMap).
  void kel_CliConfigDir_CliConfigInIs(const Kel::String& name, const Kel::Ptr<const CliConfig>& e) {
    cliConfigEntries_.is(name, e);
  }
  Kel::Ptr<const CliConfig> kel_CliConfigDir_CliConfigInDel(const Kel::String& name) {
    return cliConfigEntries_.del(name);
  }
  void kel_CliConfigDir_CliConfigInDelAll() { cliConfigEntries_.delAll(); }
  const KelKelKel_CliConfigDir_CliConfigIn& cliConfigEntries() const { return cliConfigEntries_; }

  Kel::Ptr<const ConfigDir> configDir() const {
    return configDir_ ? configDir_->watched() : nullptr;
  }
  const Kel::Ptr<StatusDir>& statusDir() const { return statusDir_; }
  Kel::Ptr<CliConfigDir> cliConfigDir() const {
    return cliConfigDir_ ? cliConfigDir_->watched() : nullptr;
  }
  const Extra& extra() const { return extra_; }
  bool initialized() const { return initialized_; }
  void initializedIs(bool initialized) { initialized_ = initialized; }
  // The directories the machine was built with, in the order its creator takes them.
  auto directories() const {
    return std::tuple_cat(std::tuple(configDir(), statusDir_, cliConfigDir()), extra_.tuple());
  }

  static const Kel::TypeInfo& typeInfo() {
    static const Kel::TypeInfo info = Kel::describeType<Self>(typeName().c_str(), nullptr);
    return info;
  }
  const Kel::TypeInfo& fwkType() const override { return typeInfo(); }

  // Reflection: the directories (read-only), the two handlers that take a name, `initialized`
  // and handleInitialized.
  static void kelDescribe(Kel::TypeBuilder<Self>& b) {
    b.template readOnlyReference<ConfigDir>("configDir",
                                            [](const Self& m) { return m.configDir(); });
    b.template readOnlyReference<StatusDir>("statusDir",
                                            [](const Self& m) { return m.statusDir(); });
    b.template readOnlyReference<CliConfigDir>("cliConfigDir",
                                               [](const Self& m) { return m.cliConfigDir(); });
    Extra::describe(b);
    b.operation(texts().handleDir, true, [](Self& m, const Kel::String& n) { m.handleDir(n); });
    b.operation(texts().handleCliConfig, true,
                [](Self& m, const Kel::String& n) { m.handleCliConfig(n); });
    b.template attribute<bool>(
        "initialized", Kel::AttributeId{}, [](const Self& m) { return m.initialized(); },
        [](Self& m, bool value) { m.initializedIs(value); });
    b.operation("handleInitialized", false,
                [](Self& m, const Kel::String&) { m.handleInitialized(); });
  }

 private:
  static const MonitorTexts& texts() { return Family::texts; }
  static Signature signature(const char* operation, bool takesName) {
    return Signature{texts().machine, operation, takesName};
  }
  static std::string typeName() { return std::string("VelaClockAgent::") + texts().machine; }

  // Traces whether the cliConfig and status entries of one name were found; true when both were.
  bool reportFound(const char* op, const Signature& sig, bool wanted, bool status) const {
    const char* role = texts().role;
    if (!wanted) {
      VELACLOCK_SIGNAL_TRACE(Family, op)
          << sig << " cliConfig for the " << role << " was not found ";
      return false;
    }
    VELACLOCK_SIGNAL_TRACE(Family, op) << sig << " cliConfig for the " << role << " was found ";
    if (!status) {
      VELACLOCK_SIGNAL_TRACE(Family, op)
          << sig << " status for the " << role << " was NOT found - ignoring it";
      return false;
    }
    VELACLOCK_SIGNAL_TRACE(Family, op)
        << sig << " status for the " << role << " was found - processing it";
    return true;
  }

  Kel::Ptr<StatusDir> statusDir_;
  Extra extra_;
  bool initialized_ = false;
  // The reactors, last: they go first (see Kel::ReactorSlot).
  Kel::ReactorSlot<KelConfigDir> configDir_;
  Kel::ReactorSlot<KelCliConfigDir> cliConfigDir_;
  KelKelKel_CliConfigDir_CliConfigIn cliConfigEntries_;
};

}  // namespace VelaClockAgent
