#include "host/Daemon.h"

int main(int argc, char** argv) {
  const auto parsed = velaclockd::parseOptions(argc, argv);
  if (const int* status = std::get_if<int>(&parsed)) return *status;
  const auto& options = std::get<velaclockd::Options>(parsed);
  if (options.check) return velaclockd::checkDescription(*options.check);
  return velaclockd::runDaemon(options);
}
