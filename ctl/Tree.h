#pragma once

#include <string>
#include <vector>

#include "ctl/Client.h"
#include "ctl/MuxView.h"

namespace velaclockctl {

// One node of a clock tree: a sink, a mux or a source, with what it selects now and whether the
// route through it is broken.
struct TreeNode {
  std::string name;
  std::string type;              // "strobe sink", "freq sink", "mux", "source"
  std::string reg;               // a mux's "0x10&0x07=0x02": register, mask and the value read now
  std::string selects;           // a mux's selected input, a sink's source as the muxes carry it
  std::string state;             // a sink's "in force", or "BROKEN: why", or empty
  bool selected = false;         // an input its mux selects now
  std::vector<TreeNode> inputs;  // a sink's mux, a mux's inputs in key order
};

// A family of sinks as the daemon has them: their configuration, the operator's wishes and what
// is in force (`get` of the sink config, cliConfig and status directories).
struct SinkFamily {
  std::string kind;  // "strobe", "freq"
  Json config, wanted, status;
};

// Each sink's tree: the mux that feeds it and, below it, every input of every mux, each mux's
// selection decoded from its register. A route is marked broken where the sink's chain selects
// no source, carries another source than the one in force, or did not bring the wanted one.
std::vector<TreeNode> clockTrees(const std::vector<SinkFamily>& families, const MuxView& muxes);

// The trees as text, drawn as lsblk draws devices: one row per node, columns aligned.
std::string treeText(const std::vector<TreeNode>& trees);
// The trees as JSON for scripts: each node an object, its inputs nested.
Json treeJson(const std::vector<TreeNode>& trees);
// The same graph for Graphviz: each sink, mux and source once; selected inputs drawn bold, broken
// routes red.
std::string treeDot(const std::vector<TreeNode>& trees);

// `show tree`: fetches what the trees are made of and prints them as text, JSON or DOT.
std::string showTree(Client& client, bool json, bool dot);

}  // namespace velaclockctl
