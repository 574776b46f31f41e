#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "e2e/Process.h"

// `show tree` over the default system as it starts, and over one whose routes broke: a register
// bit that does not take what is written, and a sink whose muxes another route took over.
namespace {

struct TreeCase {
  std::string what;
  std::string stuckBits;  // added to the mux bank of the default description
  std::vector<std::string> setFirst;
  std::string tree;
};

const std::string defaultTree =
    R"(NAME                      TYPE         REGISTER        SELECTS        STATE
asic1/pps-in              strobe sink  -               fpga1/ptp-pps  in force
└─asicPpsMux              mux          0x11&0x03=0x01  fpga1/ptp-pps  -
  ├─fpga1/ptp-pps         source       -               -              selected
  └─fpgaPpsMux            mux          0x10&0x07=0x01  pps-in1        -
    ├─holdoverPpsMux      mux          0x10&0x30=0x01  -              -
    │ ├─fpga1/ptp-pps     source       -               -              -
    │ └─system/ocxo1-pps  source       -               -              -
    ├─pps-in1             source       -               -              selected
    └─system/gps1         source       -               -              -
fpga1/pps-in1             strobe sink  -               pps-in1        in force
└─fpgaPpsMux              mux          0x10&0x07=0x01  pps-in1        -
  ├─holdoverPpsMux        mux          0x10&0x30=0x01  -              -
  │ ├─fpga1/ptp-pps       source       -               -              -
  │ └─system/ocxo1-pps    source       -               -              -
  ├─pps-in1               source       -               -              selected
  └─system/gps1           source       -               -              -
asic1/ref-clk             freq sink    -               system/ocxo1   in force
└─asicRefMux              mux          0x20&0x0f=0x01  system/ocxo1   -
  ├─synceMux              mux          0x20&0xf0=0x01  -              -
  │ ├─port1/rx-clk        source       -               -              -
  │ ├─port2/rx-clk        source       -               -              -
  │ └─system/gps1-10m     source       -               -              -
  └─system/ocxo1          source       -               -              selected
fpga1/ref-clk             freq sink    -               system/ocxo1   in force
└─fpgaRefMux              mux          0x21&0x03=0x01  system/ocxo1   -
  ├─system/gps1-10m       source       -               -              -
  └─system/ocxo1          source       -               -              selected
)";

const std::string brokenTree =
    R"(NAME                      TYPE         REGISTER        SELECTS           STATE
asic1/pps-in              strobe sink  -               system/ocxo1-pps  in force
└─asicPpsMux              mux          0x11&0x03=0x02  fpgaPpsMux        -
  ├─fpga1/ptp-pps         source       -               -                 -
  └─fpgaPpsMux            mux          0x10&0x07=0x13  holdoverPpsMux    selected
    ├─holdoverPpsMux      mux          0x10&0x30=0x13  system/ocxo1-pps  selected
    │ ├─fpga1/ptp-pps     source       -               -                 -
    │ └─system/ocxo1-pps  source       -               -                 selected
    ├─pps-in1             source       -               -                 -
    └─system/gps1         source       -               -                 -
fpga1/pps-in1             strobe sink  -               system/ocxo1-pps  BROKEN: in force pps-in1, the muxes carry system/ocxo1-pps
└─fpgaPpsMux              mux          0x10&0x07=0x13  holdoverPpsMux    -
  ├─holdoverPpsMux        mux          0x10&0x30=0x13  system/ocxo1-pps  selected
  │ ├─fpga1/ptp-pps       source       -               -                 -
  │ └─system/ocxo1-pps    source       -               -                 selected
  ├─pps-in1               source       -               -                 -
  └─system/gps1           source       -               -                 -
asic1/ref-clk             freq sink    -               system/ocxo1      in force
└─asicRefMux              mux          0x20&0x0f=0x01  system/ocxo1      -
  ├─synceMux              mux          0x20&0xf0=0x01  -                 -
  │ ├─port1/rx-clk        source       -               -                 -
  │ ├─port2/rx-clk        source       -               -                 -
  │ └─system/gps1-10m     source       -               -                 -
  └─system/ocxo1          source       -               -                 selected
fpga1/ref-clk             freq sink    -               -                 BROKEN: its muxes select no source
└─fpgaRefMux              mux          0x21&0x03=0x00  -                 BROKEN: selects no source
  ├─system/gps1-10m       source       -               -                 -
  └─system/ocxo1          source       -               -                 -
)";

}  // namespace

TEST(Tree, ShowTreeDrawsEachSinksMuxesTheirSelectionsAndMarksBrokenRoutes) {
  const std::vector<TreeCase> cases{
      {"the default system", "", {}, defaultTree},
      {"broken routes",
       "      stuckBits: {0x21: {mask: 0x03, value: 0x00}}\n",
       {"set", "hardware/strobe/sink/cliConfig/FixedSystem", "cliConfig", "asic1/pps-in",
        "sourceName=system/ocxo1-pps"},
       brokenTree},
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
    EXPECT_EQ(tree.out, c.tree);
    const CommandResult dot = instance.ctl({"show", "tree", "--dot"});
    const bool drawnBroken = dot.out.find(
                                 "\"sink:fpga1/ref-clk\" [label=\"fpga1/ref-clk\\n(freq "
                                 "sink)\\nBROKEN") != std::string::npos;
    EXPECT_EQ(drawnBroken, !c.stuckBits.empty()) << dot.out;
  }
}
