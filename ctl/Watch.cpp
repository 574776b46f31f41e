#include "ctl/Watch.h"

#include <fmt/format.h>

#include <cstdio>

#include "ctl/JsonParts.h"

namespace velaclockctl {

namespace {
std::string compact(const Json& value) {
  return value.is_string() ? value.get<std::string>()
                           : value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string place(const Json& event) {
  std::string text = stringAt(event, "path").value_or("?");
  const auto within = event.find("within");
  if (within == event.end() || !within->is_array()) return text;
  for (const Json& step : *within) {
    text += fmt::format(" {}[{}]", stringAt(step, "collection").value_or("?"),
                        stringAt(step, "key").value_or("?"));
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
  return fmt::format("{} {}[{}] {}", place(event), stringAt(event, "collection").value_or("?"),
                     stringAt(event, "key").value_or("?"),
                     entry.is_null() ? "removed" : "= " + compact(entry));
}

int watchChanges(Client& client, const std::vector<std::string>& paths, bool json) {
  client.request({{"op", "watch"}, {"paths", paths}});
  while (const auto event = client.nextStreamLine()) {
    const std::string line =
        json ? event->dump(-1, ' ', false, Json::error_handler_t::replace) : describeEvent(*event);
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  }
  std::fprintf(stderr, "velaclockctl: velaclockd ended the stream\n");
  return exitNoDaemon;
}

}  // namespace velaclockctl
