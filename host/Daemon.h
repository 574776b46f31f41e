#pragma once

#include "host/Options.h"

namespace velaclockd {

// Exit statuses of velaclockd.
inline constexpr int exitOrderly = 0;      // torn down after a signal or --duration
inline constexpr int exitCannotStart = 1;  // the agent cannot be loaded, or the instance is taken
inline constexpr int exitBadUsage = 2;     // bad options or a bad platform description

// Builds the state database, loads the agent, serves the control socket and runs the event loop
// until SIGINT, SIGTERM or the end of --duration; then destroys the agent. Returns the exit
// status, having reported any failure on stderr.
int runDaemon(const Options& options);

// Loads the platform description `path` as a start would, reporting its warnings or what is wrong
// with it on stderr, and starts nothing. Returns exitOrderly when it loads, exitBadUsage if not.
int checkDescription(const std::filesystem::path& path);

}  // namespace velaclockd
