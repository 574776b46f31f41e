#include "host/Options.h"

#include <sched.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include "velaclock/CommandLine.h"

namespace velaclockd {

namespace {
// The directory of the running executable: the agent library and profiles are found beside it.
std::filesystem::path executableDirectory() {
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::current_path() : self.parent_path();
}

// The agent library beside the executable (a build tree), else where the install puts it.
std::filesystem::path defaultAgent(const std::filesystem::path& here) {
  const auto beside = here / "libVelaClockAgent.so";
  return std::filesystem::exists(beside) ? beside
                                         : (here / VELACLOCK_AGENT_FROM_PROGRAM).lexically_normal();
}
}  // namespace

std::variant<Options, int> parseOptions(int argc, char** argv) {
  Options options;
  const auto here = executableDirectory();
  options.agent = defaultAgent(here);
  options.profiles = (here / VELACLOCK_PROFILES_FROM_PROGRAM).lexically_normal();

  CLI::App app{"velaclockd: hosts the clock-management agent on a state database"};
  std::string platform, socket, trace;
  double duration = 0;
  app.add_option("--platform", platform,
                 "platform description (YAML); default: the embedded fixed system")
      ->check(velaclock::nonEmpty);
  app.add_option("--agent", options.agent, "agent library")->capture_default_str();
  app.add_option("--profiles", options.profiles, "mount profile directory")->capture_default_str();
  app.add_option("--socket", socket,
                 "control socket path; default: the instance's socket in the runtime directory")
      ->check(velaclock::nonEmpty);
  app.add_option("--instance", options.instance,
                 "instance name: with the user, the identity that keeps locks, shared memory and "
                 "register files of parallel runs apart")
      ->check(velaclock::instanceName)
      ->capture_default_str();
  app.add_option("--slice-id", options.sliceId, "slice id given to the agent");
  app.add_option("--trace", trace, "trace filter, e.g. 'VelaClockAgent/0-9,*/0'");
  app.add_option("--duration", duration, "tear down and exit 0 after this many seconds")
      ->check(velaclock::finitePositiveSeconds);
  app.add_option("--rt-priority", options.realTime.priority,
                 "run the event thread at this SCHED_FIFO priority, so that a busy machine does "
                 "not preempt the PPS waiter near an edge; 0 keeps the normal policy")
      ->check(CLI::Range(0, sched_get_priority_max(SCHED_FIFO)))
      ->capture_default_str();
  app.add_flag("--lock-memory", options.realTime.lockMemory,
               "lock the daemon's current and future pages in memory (mlockall)");
  std::string check;
  app.add_option("--check", check,
                 "check a platform description as a start would (exit 0: it loads, 2: it does "
                 "not) and start nothing")
      ->check(velaclock::nonEmpty);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const int status = app.exit(error);
    return status == 0 ? 0 : 2;
  }
  if (app.count("--platform")) options.platform = platform;
  if (app.count("--socket")) options.socket = socket;
  if (app.count("--trace")) options.trace = trace;
  if (app.count("--duration")) options.duration = duration;
  if (app.count("--check")) options.check = check;
  return options;
}

}  // namespace velaclockd
