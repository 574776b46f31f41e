#include "host/Options.h"

#include <unistd.h>

#include <CLI/CLI.hpp>

namespace velaclockd {

namespace {
// The directory of the running executable: the agent library and profiles are found beside it.
std::filesystem::path executableDirectory() {
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::current_path() : self.parent_path();
}
}  // namespace

std::variant<Options, int> parseOptions(int argc, char** argv) {
  Options options;
  const auto here = executableDirectory();
  options.agent = here / "libVelaClockAgent.so";
  options.profiles = here / ".." / "share" / "velaclock" / "profiles";

  CLI::App app{"velaclockd: hosts the clock-management agent on a state database"};
  std::string platform, socket, trace;
  double duration = 0;
  app.add_option("--platform", platform,
                 "platform description (YAML); default: the embedded fixed system");
  app.add_option("--agent", options.agent, "agent library")->capture_default_str();
  app.add_option("--profiles", options.profiles, "mount profile directory")->capture_default_str();
  auto* socketOption = app.add_option("--socket", socket, "control socket path");
  auto* instanceOption = app.add_option("--instance", options.instance,
                                        "instance name: keeps sockets, shared memory and register "
                                        "files of parallel runs apart")
                             ->capture_default_str();
  app.add_option("--slice-id", options.sliceId, "slice id given to the agent");
  app.add_option("--trace", trace, "trace filter, e.g. 'VelaClockAgent/0-9,*/0'");
  app.add_option("--duration", duration, "tear down and exit 0 after this many seconds")
      ->check(CLI::PositiveNumber);
  socketOption->excludes(instanceOption);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const int status = app.exit(error);
    return status == 0 ? 0 : 2;
  }
  if (options.instance.empty() || options.instance.find('/') != std::string::npos) {
    std::fprintf(stderr, "velaclockd: --instance must be a non-empty name without '/'\n");
    return 2;
  }
  if (!platform.empty()) options.platform = platform;
  if (!socket.empty()) options.socket = socket;
  if (app.count("--trace")) options.trace = trace;
  if (app.count("--duration")) options.duration = duration;
  return options;
}

}  // namespace velaclockd
