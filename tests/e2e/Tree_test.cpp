#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/Process.h"
#include "support/Golden.h"

// `show tree` over the default system as it starts, and over one whose routes broke: a register
// bit that does not take what is written, and a sink whose muxes another route took over.
namespace {

struct TreeCase {
  std::string what;
  std::string stuckBits;  // added to the mux bank of the default description
  std::vector<std::string> setFirst;
  std::string golden;  // the tree in tests/golden: as text (.txt), for Graphviz (.dot), as JSON
};

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> all;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) all.push_back(line);
  return all;
}

}  // namespace

TEST(Tree, ShowTreeDrawsEachSinksMuxesTheirSelectionsAndMarksBrokenRoutes) {
  const std::vector<TreeCase> cases{
      {"the default system", "", {}, "tree/default"},
      {"broken routes",
       "      stuckBits: {0x21: {mask: 0x03, value: 0x00}}\n",
       {"set", "hardware/strobe/sink/cliConfig/FixedSystem", "cliConfig", "asic1/pps-in",
        "sourceName=system/ocxo1-pps"},
       "tree/broken"},
  };
  for (const TreeCase& c : cases) {
    SCOPED_TRACE(c.what);
    const Instance instance;
    std::string description = readFile(VELACLOCK_DEFAULT_PLATFORM);
    const std::string bank = "      persistent: true\n";
    description.insert(description.find(bank) + bank.size(), c.stuckBits);
    const auto file = instance.runtime() / "platform.yaml";
    std::ofstream(file) << description;
    Daemon daemon = instance.daemon({"--platform", file.string()});
    ASSERT_TRUE(daemon.ready()) << daemon.errors();
    if (!c.setFirst.empty()) {
      ASSERT_EQ(instance.ctl(c.setFirst).status, 0);
    }

    const CommandResult tree = instance.ctl({"show", "tree"});
    EXPECT_EQ(tree.status, 0) << tree.err;
    EXPECT_TRUE(matchesGolden(lines(tree.out), c.golden + ".txt"));
    const CommandResult dot = instance.ctl({"show", "tree", "--dot"});
    EXPECT_TRUE(matchesGolden(lines(dot.out), c.golden + ".dot"));
    const CommandResult json = instance.ctl({"show", "tree", "--json"});
    EXPECT_TRUE(matchesGolden(lines(json.out), c.golden + ".json"));
  }
}
