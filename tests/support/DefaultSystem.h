#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "Fru/Gpo.h"
#include "Fru/Hardware.h"
#include "KelSharedMem/EntityManager.h"
#include "VelaClock/VelaClockAgent.h"
#include "host/PlatformDescription.h"

// The embedded default system installed in a state database of its own, with the agent started
// on it (on whatever time the test runs); torn down whole with the object, register banks, GPO
// lines and the shared-memory edge table included.
class DefaultSystem {
 public:
  explicit DefaultSystem(const std::string& tag)
      : scratch_(std::filesystem::temp_directory_path() /
                 ("velaclock-" + tag + "-" + std::to_string(getpid()))) {
    std::filesystem::create_directories(scratch_);
    database = Kel::makePtr<Corral::EntityManager>(tag + "test-" + std::to_string(getpid()),
                                                   VELACLOCK_PROFILE_DIR);
    velaclockd::install(velaclockd::readPlatformDescription(VELACLOCK_DEFAULT_PLATFORM), *database,
                        scratch_);
    agent = VelaClockAgent::agentFactory("VelaClockAgent");
    agent->entityManagerIs(database);
    agent->doPreInit();
    agent->doInit();
  }
  ~DefaultSystem() {
    agent.reset();
    Fru::hamImplsDelAll();
    Fru::gpoLinesDelAll();
    shm_unlink(
        KelSharedMem::getEntityManager(database)->segmentName("ppsWaiter/timestamps").c_str());
    std::filesystem::remove_all(scratch_);
  }
  DefaultSystem(const DefaultSystem&) = delete;
  DefaultSystem& operator=(const DefaultSystem&) = delete;

  Kel::Ptr<Corral::EntityManager> database;
  Kel::Ptr<VelaClockAgent::Agent> agent;

 private:
  std::filesystem::path scratch_;
};
