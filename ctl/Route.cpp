#include "ctl/Route.h"

#include <fmt/format.h>

#include <cstdio>
#include <string>

#include "ctl/JsonParts.h"
#include "ctl/TextTable.h"

namespace velaclockctl {

namespace {
std::string hex(const Json& step, const char* name) {
  const auto value = unsignedAt(step, name);
  return value ? fmt::format("0x{:02x}", *value) : "-";
}

std::string names(const Json& list) {
  std::string text;
  for (const Json& name : list) {
    if (name.is_string()) text += (text.empty() ? "" : ", ") + name.get<std::string>();
  }
  return text.empty() ? "none" : text;
}
}  // namespace

int explainRoute(Client& client, const std::string& sink, const std::string& source, bool apply) {
  const Reply reply =
      client.request({{"op", "route"}, {"sink", sink}, {"source", source}, {"apply", apply}});
  const std::string searched = names(reply.member("searched", Shape::array));
  if (!reply.member("found", Shape::boolean).get<bool>()) {
    std::printf("no route from %s to %s: %s\nmuxes searched: %s\n", source.c_str(), sink.c_str(),
                reply.member("failure", Shape::string).get<std::string>().c_str(),
                searched.c_str());
    return exitRefused;
  }
  TextTable table({"mux", "register", "mask", "selects", "bits", "before", "after"});
  for (const Json& step : reply.member("steps", Shape::array)) {
    table.rowIs({stringAt(step, "mux").value_or("?"), hex(step, "controlRegister"),
                 hex(step, "bitMask"), stringAt(step, "selects").value_or("?"),
                 hex(step, "bitValue"), hex(step, "before"), hex(step, "after")});
  }
  std::printf("route from %s to %s, the mux farthest from the sink first:\n%smuxes searched: %s\n",
              source.c_str(), sink.c_str(), table.text().c_str(), searched.c_str());
  if (reply.has("applied")) {
    std::printf("applied: %s cliConfig %s sourceName=%s; the agent routes it\n",
                reply.member("applied", Shape::string).get<std::string>().c_str(), sink.c_str(),
                source.c_str());
  } else {
    std::printf("nothing programmed (--apply files %s's source, and the agent routes it)\n",
                sink.c_str());
  }
  return exitOk;
}

}  // namespace velaclockctl
