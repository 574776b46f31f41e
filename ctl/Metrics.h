#pragma once

#include <string>

#include "ctl/Client.h"

namespace velaclockctl {

// What the daemon's agent does, in the Prometheus text exposition format (version 0.0.4), for
// node_exporter's textfile collector: whether PPS is up, the PPS waiter's counters and its
// detection-delay histogram, each sink monitor's routes, and each mux's selection. A family whose
// source the daemon does not show (no PPS waiter yet, say) is left out, not reported as zero.
std::string metricsText(Client& client);

}  // namespace velaclockctl
