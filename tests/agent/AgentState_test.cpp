#include <gtest/gtest.h>

#include "Pps/Counter/LumenHal.h"
#include "Pps/Counter/SimPulse.h"
#include "agent/AgentFixture.h"
#include "host/ControlService.h"

using Json = nlohmann::ordered_json;

namespace {
// A counter register of real hardware, as far as anyone can tell: not the simulated pulse.
class HardwareCounter : public Fru::RegisterDevice {
 public:
  std::uint16_t read16() override { return 500; }
};
}  // namespace

// The control service over the running agent, as velaclockd serves it.
class AgentState : public AgentFixture {
 protected:
  AgentState() {
    window->deviceIs(0x40, Kel::makePtr<Pps::Counter::SimCounterDevice>());
    window->deviceIs(0x50, Kel::makePtr<HardwareCounter>());
    Fru::hamImplIs(Pps::Counter::LumenHal::registerWindow, window);
    Pps::Counter::simPulse().reset();
  }
  ~AgentState() override { Pps::Counter::simPulse().reset(); }

  // The waiter's counter at `base` of the register window.
  void counterAt(std::uint32_t base) {
    auto lumen = Kel::makePtr<Hardware::Pps::LumenCounter>("lumen");
    lumen->counterBaseIs(base);
    agent->ppsConfig()->ppsCounterIs(lumen);
  }
  Json request(const Json& request) { return service.handle(request); }
  Json sim(const char* action) {
    return request({{"op", "sim"}, {"signal", "pps"}, {"action", action}});
  }

  Kel::Ptr<Fru::SimRegisterBank> window =
      Kel::makePtr<Fru::SimRegisterBank>(Pps::Counter::LumenHal::registerWindow, 0x100);
  velaclockd::ControlService service{
      database, {}, nullptr, [this] { return Kel::Ptr<const Kel::PtrInterface>(agent); }};
};

TEST_F(AgentState, TheAgentsMachinesAreReadThroughReflectionAndNeverChanged) {
  EXPECT_EQ(request({{"op", "get"}, {"path", "agent/ppsWaiterSm"}})["error"],
            "agent/ppsWaiterSm holds nothing now");
  start();
  counterAt(0x40);
  const Json waiter = request({{"op", "get"}, {"path", "agent/ppsWaiterSm"}});
  ASSERT_EQ(waiter["ok"], true) << waiter.dump();
  EXPECT_EQ(waiter["entity"]["type"], "VelaClockAgent::PpsWaiterSm");
  EXPECT_EQ(waiter["entity"]["initialized"], true);
  const Json mux = request({{"op", "get"}, {"path", "agent/muxDirMonitorSm/statusDir"}});
  EXPECT_EQ(mux["entity"]["type"], "Hardware::ClockMux::MuxStatusDir");
  const Json flag = request({{"op", "get"}, {"path", "agent/ppsWaiterSm/initialized"}});
  EXPECT_EQ(flag["error"],
            "agent/ppsWaiterSm (VelaClockAgent::PpsWaiterSm) has no reference `initialized` (it "
            "has: config, status, hal, ppsPollClock, ppsWaiterTimestamps)");
  for (const Json& change :
       {Json{{"op", "set"},
             {"path", "agent/ppsWaiterSm"},
             {"attributes", {{"initialized", "false"}}}},
        Json{{"op", "del"}, {"path", "agent/ppsWaiterSm"}, {"collection", "x"}, {"key", "y"}}}) {
    EXPECT_EQ(request(change)["error"],
              "`agent/ppsWaiterSm` is the agent's own state, which can be read (get), not changed");
  }
  EXPECT_TRUE(agent->ppsWaiterSm()->initialized());
  agent.reset();
  EXPECT_EQ(request({{"op", "get"}, {"path", "agent/ppsWaiterSm"}})["error"],
            "the agent is not running");
}

TEST_F(AgentState, TheSimulatedPulseBreaksOnDemandAndRealHardwareIsRefused) {
  start();
  counterAt(0x40);
  const auto& pulse = Pps::Counter::simPulse();
  EXPECT_EQ(sim("stop"), (Json{{"ok", true}, {"stopped", true}}));
  EXPECT_TRUE(pulse.pulseStopped());
  EXPECT_EQ(sim("saturate")["heldCount"], 1500);
  EXPECT_EQ(sim("start"), (Json{{"ok", true}, {"stopped", false}}));
  EXPECT_FALSE(pulse.countOverride().has_value());
  time.runFor(0.5);
  sim("glitch");
  EXPECT_EQ(pulse.count(), 0);  // counts from the spurious edge
  EXPECT_EQ(sim("explode")["error"],
            "unknown simulated PPS fault `explode`: expected stop, start, glitch or saturate");
  EXPECT_EQ(request({{"op", "sim"}, {"signal", "freq"}, {"action", "stop"}})["error"],
            "no simulated signal `freq`: expected pps");

  counterAt(0x50);  // a counter the simulated pulse does not drive: real hardware
  EXPECT_EQ(sim("stop")["error"],
            "the PPS waiter's counter (Pps::Counter::LumenHal) is not driven by the simulated "
            "pulse: real hardware cannot be broken from here");
  EXPECT_FALSE(pulse.pulseStopped());
  agent->ppsWaiterSmDel();
  EXPECT_EQ(sim("stop")["error"], "agent/ppsWaiterSm holds nothing now");
}
