#pragma once

#include <string>

#include "ctl/Client.h"

namespace velaclockctl {

// The tables of `velaclockctl show`, made from what the daemon's entities say now. `table` is
// one of sources, sinks, muxes, pps, ports, or empty for all. Throws Refused for another name.
std::string showTables(Client& client, const std::string& table, const std::string& instance);
// The same tables for scripts: a table's rows as a JSON array of objects with the same columns
// (null for "-"); with `table` empty, an object of every table by name.
Json showTablesJson(Client& client, const std::string& table, const std::string& instance);

}  // namespace velaclockctl
