#include "ctl/Tree.h"

#include <fmt/format.h>

#include <map>
#include <set>

#include "ctl/JsonParts.h"
#include "ctl/TextTable.h"
#include "velaclock/ControlProtocol.h"

namespace velaclockctl {

namespace {

using velaclock::cellName;
const std::string broken = "BROKEN: ";

std::string textAt(const Json& entity, const char* name) {
  const auto text = stringAt(entity, name);
  return text && !text->empty() ? *text : "-";
}

// "0x10&0x07=0x02": where the mux's select bits are and what its register holds now ("?" when
// it cannot be read here).
std::string registerText(const MuxView& view, const std::string& mux) {
  const Json config = objectAt(view.muxes(), mux);
  const auto address = unsignedAt(config, "controlRegister");
  const auto mask = unsignedAt(config, "bitMask");
  if (!address || !mask) return "-";
  const auto now = view.registerNow(mux);
  return fmt::format("0x{:02x}&0x{:02x}={}", *address, *mask,
                     now ? fmt::format("0x{:02x}", *now) : "?");
}

// Builds the trees; `path` holds the muxes above the one being built, so that muxes that feed
// each other in a loop end the branch instead of the program.
class TreeBuilder {
 public:
  explicit TreeBuilder(const MuxView& view) : view_(view) {}

  TreeNode sink(const std::string& kind, const std::string& name, const std::string& wanted,
                const std::string& inForce) {
    TreeNode node{name, kind + " sink", "", "-", "", false, {}};
    const MuxView::Chain chain = view_.chain(name);
    node.selects = chain.carries;
    if (chain.muxes.empty()) {
      node.state = broken + "no mux feeds it";
      return node;
    }
    node.inputs.push_back(mux(chain.muxes.back(), true));
    if (chain.carries == "-") {
      node.state = broken + "its muxes select no source";
    } else if (chain.carries != inForce) {
      node.state = broken + fmt::format("in force {}, the muxes carry {}",
                                        inForce == "-" ? "nothing" : inForce, chain.carries);
    } else if (wanted != "-" && wanted != inForce) {
      node.state = broken + fmt::format("wanted {}, in force {}", wanted, inForce);
    } else {
      node.state = "in force";
    }
    return node;
  }

 private:
  // The mux and its inputs; `carrying`: whether a sink's source passes through it now.
  TreeNode mux(const std::string& name, bool carrying) {
    TreeNode node{name, "mux", registerText(view_, name), view_.selects(name), "", false, {}};
    if (carrying && node.selects == "-") node.state = broken + "selects no source";
    path_.insert(name);
    const Json inputs = objectAt(objectAt(view_.muxes(), name), "source");
    for (const auto& [input, ignored] : inputs.items()) {
      const bool selected = input == node.selects;
      TreeNode child{input, "source", "", "", "", false, {}};
      if (view_.muxes().contains(input)) {
        child = path_.count(input)
                    ? TreeNode{input, "mux", "", "", broken + "a loop of muxes", false, {}}
                    : mux(input, carrying && selected);
      }
      child.selected = selected;
      node.inputs.push_back(std::move(child));
    }
    path_.erase(name);
    return node;
  }

  const MuxView& view_;
  std::set<std::string> path_;
};

void addRows(const TreeNode& node, const std::string& lead, const std::string& branch,
             TextTable& table) {
  const std::string state = node.selected && !node.state.empty() ? "selected, " + node.state
                            : node.selected                      ? "selected"
                                                                 : node.state;
  table.rowIs({lead + branch + node.name, node.type, node.reg.empty() ? "-" : node.reg,
               node.selects.empty() ? "-" : node.selects, state.empty() ? "-" : state});
  // Below a node drawn with "├─" the line goes on; below "└─" it has ended.
  const std::string below = lead + (branch.empty() ? "" : branch == "├─" ? "│ " : "  ");
  for (std::size_t i = 0; i < node.inputs.size(); ++i) {
    addRows(node.inputs[i], below, i + 1 < node.inputs.size() ? "├─" : "└─", table);
  }
}

std::string dotQuoted(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c == '\n' ? std::string("\\n") : std::string(1, c);
  }
  return out + "\"";
}

// The graph's nodes and edges, each once, gathered from the trees.
struct Graph {
  struct Node {
    std::string label, shape;
    bool broken = false;
  };
  std::map<std::string, Node> nodes;                          // by DOT id
  std::map<std::pair<std::string, std::string>, bool> edges;  // from, to: selected

  static std::string id(const TreeNode& node) {
    return (node.type == "source" ? "source:" : node.type == "mux" ? "mux:" : "sink:") + node.name;
  }
  void add(const TreeNode& node) {
    Node& shown = nodes[id(node)];
    const bool isMux = node.type == "mux";
    shown.shape = isMux ? "box" : node.type == "source" ? "ellipse" : "doubleoctagon";
    shown.label = node.name + (isMux && !node.reg.empty() ? "\n" + node.reg : "") +
                  (node.type.ends_with("sink") ? "\n(" + node.type + ")" : "");
    const auto at = node.state.find(broken);
    if (at != std::string::npos) {
      shown.broken = true;
      shown.label += "\n" + node.state.substr(at);
    }
    for (const TreeNode& input : node.inputs) {
      edges[{id(input), id(node)}] |= node.type.ends_with("sink") || input.selected;
      add(input);
    }
  }
};

}  // namespace

std::vector<TreeNode> clockTrees(const std::vector<SinkFamily>& families, const MuxView& muxes) {
  TreeBuilder builder(muxes);
  std::vector<TreeNode> trees;
  for (const SinkFamily& family : families) {
    const Json sinks = objectAt(family.config, "sinkConfig");
    for (const auto& [name, ignored] : sinks.items()) {
      trees.push_back(builder.sink(family.kind, name,
                                   textAt(entry(family.wanted, "cliConfig", name), "sourceName"),
                                   textAt(entry(family.status, "sinkStatus", name), "sourceName")));
    }
  }
  return trees;
}

std::string treeText(const std::vector<TreeNode>& trees) {
  TextTable table({"NAME", "TYPE", "REGISTER", "SELECTS", "STATE"});
  for (const TreeNode& tree : trees) addRows(tree, "", "", table);
  return table.text();
}

Json treeJson(const std::vector<TreeNode>& trees) {
  Json out = Json::array();
  for (const TreeNode& node : trees) {
    Json& shown = out.emplace_back(Json::object());
    shown["name"] = node.name;
    shown["type"] = node.type;
    for (const auto& [key, value] :
         {std::pair{"register", &node.reg}, {"selects", &node.selects}, {"state", &node.state}}) {
      shown[key] = value->empty() || *value == "-" ? Json() : Json(*value);
    }
    shown["selected"] = node.selected;
    shown["inputs"] = treeJson(node.inputs);
  }
  return out;
}

std::string treeDot(const std::vector<TreeNode>& trees) {
  Graph graph;
  for (const TreeNode& tree : trees) graph.add(tree);
  std::string out =
      "digraph velaclock {\n  rankdir=LR;\n  node [fontname=\"Helvetica\", fontsize=10];\n"
      "  edge [color=gray60, style=dashed];\n";
  for (const auto& [id, node] : graph.nodes) {
    out += fmt::format("  {} [label={}, shape={}{}];\n", dotQuoted(id), dotQuoted(node.label),
                       node.shape, node.broken ? ", color=red, fontcolor=red" : "");
  }
  for (const auto& [edge, selected] : graph.edges) {
    const bool toBroken = graph.nodes[edge.second].broken;
    out += fmt::format("  {} -> {}{};\n", dotQuoted(edge.first), dotQuoted(edge.second),
                       !selected  ? ""
                       : toBroken ? " [style=bold, color=red]"
                                  : " [style=bold, color=black]");
  }
  return out + "}\n";
}

std::string showTree(Client& client, bool json, bool dot) {
  std::vector<SinkFamily> families;
  for (const std::string kind : {"strobe", "freq"}) {
    const auto at = [&](const char* part) {
      return entityAt(client, fmt::format("hardware/{}/sink/{}/{}", kind, part, cellName));
    };
    families.push_back({kind, at("config"), at("cliConfig"), at("status")});
  }
  const auto trees = clockTrees(families, fetchMuxView(client));
  if (dot) return treeDot(trees);
  return json ? treeJson(trees).dump(2) + "\n" : treeText(trees);
}

}  // namespace velaclockctl
