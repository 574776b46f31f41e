#include <gtest/gtest.h>

#include "Kel/Activity.h"
#include "agent/AgentFixture.h"
#include "host/AgentState.h"
#include "support/Golden.h"

using namespace VelaClockAgent;

namespace {
// The fourteen required directories, in the order the agent takes them.
std::vector<bool> requiredHeld(const Agent& a) {
  return {bool(a.strobeSourceConfigDir()),
          bool(a.strobeSinkConfigDir()),
          bool(a.freqSourceConfigDir()),
          bool(a.freqSinkConfigDir()),
          bool(a.strobeSourceStatusDir()),
          bool(a.strobeSinkStatusDir()),
          bool(a.freqSourceStatusDir()),
          bool(a.freqSinkStatusDir()),
          bool(a.strobeSourceCliConfigDir()),
          bool(a.strobeSinkCliConfigDir()),
          bool(a.freqSourceCliConfigDir()),
          bool(a.freqSinkCliConfigDir()),
          bool(a.muxConfigDir()),
          bool(a.muxStatusDir())};
}
}  // namespace

TEST_F(AgentFixture, StartsUpAndTakesEveryDirectory) {
  CapturedTrace trace("VelaClockAgent,PortPolicySm");
  agent->sliceIdIs("");
  start();
  EXPECT_EQ(agent->agentCorralName(), "VelaClockAgent");
  EXPECT_EQ(agent->sliceId(), "FixedSystem");
  EXPECT_TRUE(Kel::ActivityFacility::activityManagerConfig()->useEpoll());
  EXPECT_EQ(requiredHeld(*agent), std::vector<bool>(14, true));
  EXPECT_EQ(agent->muxStatusDir(), database->storedEntity("hardware/clockmux/status/FixedSystem"));
  EXPECT_NE(agent->portCliConfigDir(), nullptr);
  EXPECT_NE(agent->ppsConfig(), nullptr);
  ASSERT_NE(agent->ppsWaiterTimestamps(), nullptr);
  EXPECT_TRUE(agent->ppsWaiterTimestamps()->isAttached());
  EXPECT_TRUE(matchesGolden(trace.messages(), "agent/start.trace"));
  trace.lines.clear();
  agent.reset();  // the machines go in the order they were made
  EXPECT_TRUE(matchesGolden(trace.messages(), "agent/tear-down.trace"));
}

TEST_F(AgentFixture, AHostGivenSliceIdStays) {
  agent->sliceIdIs("Linecard3");
  start();
  EXPECT_EQ(agent->sliceId(), "Linecard3");
}

TEST_F(AgentFixture, AFailedMountStoresNothing) {
  CapturedTrace trace("VelaClockAgent/0");
  agent->doMountsComplete(Corral::mountProfileMalformed_, database);
  EXPECT_EQ(trace.count("invariant failed: mountStatus == Corral::mountSuccess_ "
                        "(VelaClock/VelaClockAgent.cpp:"),
            1u);
  EXPECT_EQ(requiredHeld(*agent), std::vector<bool>(14, false));
  EXPECT_EQ(agent->ppsWaiterTimestamps(), nullptr);
  EXPECT_EQ(relay().writes, 0u);

  // The same through the mounts: a profile that cannot be read fails the group.
  database = Kel::makePtr<Corral::EntityManager>("agenttest-none", "/nonexistent");
  agent->entityManagerIs(database);
  start();
  EXPECT_EQ(trace.count("invariant failed: mountStatus == Corral::mountSuccess_"), 2u);
  EXPECT_EQ(requiredHeld(*agent), std::vector<bool>(14, false));
}

TEST_F(AgentFixture, AMissingRequiredDirectoryStopsAfterTheOnesBefore) {
  database->entityDel("hardware/clockmux/status/FixedSystem");
  CapturedTrace trace("VelaClockAgent/0");
  start();
  EXPECT_EQ(trace.count("invariant failed: muxStatusDir ("), 1u);
  std::vector<bool> expected(14, true);
  expected.back() = false;
  EXPECT_EQ(requiredHeld(*agent), expected);
  EXPECT_EQ(agent->portCliConfigDir(), nullptr);  // nothing after the invariant
  EXPECT_EQ(agent->ppsWaiterTimestamps(), nullptr);
  EXPECT_EQ(relay().writes, 0u);
  EXPECT_EQ(trace.count("simulation is"), 0u);
}

TEST_F(AgentFixture, OptionalEntitiesMayBeAbsent) {
  for (const char* path :
       {"hardware/clocking/cliConfig/FixedSystem", "hardware/clocking/cliStatus/FixedSystem",
        "hardware/ppsWaiter/config", "hardware/ppsWaiter/status", "hardware/tundra/gpo"}) {
    database->entityDel(path);
  }
  CapturedTrace trace("VelaClockAgent");
  start();
  EXPECT_EQ(requiredHeld(*agent), std::vector<bool>(14, true));
  EXPECT_EQ(agent->portCliConfigDir(), nullptr);
  EXPECT_EQ(agent->portCliStatusDir(), nullptr);
  EXPECT_EQ(agent->ppsConfig(), nullptr);
  EXPECT_EQ(agent->ppsStatus(), nullptr);
  EXPECT_NE(agent->ppsWaiterTimestamps(), nullptr);
  EXPECT_EQ(trace.count("EntityManager>&) simulation is false"), 1u);
  EXPECT_EQ(trace.count("relay PCA9554-1-smaRelaySw absent"), 1u);
}

TEST_F(AgentFixture, TheRelayIsReleasedOnRealHardwareOnly) {
  Fru::gpoLine(relayName).asserted = true;
  setenv("SIMULATION_VMID", "", 1);  // set, even empty: a simulation
  CapturedTrace trace("VelaClockAgent");
  start();
  EXPECT_EQ(trace.count("EntityManager>&) simulation is true"), 1u);
  EXPECT_EQ(relay().writes, 0u);
  EXPECT_TRUE(relay().asserted);

  unsetenv("SIMULATION_VMID");
  const auto muxConfig = agent->muxConfigDir();
  agent->doMountsComplete(Corral::mountSuccess_, database);
  agent->doMountsComplete(Corral::mountSuccess_, database);
  EXPECT_EQ(relay().writes, 2u);  // once per completion
  EXPECT_FALSE(relay().asserted);
  EXPECT_EQ(agent->muxConfigDir(), muxConfig);  // looked up again: the very same directory
}

TEST(Agent, GenericCreationTakesANameOnly) {
  const auto made = Kel::newEntity("VelaClockAgent::Agent", {"VelaClockAgent"});
  const auto agent = Kel::dynamicPtrCast<Agent>(made);
  ASSERT_NE(agent, nullptr);
  EXPECT_EQ(agent->name(), "VelaClockAgent");
  EXPECT_TRUE(agent->hasNotificationActive());
  EXPECT_EQ(agent->fwkType().module(), "VelaClock/VelaClockAgent");
  EXPECT_THROW(Kel::newEntity("VelaClockAgent::Agent", {"VelaClockAgent", "FixedSystem"}),
               Kel::NewEntityArgumentsError);

  const Kel::Ptr<CAgent> fromSymbol = kelAgentFactory("viaSymbol");
  EXPECT_NE(Kel::dynamicPtrCast<Agent>(fromSymbol), nullptr);
}

// Kept and dropped as every machine is (below); built anew for other directories, releasing the
// old one, and switched off and let go when the agent is torn down.
TEST_F(AgentFixture, AMachineIsReplacedForOtherDirectoriesAndGoesWithTheAgent) {
  const auto muxes = Kel::dynamicPtrCast<Hardware::ClockMux::MuxConfigDir>(
      database->storedEntity("hardware/clockmux/config/FixedSystem"));
  muxes->muxConfigIs("m1")->controlRegisterIs(0x10);
  start();
  const Kel::Ptr<MuxDirMonitorSm> monitor = agent->muxDirMonitorSm();
  ASSERT_NE(monitor, nullptr);
  EXPECT_EQ(agent->muxStatusDir()->muxStatus("m1")->controlRegister(), 0x10u);

  const auto otherStatus = Kel::makePtr<Hardware::ClockMux::MuxStatusDir>("other");
  const auto replaced = agent->muxDirMonitorSmIs(agent->muxConfigDir(), otherStatus);
  EXPECT_NE(replaced, monitor);
  EXPECT_TRUE(replaced->hasNotificationActive());
  EXPECT_EQ(monitor->references(), 1u);  // only this test holds the old one now
  EXPECT_NE(otherStatus->muxStatus("m1"), nullptr);

  agent.reset();  // tear-down switches the monitor off and lets it go
  EXPECT_FALSE(replaced->hasNotificationActive());
  EXPECT_EQ(replaced->references(), 1u);
}

// Every machine is held in one attribute, shown read-only under its name, kept while its
// directories stay the same, and dropped one way: switched off, its attribute emptied.
TEST_F(AgentFixture, EveryMachineIsHeldShownKeptAndDroppedOneWay) {
  start();
  std::vector<Kel::Ptr<const Kel::PtrInterface>> made;
  for (const Agent::Machine& machine : Agent::machines()) {
    made.push_back(machine.held(*agent));
    ASSERT_NE(made.back(), nullptr) << machine.name;
    EXPECT_TRUE(made.back()->hasNotificationActive()) << machine.name;
    EXPECT_EQ(velaclockd::agentStateAt(agent, machine.name), made.back()) << machine.name;
  }
  EXPECT_EQ(made.size(), 7U);
  agent->doMountsComplete(Corral::mountSuccess_, database);  // the very same directories again
  for (std::size_t i = 0; i < made.size(); ++i) {
    const Agent::Machine& machine = Agent::machines()[i];
    EXPECT_EQ(machine.held(*agent), made[i]) << machine.name;
    const auto dropped = machine.del(*agent);
    EXPECT_EQ(dropped, made[i]) << machine.name;
    EXPECT_FALSE(dropped->hasNotificationActive()) << machine.name;
    EXPECT_EQ(machine.held(*agent), nullptr) << machine.name;
    EXPECT_EQ(machine.del(*agent), nullptr) << machine.name;
  }
}

TEST_F(AgentFixture, ThePpsWaiterIsKeptWhateverTheEntitiesAndGetsTheEdgeTable) {
  start();
  const Kel::Ptr<PpsWaiterSm> waiter = agent->ppsWaiterSm();
  ASSERT_NE(waiter, nullptr);
  EXPECT_EQ(waiter->config(), agent->ppsConfig());
  EXPECT_EQ(waiter->status(), agent->ppsStatus());
  EXPECT_EQ(waiter->ppsWaiterTimestamps(), agent->ppsWaiterTimestamps());

  database->entityDel("hardware/ppsWaiter/config");
  agent->doMountsComplete(Corral::mountSuccess_, database);
  EXPECT_EQ(agent->ppsConfig(), nullptr);
  EXPECT_EQ(agent->ppsWaiterSm(), waiter);  // other entities: the very same waiter
  EXPECT_EQ(agent->ppsWaiterSmIs(), waiter);
  const auto later = Kel::makePtr<PpsWaiterTimestamps>("later");
  agent->ppsWaiterTimestampsIs(later);  // a table set afterwards reaches the waiter
  EXPECT_EQ(waiter->ppsWaiterTimestamps(), later);

  EXPECT_EQ(agent->ppsWaiterSmDel(), waiter);
  const auto before = Kel::makePtr<PpsWaiterTimestamps>("before");
  agent->ppsWaiterTimestampsIs(before);  // set before a waiter exists: it gets it when built
  EXPECT_EQ(waiter->ppsWaiterTimestamps(), later);
  const auto rebuilt = agent->ppsWaiterSmIs();
  EXPECT_NE(rebuilt, waiter);
  EXPECT_EQ(rebuilt->ppsWaiterTimestamps(), before);
  EXPECT_EQ(rebuilt->config(), nullptr);
  EXPECT_EQ(waiter->references(), 1u);  // only this test holds the dropped one
}
