#pragma once

namespace velaclockctl {

// velaclockctl as a whole: parses the command line, runs the command, reports what went wrong on
// stderr, and returns the exit status (exitOk, exitRefused, exitUsage or exitNoDaemon, Client.h).
int runCommandLine(int argc, char** argv);

}  // namespace velaclockctl
