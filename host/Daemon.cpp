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

}  // namespace

int runDaemon(const Options& options) {
  // A reader that went away must not kill the daemon: writes to it fail instead.
  signal(SIGPIPE, SIG_IGN);
  if (options.trace) {
    std::string error;
    if (!Kel::traceFilterIs(*options.trace, &error)) {
      std::fprintf(stderr, "velaclockd: --trace: %s\n", error.c_str());
      return exitBadUsage;
    }
  }
  PlatformDescription description;
  try {
    description = platformDescription(options);
  } catch (const DescriptionError& error) {
    std::fprintf(stderr, "velaclockd: %s\n", error.what());
    return exitBadUsage;
  }

  const std::filesystem::path privateDirectory = velaclock::runtimeDirectory();
  const std::filesystem::path socket =
      options.socket.value_or(velaclock::socketPath(options.instance));
  std::unique_ptr<InstanceLock> lock;
  try {
    securePrivateDirectory(privateDirectory);
    securePrivateDirectory(privateDirectory / options.instance);
    if (options.socket) secureSocketDirectory(socket);
  } catch (const InstanceError& error) {
    std::fprintf(stderr, "velaclockd: %s\n", error.what());
    return exitBadUsage;
  }

  CAgentFactory factory = nullptr;
  try {
    lock = std::make_unique<InstanceLock>(socket.string() + ".lock");
    factory = loadAgentFactory(options.agent);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "velaclockd: %s\n", error.what());
    return exitCannotStart;
  }

  auto& loop = Kel::ActivityFacility::manager();
  auto database = Kel::makePtr<Corral::EntityManager>(options.instance, options.profiles);
  std::unique_ptr<ControlServer> server;
  try {
    install(description, *database, privateDirectory / options.instance);
    ControlService service(database);
    server = std::make_unique<ControlServer>(
        socket,
        [service](const nlohmann::json& request) mutable { return service.handle(request); }, loop);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "velaclockd: %s\n", error.what());
    return exitCannotStart;
  }

  StopOnSignals signals(loop);
  Kel::Ptr<StopAt> deadline;
  if (options.duration) {
    deadline = Kel::makePtr<StopAt>(loop, Kel::System::currentTime() + *options.duration);
  }

  Kel::Ptr<CAgent> agent = factory(agentName);
  agent->entityManagerIs(database);
  if (!options.sliceId.empty()) agent->sliceIdIs(options.sliceId);
  agent->doPreInit();
  agent->doInit();
  std::printf("velaclockd: instance %s ready, control socket %s\n", options.instance.c_str(),
              socket.c_str());
  std::fflush(stdout);

  loop.run();

  agent.reset();
  std::printf("velaclockd: instance %s stopped\n", options.instance.c_str());
  return exitOrderly;
}

}  // namespace velaclockd
