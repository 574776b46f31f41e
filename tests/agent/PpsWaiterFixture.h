#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "Fru/Hardware.h"
#include "Fru/SimRegisterBank.h"
#include "Kel/Activity.h"
#include "Kel/VirtualTime.h"
#include "Pps/Counter/LumenHal.h"
#include "Pps/Counter/SimPulse.h"
#include "VelaClock/PpsPoll.h"
#include "VelaClock/PpsWaiterSm.h"

// A PPS counter register whose count a test chooses (a value, or a function of time), and that
// records the activity-clock time of each read.
class ScriptedCounter : public Fru::RegisterDevice {
 public:
  std::uint16_t read16() override {
    reads.push_back(Kel::System::currentTime());
    counts.push_back(script ? script() : count);
    return counts.back();
  }
  std::uint16_t count = 0;
  std::function<std::uint16_t()> script;
  std::vector<Kel::Seconds> reads;  // activity-clock times
  std::vector<std::uint16_t> counts;
};

// Keeps every record published in a PPS edge table, in order.
class PublishedEdges : public Kel::PtrInterface::NotifieeConst {
 public:
  explicit PublishedEdges(const Kel::Ptr<VelaClockAgent::PpsWaiterTimestamps>& table) {
    notifierIs(table);
    isRegisteredNotifieeIs(true);
    hasNotificationActiveIs(true);
  }
  void onAttribute(Kel::AttributeId id, const void* value) override {
    if (id == VelaClockAgent::PpsWaiterTimestamps::ppsEdgeTimestampsId) {
      records.push_back(*static_cast<const VelaClockAgent::PpsEdgeTimestamps*>(value));
    }
  }
  std::vector<VelaClockAgent::PpsEdgeTimestamps> records;
};

// A PPS waiter on virtual time, over a Lumen counter (at counterBase 0x40 of the register window)
// whose count the test scripts, or over the simulated pulse (a mock counter).
class PpsWaiterFixture : public ::testing::Test {
 protected:
  static constexpr std::uint32_t counterBase = 0x40;

  PpsWaiterFixture() {
    // Each loop turn takes a tenth of a millisecond, so polls without pause still move time.
    time.turnCostIs(1e-4);
    Pps::Counter::simPulse().reset();
    window->deviceIs(counterBase, counter);
    Fru::hamImplIs(Pps::Counter::LumenHal::registerWindow, window);
  }
  ~PpsWaiterFixture() override {
    waiter.reset();
    Fru::hamImplsDelAll();
    Pps::Counter::simPulse().reset();
  }

  static Kel::Ptr<Hardware::Pps::LumenCounter> lumenCounter(std::uint32_t base = counterBase) {
    auto lumen = Kel::makePtr<Hardware::Pps::LumenCounter>("fpga1-pps-counter");
    lumen->counterBaseIs(base);
    return lumen;
  }
  static Kel::Ptr<Hardware::Pps::CounterCommon> mockCounter() {
    return Kel::makePtr<Hardware::Pps::CounterCommon>("mock");
  }

  // Configures `ppsCounter` and the period, then builds the waiter and hands it the table.
  void start(const Kel::Ptr<const Hardware::Pps::CounterCommon>& ppsCounter,
             Kel::Seconds period = 1.0) {
    waiter.reset();
    config->ppsPollPeriodIs(period);
    config->ppsCounterIs(ppsCounter);
    waiter = VelaClockAgent::PpsWaiterSm::PpsWaiterSmIs(config, status);
    waiter->ppsWaiterTimestampsIs(table);
    counter->reads.clear();  // the HAL read the counter once to know it answers
    counter->counts.clear();
  }
  // One poll that reads `count`, run at once.
  void pollWith(std::uint16_t count) {
    counter->count = count;
    waiter->handlePpsPollClock();
  }
  std::uint64_t utcNowNs() const {
    return VelaClockAgent::utcNanoseconds(Kel::System::currentTimeUtc());
  }

  Kel::VirtualTime time{1000.0, 1.8e9};
  Kel::Ptr<VelaClockAgent::PpsWaiterConfig> config =
      Kel::makePtr<VelaClockAgent::PpsWaiterConfig>("config");
  Kel::Ptr<VelaClockAgent::PpsWaiterStatus> status =
      Kel::makePtr<VelaClockAgent::PpsWaiterStatus>("status");
  Kel::Ptr<VelaClockAgent::PpsWaiterTimestamps> table =
      Kel::makePtr<VelaClockAgent::PpsWaiterTimestamps>("timestamps");
  Kel::Ptr<PublishedEdges> published = Kel::makePtr<PublishedEdges>(table);
  Kel::Ptr<Fru::SimRegisterBank> window =
      Kel::makePtr<Fru::SimRegisterBank>(Pps::Counter::LumenHal::registerWindow, 0x100);
  Kel::Ptr<ScriptedCounter> counter = Kel::makePtr<ScriptedCounter>();
  Kel::Ptr<VelaClockAgent::PpsWaiterSm> waiter;
};
