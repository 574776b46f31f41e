#include <cstdio>
#include <exception>

#include "host/Daemon.h"

int main(int argc, char** argv) {
  try {
    const auto parsed = velaclockd::parseOptions(argc, argv);
    if (const int* status = std::get_if<int>(&parsed)) return *status;
    const auto& options = std::get<velaclockd::Options>(parsed);
    if (options.check) return velaclockd::checkDescription(*options.check);
    return velaclockd::runDaemon(options);
  } catch (const std::exception& error) {
    // Whatever escaped the daemon's own handling is reported, not an abort.
    std::fprintf(stderr, "velaclockd: %s\n", error.what());
    return velaclockd::exitCannotStart;
  }
}
