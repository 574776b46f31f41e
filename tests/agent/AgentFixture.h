#pragma once

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>

#include "Corral/MountProfile.h"
#include "Fru/Gpo.h"
#include "Fru/Hardware.h"
#include "Kel/Dir.h"
#include "Kel/VirtualTime.h"
#include "KelSharedMem/EntityManager.h"
#include "VelaClock/VelaClockAgent.h"
#include "support/CapturedTrace.h"

// The agent on virtual time over a state database that holds an empty entity of the mounted type
// at every path of the agent's mount profile, and the relay output in the gpo directory.
class AgentFixture : public ::testing::Test {
 protected:
  static constexpr const char* relayName = "PCA9554-1-smaRelaySw";

  AgentFixture()
      : database(Kel::makePtr<Corral::EntityManager>("agenttest-" + std::to_string(getpid()),
                                                     VELACLOCK_PROFILE_DIR)) {
    unsetenv("SIMULATION_VMID");
    const auto profile = Corral::readMountProfile(VELACLOCK_PROFILE_DIR, "VelaClockAgent");
    EXPECT_EQ(profile.status, Corral::mountSuccess_) << profile.error;
    for (const Corral::Mount& mount : profile.profile.mounts) {
      const Kel::String name = mount.path.substr(mount.path.rfind('/') + 1);
      database->entityIs(mount.path,
                         Kel::dynamicPtrCast<Kel::Entity>(Kel::newEntity(mount.type, {name})));
    }
    gpoDir()->entityIs(Kel::makePtr<Fru::Gpo>(relayName));
    agent = VelaClockAgent::agentFactory("VelaClockAgent");
    agent->entityManagerIs(database);
  }

  ~AgentFixture() override {
    agent.reset();
    const auto tables = KelSharedMem::getEntityManager(database);
    shm_unlink(tables->segmentName("ppsWaiter/timestamps").c_str());
    Fru::gpoLinesDelAll();
    Fru::hamImplsDelAll();
    unsetenv("SIMULATION_VMID");
  }

  // Runs the host's start-up calls and lets the mounts complete.
  void start() {
    agent->doPreInit();
    agent->doInit();
    time.settle();
  }

  Kel::Ptr<Kel::Dir> gpoDir() {
    return Kel::dynamicPtrCast<Kel::Dir>(database->storedEntity("hardware/tundra/gpo"));
  }
  const Fru::GpoLine& relay() { return Fru::gpoLine(relayName); }

  Kel::VirtualTime time;
  Kel::Ptr<Corral::EntityManager> database;
  Kel::Ptr<VelaClockAgent::Agent> agent;
};
