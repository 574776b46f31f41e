#include "ctl/Show.h"

#include <fmt/format.h>

#include <charconv>
#include <functional>
#include <map>
#include <optional>

#include "ctl/PpsRecord.h"
#include "ctl/TextTable.h"

namespace velaclockctl {

namespace {

using Json = nlohmann::ordered_json;

const std::string cell = "FixedSystem";

// The entity at `path`, or an empty object when the daemon holds none there.
Json entityAt(Client& client, const std::string& path) {
  try {
    return client.request({{"op", "get"}, {"path", path}}).member("entity", Shape::object);
  } catch (const Refused&) {
    return Json::object();
  }
}

// The member `name` of `entity` when it is an object (a collection, an entry), else an empty
// object: the tables show what is there and "-" for what is not.
Json objectAt(const Json& entity, const std::string& name) {
  const auto it = entity.find(name);
  return it != entity.end() && it->is_object() ? *it : Json::object();
}

// An entry of a collection, or an empty object.
Json entry(const Json& entity, const char* collection, const std::string& key) {
  return objectAt(objectAt(entity, collection), key);
}

// The unsigned number `name` of `entity`, when it is one.
std::optional<std::uint64_t> unsignedAt(const Json& entity, const char* name) {
  const auto it = entity.find(name);
  if (it == entity.end() || !it->is_number_unsigned()) return std::nullopt;
  return it->get<std::uint64_t>();
}

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

std::string sources(Client& client, const std::string&) {
  TextTable table({"source", "kind", "settings in force"});
  for (const std::string kind : {"strobe", "freq"}) {
    const Json config = entityAt(client, fmt::format("hardware/{}/source/config/{}", kind, cell));
    const Json status = entityAt(client, fmt::format("hardware/{}/source/status/{}", kind, cell));
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
  return table.text();
}

std::string sinks(Client& client, const std::string&) {
  TextTable table({"sink", "kind", "default", "wanted", "in force"});
  for (const std::string kind : {"strobe", "freq"}) {
    const Json config = entityAt(client, fmt::format("hardware/{}/sink/config/{}", kind, cell));
    const Json wanted = entityAt(client, fmt::format("hardware/{}/sink/cliConfig/{}", kind, cell));
    const Json status = entityAt(client, fmt::format("hardware/{}/sink/status/{}", kind, cell));
    const Json listed = objectAt(config, "sinkConfig");
    for (const auto& [name, sink] : listed.items()) {
      table.rowIs({name, kind, field(sink, "defaultSourceName"),
                   field(entry(wanted, "cliConfig", name), "sourceName"),
                   field(entry(status, "sinkStatus", name), "sourceName")});
    }
  }
  return table.text();
}

// The source whose select bits the register holds under the mux's mask, or "-".
std::string decodedSource(const Json& mux, std::uint8_t value) {
  const auto mask = unsignedAt(mux, "bitMask").value_or(0) & 0xFFU;
  const Json offered = objectAt(mux, "source");
  for (const auto& [name, source] : offered.items()) {
    if (source.is_object() &&
        (value & mask) == (unsignedAt(source, "bitValue").value_or(0) & 0xFFU)) {
      return name;
    }
  }
  return "-";
}

// The register at `address` of a bank dumped as hex text (two digits per register), or -1.
int registerAt(const std::string& registers, std::uint64_t address) {
  if (address >= registers.size() / 2) return -1;
  const char* digits = registers.data() + 2 * address;
  std::uint8_t value = 0;
  const auto [end, error] = std::from_chars(digits, digits + 2, value, 16);
  return error == std::errc() && end == digits + 2 ? value : -1;
}

// The register of a mux programmed through the bank as it is now, and the source it selects.
std::pair<std::string, std::string> selection(const Json& mux, const std::string& registers) {
  const auto address = unsignedAt(mux, "controlRegister");
  if (!address || unsignedAt(mux, "muxAccessMethod").value_or(0) != 0) return {"-", "-"};
  const int value = registerAt(registers, *address);
  if (value < 0) return {"-", "-"};
  return {fmt::format("0x{:02x}", value), decodedSource(mux, static_cast<std::uint8_t>(value))};
}

std::string muxes(Client& client, const std::string&) {
  const Json config = entityAt(client, "hardware/clockmux/config/" + cell);
  const Json status = entityAt(client, "hardware/clockmux/status/" + cell);
  std::string registers;
  try {
    registers = client.request({{"op", "regs"}, {"ham", "IntelGpioHam"}})
                    .member("registers", Shape::string)
                    .get<std::string>();
  } catch (const Refused&) {
  }
  TextTable table({"mux", "register", "mask", "method", "selected", "register now", "selects"});
  const Json listed = objectAt(config, "muxConfig");
  for (const auto& [name, mux] : listed.items()) {
    const auto [now, selects] = selection(mux, registers);
    table.rowIs({name, hex(unsignedAt(mux, "controlRegister")), hex(unsignedAt(mux, "bitMask")),
                 field(mux, "muxAccessMethod"),
                 field(entry(status, "muxStatus", name), "sourceSelect"), now, selects});
  }
  return table.text();
}

std::string pps(Client& client, const std::string& instance) {
  const Json status = entityAt(client, "hardware/ppsWaiter/status");
  TextTable table({"PPS", "latest edge", "seen at poll"});
  const PpsReading reading = readPpsRecord(instance);
  const std::string up = status.empty()                     ? "(no status)"
                         : field(status, "ppsUp") == "true" ? "up"
                                                            : "down";
  if (reading.status == PpsReadStatus::ok) {
    table.rowIs({up, utcNanoseconds(reading.record.edge.edge_timestamp_ns),
                 utcNanoseconds(reading.record.edge.poll_timestamp_ns)});
  } else {
    table.rowIs({up, reading.why, "-"});
  }
  return table.text();
}

std::string ports(Client& client, const std::string&) {
  const Json config = entityAt(client, "hardware/clocking/cliConfig/" + cell);
  const Json status = entityAt(client, "hardware/clocking/cliStatus/" + cell);
  TextTable table({"port", "type", "signal", "cable delay ns", "status signal", "status delay ns"});
  const Json listed = objectAt(config, "allPortConfig");
  for (const auto& [name, port] : listed.items()) {
    const Json s = entry(status, "allPortStatus", name);
    table.rowIs({name, field(port, "type"), field(port, "signal"), field(port, "cableDelayNs"),
                 field(s, "signal"), field(s, "cableDelayNs")});
  }
  return table.text();
}

}  // namespace

std::string showTables(Client& client, const std::string& table, const std::string& instance) {
  using Maker = std::function<std::string(Client&, const std::string&)>;
  const std::vector<std::pair<std::string, Maker>> tables{
      {"sources", sources}, {"sinks", sinks}, {"muxes", muxes}, {"pps", pps}, {"ports", ports}};
  std::string out;
  for (const auto& [name, make] : tables) {
    if (!table.empty() && table != name) continue;
    out += (out.empty() ? "" : "\n") + (table.empty() ? "== " + name + "\n" : "") +
           make(client, instance);
  }
  if (out.empty()) {
    throw Refused("no table `" + table + "`: expected sources, sinks, muxes, pps or ports");
  }
  return out;
}

}  // namespace velaclockctl
