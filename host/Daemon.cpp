#include "host/Daemon.h"

#include <signal.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "Kel/Activity.h"
#include "Kel/Trace.h"
#include "host/AgentLoader.h"
#include "host/ControlServer.h"
#include "host/ControlService.h"
#include "host/DefaultPlatform.h"
#include "host/DescriptionError.h"
#include "host/Instance.h"
#include "host/PlatformDescription.h"
#include "velaclock/ControlProtocol.h"

namespace velaclockd {

namespace {

const Kel::String agentName = "VelaClockAgent";

// Stops the loop when SIGINT or SIGTERM arrives, through a signalfd watched by the loop.
class StopOnSignals {
 public:
  explicit StopOnSignals(Kel::ActivityManager& loop) : loop_(loop) {
    sigemptyset(&signals_);
    sigaddset(&signals_, SIGINT);
    sigaddset(&signals_, SIGTERM);
    sigprocmask(SIG_BLOCK, &signals_, nullptr);
    fd_ = signalfd(-1, &signals_, SFD_NONBLOCK | SFD_CLOEXEC);
    loop_.fdIs(fd_, EPOLLIN, [this](std::uint32_t) {
      signalfd_siginfo info{};
      while (read(fd_, &info, sizeof info) == sizeof info) loop_.stop();
    });
  }
  ~StopOnSignals() {
    loop_.fdDel(fd_);
    close(fd_);
    sigprocmask(SIG_UNBLOCK, &signals_, nullptr);
  }

 private:
  Kel::ActivityManager& loop_;
  sigset_t signals_{};
  int fd_;
};

// Stops the loop once the activity clock reaches a given time.
class StopAt : public Kel::Clock::NotifieeConst {
 public:
  StopAt(Kel::ActivityManager& loop, Kel::Seconds time) : loop_(loop) {
    hasNotificationActiveIs(true);
    notifierIs(Kel::ActivityFacility::clock());
    timeMinIs(time);
  }
  void onAttribute(Kel::AttributeId, const void*) override { loop_.stop(); }

 private:
  Kel::ActivityManager& loop_;
};

PlatformDescription platformDescription(const Options& options) {
  if (options.platform) return readPlatformDescription(*options.platform);
  return parsePlatformDescription(defaultPlatformDescription, defaultPlatformName);
}

int failed(int status, const std::exception& error) {
  std::fprintf(stderr, "velaclockd: %s\n", error.what());
  return status;
}

std::filesystem::path socketOf(const Options& options) {
  return options.socket.value_or(velaclock::socketPath(options.instance));
}

// Checks the trace filter, the platform description and the places the instance will use;
// nothing is started yet. Throws DescriptionError or InstanceError.
PlatformDescription checkedUsage(const Options& options) {
  std::string error;
  if (options.trace && !Kel::traceFilterIs(*options.trace, &error)) {
    throw DescriptionError("--trace: " + error);
  }
  PlatformDescription description = platformDescription(options);
  securePrivateDirectory(velaclock::runtimeDirectory());
  securePrivateDirectory(velaclock::runtimeDirectory() / options.instance);
  if (options.socket) secureSocketDirectory(*options.socket);
  return description;
}

// Runs the agent on the loop until a signal or the end of --duration, then destroys it. The agent
// lives in `agent` meanwhile, where the control service finds it.
void runAgent(CAgentFactory factory, const Options& options,
              const Kel::Ptr<Corral::EntityManager>& database, Kel::Ptr<CAgent>& agent) {
  auto& loop = Kel::ActivityFacility::manager();
  StopOnSignals signals(loop);
  Kel::Ptr<StopAt> deadline;
  if (options.duration) {
    deadline = Kel::makePtr<StopAt>(loop, Kel::System::currentTime() + *options.duration);
  }
  agent = factory(agentName);
  agent->entityManagerIs(database);
  if (!options.sliceId.empty()) agent->sliceIdIs(options.sliceId);
  agent->doPreInit();
  agent->doInit();
  std::printf("velaclockd: instance %s ready, control socket %s\n", options.instance.c_str(),
              socketOf(options).c_str());
  std::fflush(stdout);
  loop.run();
  agent.reset();
}

}  // namespace

int runDaemon(const Options& options) {
  // A reader that went away must not kill the daemon: writes to it fail instead.
  signal(SIGPIPE, SIG_IGN);
  PlatformDescription description;
  try {
    description = checkedUsage(options);
  } catch (const std::runtime_error& error) {  // DescriptionError, InstanceError
    return failed(exitBadUsage, error);
  }

  auto database = Kel::makePtr<Corral::EntityManager>(options.instance, options.profiles);
  std::unique_ptr<InstanceLock> lock;
  std::unique_ptr<ControlServer> server;
  CAgentFactory factory = nullptr;
  // Where the control service finds the agent while it runs.
  const auto agent = std::make_shared<Kel::Ptr<CAgent>>();
  const AgentView agentView = [agent] { return Kel::Ptr<const Kel::PtrInterface>(*agent); };
  try {
    lock = std::make_unique<InstanceLock>(socketOf(options).string() + ".lock");
    factory = loadAgentFactory(options.agent);
    install(description, *database, velaclock::runtimeDirectory() / options.instance);
    server = std::make_unique<ControlServer>(
        socketOf(options),
        [service = ControlService(database, agentView)](const nlohmann::json& request) mutable {
          return service.handle(request);
        },
        Kel::ActivityFacility::manager());
  } catch (const std::exception& error) {
    return failed(exitCannotStart, error);
  }

  runAgent(factory, options, database, *agent);
  std::printf("velaclockd: instance %s stopped\n", options.instance.c_str());
  return exitOrderly;
}

}  // namespace velaclockd
