#include "ctl/Show.h"

#include <fmt/format.h>

#include <charconv>
#include <functional>
#include <map>
#include <optional>

#include "ctl/JsonParts.h"
#include "ctl/MuxView.h"
#include "ctl/PpsAge.h"
#include "ctl/PpsRecord.h"
#include "ctl/TextTable.h"
#include "velaclock/ControlProtocol.h"

namespace velaclockctl {

namespace {

using Json = nlohmann::ordered_json;

using velaclock::cellName;

std::string text(const Json& value) {
  if (value.is_null() || value == "") return "-";
  if (value.is_string()) return value.get<std::string>();
  return value.dump();
}

std::string field(const Json& entity, const char* name) {
  const auto it = entity.find(name);
  return it == entity.end() ? "-" : text(*it);
}

std::string hex(std::optional<std::uint64_t> value) {
  return value ? fmt::format("0x{:02x}", *value) : "-";
}

TextTable sources(Client& client, const std::string&) {
  TextTable table({"source", "kind", "settings in force"});
  for (const std::string kind : {"strobe", "freq"}) {
    const Json config =
        entityAt(client, fmt::format("hardware/{}/source/config/{}", kind, cellName));
    const Json status =
        entityAt(client, fmt::format("hardware/{}/source/status/{}", kind, cellName));
    const Json listed = objectAt(config, "sourceConfig");
    for (const auto& [name, ignored] : listed.items()) {
      const Json s = entry(status, "sourceStatus", name);
      const std::string settings =
          s.empty() ? "(no status)"
          : kind == "strobe"
              ? fmt::format("adjustment {}, antenna {}", field(s, "configuredAdjustment"),
                            field(s, "hasAntenna"))
              : fmt::format("{} Hz, adjustment {} ppb, image {}", field(s, "frequency"),
                            field(s, "adjustmentPpb"), field(s, "sourceConfigImageFile"));
      table.rowIs({name, kind, settings});
    }
  }
  return table;
}

// Each sink's default, wanted and recorded source, the chain of muxes that carries it now, the
// source that chain delivers, and whether that is the recorded one ("NO": not in force).
TextTable sinks(Client& client, const std::string&) {
  const MuxView view = fetchMuxView(client);
  TextTable table({"sink", "kind", "default", "wanted", "in force", "chain", "carries", "ok"});
  for (const std::string kind : {"strobe", "freq"}) {
    const Json config = entityAt(client, fmt::format("hardware/{}/sink/config/{}", kind, cellName));
    const Json wanted =
        entityAt(client, fmt::format("hardware/{}/sink/cliConfig/{}", kind, cellName));
    const Json status = entityAt(client, fmt::format("hardware/{}/sink/status/{}", kind, cellName));
    const Json listed = objectAt(config, "sinkConfig");
    for (const auto& [name, sink] : listed.items()) {
      const std::string inForce = field(entry(status, "sinkStatus", name), "sourceName");
      const MuxView::Chain chain = view.chain(name);
      table.rowIs({name, kind, field(sink, "defaultSourceName"),
                   field(entry(wanted, "cliConfig", name), "sourceName"), inForce, chain.text(),
                   chain.carries, chain.carries == inForce ? "yes" : "NO"});
    }
  }
  return table;
}

TextTable muxes(Client& client, const std::string&) {
  const Json config = entityAt(client, "hardware/clockmux/config/" + cellName);
  const Json status = entityAt(client, "hardware/clockmux/status/" + cellName);
  const MuxView view = fetchMuxView(client);
  TextTable table({"mux", "register", "mask", "method", "selected", "register now", "selects"});
  const Json listed = objectAt(config, "muxConfig");
  for (const auto& [name, mux] : listed.items()) {
    const auto now = view.registerNow(name);
    table.rowIs({name, hex(unsignedAt(mux, "controlRegister")), hex(unsignedAt(mux, "bitMask")),
                 field(mux, "muxAccessMethod"),
                 field(entry(status, "muxStatus", name), "sourceSelect"),
                 now ? fmt::format("0x{:02x}", *now) : "-", now ? view.selects(name) : "-"});
  }
  return table;
}

// A detection-delay percentile of the waiter: the upper bound of its histogram bucket.
std::string delayBound(const Json& waiter, const char* name) {
  const std::string bound = field(waiter, name);
  return bound == "-" ? bound : "<=" + bound + "us";
}

// How the daemon's event thread, which runs the waiter, is scheduled ("SCHED_FIFO 20") and how
// much memory it keeps locked; "-" from a daemon that does not say.
std::pair<std::string, std::string> scheduling(Client& client) {
  try {
    const Reply reply = client.request({{"op", "scheduling"}});
    std::string policy = reply.member("policy", Shape::string).get<std::string>();
    if (policy == "SCHED_FIFO" || policy == "SCHED_RR") {
      policy += " " + std::to_string(reply.member("priority", Shape::unsignedNumber).get<int>());
    }
    const auto locked = reply.has("lockedKiB")
                            ? reply.member("lockedKiB", Shape::unsignedNumber).get<std::uint64_t>()
                            : 0;
    return {policy, locked ? fmt::format("{} KiB", locked) : "none"};
  } catch (const Refused&) {
    return {"-", "-"};
  }
}

// PPS up or down and the latest edge, with its age, then what the waiter counts: its last
// detection delay (poll minus edge), edges published, false edges discarded, saturations, polls,
// and the median and 99th percentile of the detection delay; last, the scheduling it runs under.
TextTable pps(Client& client, const std::string& instance) {
  const Json status = entityAt(client, "hardware/ppsWaiter/status");
  const Json waiter = entityAt(client, "agent/ppsWaiterSm");
  const auto [policy, locked] = scheduling(client);
  TextTable table({"PPS", "latest edge", "age", "last delay", "edges", "false edges", "saturations",
                   "polls", "delay p50", "delay p99", "scheduling", "locked memory"});
  const PpsReading reading = readPpsRecord(instance);
  const bool ok = reading.status == PpsReadStatus::ok;
  const auto& edgeNs = reading.record.edge.edge_timestamp_ns;
  const std::string up = status.empty()                     ? "(no status)"
                         : field(status, "ppsUp") == "true" ? "up"
                                                            : "down";
  const std::string edge = ok ? utcNanoseconds(edgeNs) : reading.why;
  const std::string age = ok ? edgeAgeText(edgeAgeSeconds(edgeNs, utcNowNanoseconds())) : "-";
  const std::string lastDelay = field(waiter, "lastDetectionDelayUs");
  table.rowIs({up, edge, age, lastDelay == "-" ? lastDelay : lastDelay + "us",
               field(waiter, "edgesPublished"), field(waiter, "falseEdgesDiscarded"),
               field(waiter, "saturations"), field(waiter, "polls"),
               delayBound(waiter, "detectionDelayP50Us"), delayBound(waiter, "detectionDelayP99Us"),
               policy, locked});
  return table;
}

// Each port's configuration and status; for the PPS GNSS input port also the source its policy
// chose for the FPGA's PPS input, the chain that carries that sink now, and whether the chain
// delivers the chosen source.
TextTable ports(Client& client, const std::string&) {
  const std::string policyPort = "pps-in1", policySink = "fpga1/pps-in1";
  const Json config = entityAt(client, "hardware/clocking/cliConfig/" + cellName);
  const Json status = entityAt(client, "hardware/clocking/cliStatus/" + cellName);
  const Json sinks = entityAt(client, "hardware/strobe/sink/cliConfig/" + cellName);
  const MuxView view = fetchMuxView(client);
  TextTable table({"port", "type", "signal", "cable delay ns", "status signal", "status delay ns",
                   "chosen for " + policySink, "chain", "in force"});
  const Json listed = objectAt(config, "allPortConfig");
  for (const auto& [name, port] : listed.items()) {
    const Json s = entry(status, "allPortStatus", name);
    std::string chosen = "-", chain = "-", inForce = "-";
    if (name == policyPort) {
      chosen = field(entry(sinks, "cliConfig", policySink), "sourceName");
      const MuxView::Chain carried = view.chain(policySink);
      chain = carried.text();
      inForce = carried.carries == chosen ? "yes" : "NO";
    }
    table.rowIs({name, field(port, "type"), field(port, "signal"), field(port, "cableDelayNs"),
                 field(s, "signal"), field(s, "cableDelayNs"), chosen, chain, inForce});
  }
  return table;
}

}  // namespace

namespace {

using Maker = std::function<TextTable(Client&, const std::string&)>;

const std::vector<std::pair<std::string, Maker>>& tables() {
  static const std::vector<std::pair<std::string, Maker>> all{
      {"sources", sources}, {"sinks", sinks}, {"muxes", muxes}, {"pps", pps}, {"ports", ports}};
  return all;
}

// Calls `shown` with each table asked for: `table`, or every table when it is empty.
void eachTable(const std::string& table,
               const std::function<void(const std::string&, const Maker&)>& shown) {
  bool any = false;
  for (const auto& [name, make] : tables()) {
    if (!table.empty() && table != name) continue;
    shown(name, make);
    any = true;
  }
  if (!any) throw Refused("no table `" + table + "`: expected sources, sinks, muxes, pps or ports");
}

}  // namespace

std::string showTables(Client& client, const std::string& table, const std::string& instance) {
  std::string out;
  eachTable(table, [&](const std::string& name, const Maker& make) {
    out += (out.empty() ? "" : "\n") + (table.empty() ? "== " + name + "\n" : "") +
           make(client, instance).text();
  });
  return out;
}

Json showTablesJson(Client& client, const std::string& table, const std::string& instance) {
  Json out = Json::object();
  eachTable(table, [&](const std::string& name, const Maker& make) {
    out[name] = make(client, instance).json();
  });
  return table.empty() ? out : out[table];
}

}  // namespace velaclockctl
