#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <variant>

#include "host/RealTime.h"

namespace velaclockd {

// velaclockd's command line.
struct Options {
  std::optional<std::filesystem::path> platform;  // none: the embedded default system
  std::filesystem::path agent;                    // the agent library
  std::filesystem::path profiles;                 // the mount profile directory
  std::optional<std::filesystem::path> socket;    // where to listen; none: the instance's socket
  std::string instance = "default";               // with the effective uid, the identity
  std::string sliceId;
  std::optional<std::string> trace;
  std::optional<double> duration;  // seconds until an orderly exit
  // Only check this platform description as a start would, and exit.
  std::optional<std::filesystem::path> check;
  RealTimeOptions realTime;
};

// Parses the command line. Returns the options, or the exit status when it should stop here
// (0 after --help, 2 after a usage error, which it has reported).
std::variant<Options, int> parseOptions(int argc, char** argv);

}  // namespace velaclockd
