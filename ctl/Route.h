#pragma once

#include <string>

#include "ctl/Client.h"

namespace velaclockctl {

// Asks how `source` would be routed to `sink` and prints the chain of muxes, farthest first, with
// each one's selection and its register's value before and after, or why there is no route,
// naming the muxes searched. With `apply`, the sink's wanted source is then filed, which the
// agent routes. Returns the exit status: 1 when there is no route.
int explainRoute(Client& client, const std::string& sink, const std::string& source, bool apply);

}  // namespace velaclockctl
