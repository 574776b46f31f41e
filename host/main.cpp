#include "host/Daemon.h"

int main(int argc, char** argv) {
  const auto parsed = velaclockd::parseOptions(argc, argv);
  if (const int* status = std::get_if<int>(&parsed)) return *status;
  return velaclockd::runDaemon(std::get<velaclockd::Options>(parsed));
}
