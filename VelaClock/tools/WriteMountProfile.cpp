// Writes the agent's mount profile, as the host reads it, to the file named by its argument: the
// build makes the shipped profile from the agent's own directory table, so the paths the agent
// takes and the paths the host mounts for it cannot drift apart.
#include <cstdio>
#include <fstream>

#include "VelaClock/VelaClockAgent.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s PROFILE.yaml\n", argv[0]);
    return 2;
  }
  const std::string header =
      "Mount profile of the clock-management agent's state-database client: every path it looks\n"
      "up when its mounts complete, with the type it expects there and how it uses it.\n"
      "Written by the build from the agent's directory table; edit that table, not this file.";
  std::ofstream out(argv[1]);
  out << Corral::mountProfileText(VelaClockAgent::Agent::mountProfile(), header);
  out.close();
  if (!out) {
    std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
    return 1;
  }
  return 0;
}
