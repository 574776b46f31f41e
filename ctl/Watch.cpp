#include "ctl/Watch.h"

#include <fmt/format.h>

#include <cstdio>

#include "ctl/JsonParts.h"
#include "ctl/TextTable.h"

namespace velaclockctl {

namespace {
std::string compact(const Json& value) {
  return value.is_string() ? printable(value.get<std::string>())
                           : value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string place(const Json& event) {
  std::string text = printable(stringAt(event, "path").value_or("?"));
  const auto within = event.find("within");
  if (within == event.end() || !within->is_array()) return text;
  for (const Json& step : *within) {
    text += fmt::format(" {}[{}]", printable(stringAt(step, "collection").value_or("?")),
                        printable(stringAt(step, "key").value_or("?")));
  }
  return text;
}
}  // namespace

std::string describeEvent(const Json& event) {
  const std::string kind = stringAt(event, "event").value_or("");
  if (kind == "overflow") {
    return fmt::format("(missed {} changes; a fresh snapshot follows)",
                       unsignedAt(event, "missed").value_or(0));
  }
  if (kind == "snapshot") {
    return fmt::format("{} snapshot {}", place(event), compact(event.value("entity", Json())));
  }
  if (const auto attribute = stringAt(event, "attribute")) {
    return fmt::format("{} {} = {}", place(event), *attribute,
                       compact(event.value("value", Json())));
  }
  const Json entry = event.value("entry", Json());
  return fmt::format("{} {}[{}] {}", place(event),
                     printable(stringAt(event, "collection").value_or("?")),
                     printable(stringAt(event, "key").value_or("?")),
                     entry.is_null() ? "removed" : "= " + compact(entry));
}

int watchChanges(Client& client, const std::vector<std::string>& paths, bool json) {
  client.request({{"op", "watch"}, {"paths", paths}});
  while (const auto event = client.nextStreamLine()) {
    if (stringAt(*event, "event") == "end") {
      std::fprintf(stderr, "velaclockctl: velaclockd ended the watch: %s\n",
                   printable(stringAt(*event, "reason").value_or("no reason given")).c_str());
      return exitRefused;
    }
    const std::string line =
        json ? event->dump(-1, ' ', false, Json::error_handler_t::replace) : describeEvent(*event);
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  }
  std::fprintf(stderr, "velaclockctl: velaclockd ended the stream\n");
  return exitNoDaemon;
}

}  // namespace velaclockctl
