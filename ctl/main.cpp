// velaclockctl: the operator's command line for velaclockd.
#include "ctl/CommandLine.h"

int main(int argc, char** argv) {
  return velaclockctl::runCommandLine(argc, argv);
}
