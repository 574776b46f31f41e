#include "host/Daemon.h"

#include <signal.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "Fru/DeviceError.h"
#include "Kel/Activity.h"
#include "Kel/Trace.h"
#include "host/AgentLoader.h"
#include "host/ControlServer.h"
#include "host/ControlService.h"
#include "host/DefaultPlatform.h"
#include "host/DescriptionError.h"
#include "host/Instance.h"
#include "host/PlatformDescription.h"
#include "host/RealTime.h"
#include "host/Supervision.h"
#include "velaclock/ControlProtocol.h"

namespace velaclockd {

namespace {

const Kel::String agentName = "VelaClockAgent";

// The signals a timing daemon is sent in ordinary use, taken through a signalfd that the loop
// watches: SIGINT and SIGTERM stop the loop for an orderly tear-down, SIGHUP (logrotate) reopens
// the trace file and changes nothing else, SIGUSR1 and SIGUSR2 are ignored. They are blocked from
// construction on, before anything could be lost to a signal's default action, and stay blocked
// after it: a late one then waits, unseen, for the exit that is coming.
class DaemonSignals {
 public:
  DaemonSignals() {
    sigemptyset(&signals_);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2})
      sigaddset(&signals_, signal);
    sigprocmask(SIG_BLOCK, &signals_, nullptr);
    fd_ = signalfd(-1, &signals_, SFD_NONBLOCK | SFD_CLOEXEC);
  }
  ~DaemonSignals() {
    if (loop_) loop_->fdDel(fd_);
    close(fd_);
  }
  DaemonSignals(const DaemonSignals&) = delete;
  DaemonSignals& operator=(const DaemonSignals&) = delete;

  // Hands the signals to `loop` until destruction; those that came before are taken then too.
  void loopIs(Kel::ActivityManager& loop) {
    loop_ = &loop;
    loop.fdIs(fd_, EPOLLIN, [this](std::uint32_t) { take(); });
  }

 private:
  void take() {
    signalfd_siginfo info{};
    while (read(fd_, &info, sizeof info) == sizeof info) {
      switch (info.ssi_signo) {
        case SIGINT:
        case SIGTERM:
          loop_->stop();
          break;
        case SIGHUP:
          Kel::traceFileReopen();
          break;
        default:
          break;
      }
    }
  }

  sigset_t signals_{};
  int fd_ = -1;
  Kel::ActivityManager* loop_ = nullptr;
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
              const Kel::Ptr<Corral::EntityManager>& database, Kel::Ptr<CAgent>& agent,
              DaemonSignals& signals) {
  auto& loop = Kel::ActivityFacility::manager();
  signals.loopIs(loop);
  Kel::Ptr<StopAt> deadline;
  if (options.duration) {
    deadline = Kel::makePtr<StopAt>(loop, Kel::System::currentTime() + *options.duration);
  }
  Supervision supervision;
  database->mountsCompleteObserverIs([&](Corral::MountStatus status, const std::string& error) {
    if (status == Corral::mountSuccess_) {
      supervision.readyIs("instance " + options.instance + ": agent running");
    } else {
      supervision.statusIs("instance " + options.instance + ": mounts failed: " + error);
    }
  });
  agent = factory(agentName);
  agent->entityManagerIs(database);
  if (!options.sliceId.empty()) agent->sliceIdIs(options.sliceId);
  agent->doPreInit();
  agent->doInit();
  std::printf("velaclockd: instance %s ready, control socket %s\n", options.instance.c_str(),
              socketOf(options).c_str());
  std::fflush(stdout);
  loop.run();
  supervision.stoppingIs();
  database->mountsCompleteObserverIs(nullptr);
  agent.reset();
}

// Applies routes through the running agent, when its library exports how.
RouteApplier routeApplier(const AgentLibrary& library,
                          const std::shared_ptr<Kel::Ptr<CAgent>>& agent) {
  if (!library.routeApplier) return nullptr;
  return [apply = library.routeApplier, agent](const Kel::String& sink, const Kel::String& source) {
    return *agent ? apply(**agent, sink, source) : std::string("the agent is not running");
  };
}

}  // namespace

int runDaemon(const Options& options) {
  // A reader that went away must not kill the daemon: writes to it fail instead.
  signal(SIGPIPE, SIG_IGN);
  DaemonSignals signals;
  PlatformDescription description;
  std::unique_ptr<InstanceLock> lock;
  try {
    description = checkedUsage(options);
    // Before anything runs on the event thread: the daemon never serves at a priority other than
    // the one asked for.
    realTimeIs(options.realTime);
    // Only the instance's holder may clear its socket's place.
    lock = std::make_unique<InstanceLock>(options.instance);
    clearSocketPlace(socketOf(options));
  } catch (const InstanceTaken& error) {
    return failed(exitCannotStart, error);
  } catch (const std::runtime_error& error) {  // DescriptionError, InstanceError, RealTimeError
    return failed(exitBadUsage, error);
  }

  auto database = Kel::makePtr<Corral::EntityManager>(options.instance, options.profiles);
  std::unique_ptr<ControlServer> server;
  AgentLibrary library;
  // Where the control service finds the agent while it runs.
  const auto agent = std::make_shared<Kel::Ptr<CAgent>>();
  const AgentView agentView = [agent] { return Kel::Ptr<const Kel::PtrInterface>(*agent); };
  try {
    library = loadAgentLibrary(options.agent);
    install(description, *database, velaclock::runtimeDirectory() / options.instance);
    server = std::make_unique<ControlServer>(
        socketOf(options),
        [service = ControlService(database, description, library.routePlanner, agentView,
                                  routeApplier(library, agent))](const nlohmann::json& request,
                                                                 Connection& connection) mutable {
          return service.handle(request, connection);
        },
        Kel::ActivityFacility::manager());
  } catch (const Fru::DeviceError& error) {  // the operator can mend the description or device
    return failed(exitBadUsage, error);
  } catch (const std::exception& error) {
    return failed(exitCannotStart, error);
  }

  runAgent(library.factory, options, database, *agent, signals);
  std::printf("velaclockd: instance %s stopped\n", options.instance.c_str());
  return exitOrderly;
}

int checkDescription(const std::filesystem::path& path) {
  const auto counted = [](std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
  };
  try {
    const PlatformDescription description = readPlatformDescription(path);
    // As a start would find them, changing nothing on them.
    openDevices(description.deviceHams, description.deviceLines, Fru::OpenMode::probe);
    std::printf("%s: a platform description of %s, %s and %s%s\n", path.c_str(),
                counted(description.entities.size(), "entity", "entities").c_str(),
                counted(description.hams.size() + description.deviceHams.size(), "register bank",
                        "register banks")
                    .c_str(),
                counted(description.gpos.size() + description.deviceLines.size(), "output line",
                        "output lines")
                    .c_str(),
                description.warnings.empty() ? "" : ", with the warnings above");
    return exitOrderly;
  } catch (const DescriptionError& error) {
    return failed(exitBadUsage, error);
  } catch (const Fru::DeviceError& error) {
    return failed(exitBadUsage, error);
  }
}

}  // namespace velaclockd
