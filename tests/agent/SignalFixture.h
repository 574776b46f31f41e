#pragma once

#include <string>
#include <utility>
#include <vector>

#include "VelaClock/Freq.h"
#include "VelaClock/Strobe.h"
#include "agent/MuxFixture.h"

// The directories of strobe and frequency sources and sinks beside the mux directories and the
// simulated register bank of MuxFixture, and a log of the collection changes they announce.
class SignalFixture : public MuxFixture {
 protected:
  // Logs each collection change of one directory as "<tag> <key>".
  class ChangeLog : public Kel::PtrInterface::NotifieeConst {
   public:
    ChangeLog(const Kel::Ptr<const Kel::PtrInterface>& directory, std::string tag,
              std::vector<std::string>& log)
        : tag_(std::move(tag)), log_(log) {
      notifierIs(directory);
      isRegisteredNotifieeIs(true);
      hasNotificationActiveIs(true);
    }
    void onAttribute(Kel::AttributeId, const void* key) override {
      log_.push_back(tag_ + " " + *static_cast<const Kel::String*>(key));
    }

   private:
    std::string tag_;
    std::vector<std::string>& log_;
  };

  template <class T>
  static Kel::Ptr<T> dir() {
    return Kel::makePtr<T>("FixedSystem");
  }
  void logChanges(const Kel::Ptr<const Kel::PtrInterface>& directory, const std::string& tag) {
    logs_.push_back(Kel::makePtr<ChangeLog>(directory, tag, changes));
  }

  Kel::Ptr<Hardware::Strobe::SourceConfigDir> strobeSourceConfig =
      dir<Hardware::Strobe::SourceConfigDir>();
  Kel::Ptr<Hardware::Strobe::SourceStatusDir> strobeSourceStatus =
      dir<Hardware::Strobe::SourceStatusDir>();
  Kel::Ptr<Hardware::Strobe::SourceCliConfigDir> strobeSourceCli =
      dir<Hardware::Strobe::SourceCliConfigDir>();
  Kel::Ptr<Hardware::Strobe::SinkConfigDir> strobeSinkConfig =
      dir<Hardware::Strobe::SinkConfigDir>();
  Kel::Ptr<Hardware::Strobe::SinkStatusDir> strobeSinkStatus =
      dir<Hardware::Strobe::SinkStatusDir>();
  Kel::Ptr<Hardware::Strobe::SinkCliConfigDir> strobeSinkCli =
      dir<Hardware::Strobe::SinkCliConfigDir>();
  Kel::Ptr<Hardware::Freq::SourceConfigDir> freqSourceConfig =
      dir<Hardware::Freq::SourceConfigDir>();
  Kel::Ptr<Hardware::Freq::SourceStatusDir> freqSourceStatus =
      dir<Hardware::Freq::SourceStatusDir>();
  Kel::Ptr<Hardware::Freq::SourceCliConfigDir> freqSourceCli =
      dir<Hardware::Freq::SourceCliConfigDir>();
  Kel::Ptr<Hardware::Freq::SinkConfigDir> freqSinkConfig = dir<Hardware::Freq::SinkConfigDir>();
  Kel::Ptr<Hardware::Freq::SinkStatusDir> freqSinkStatus = dir<Hardware::Freq::SinkStatusDir>();
  Kel::Ptr<Hardware::Freq::SinkCliConfigDir> freqSinkCli = dir<Hardware::Freq::SinkCliConfigDir>();
  std::vector<std::string> changes;

 private:
  std::vector<Kel::Ptr<ChangeLog>> logs_;
};
