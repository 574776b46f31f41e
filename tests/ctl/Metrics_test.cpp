// `velaclockctl metrics` in process, against a stand-in daemon that shows what a table says.
#include "ctl/Metrics.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <nlohmann/json.hpp>

#include "ctl/StandIn.h"
#include "support/Exposition.h"

namespace {

using Json = nlohmann::json;
using Samples = std::map<std::string, double>;

// The exposition made from a daemon that answers `get PATH` (keyed by PATH) and other ops (keyed
// by op) with the reply given, and refuses whatever the table does not hold.
Samples metricsFrom(const std::map<std::string, Json>& replies) {
  const auto socket = std::filesystem::temp_directory_path() /
                      ("velaclock-metrics-" + std::to_string(getpid()) + ".sock");
  StandIn daemon(
      socket, {[&](int fd) {
        for (std::string line; !(line = StandIn::requestLine(fd)).empty();) {
          const Json request = Json::parse(line);
          const auto it = replies.find(request.value("path", request.value("op", "")));
          StandIn::send(
              fd, (it == replies.end() ? Json{{"ok", false}, {"error", "no"}} : it->second).dump() +
                      "\n");
        }
      }});
  velaclockctl::Client client(socket, 5.0);
  return parseExposition(velaclockctl::metricsText(client));
}

Json entity(Json attributes) {
  return {{"ok", true}, {"entity", std::move(attributes)}};
}

}  // namespace

// Each value the daemon shows becomes its sample; a histogram's buckets add up; label values are
// escaped; what the daemon does not show is left out, never reported as zero.
TEST(Metrics, EachShownValueIsASampleAndWhatIsNotShownIsLeftOut) {
  std::map<std::string, Json> replies{
      {"agent/ppsWaiterSm", entity({{"polls", 10},
                                    {"edgesPublished", 3},
                                    {"falseEdgesDiscarded", 1},
                                    {"saturations", 0},
                                    {"detectionDelayHistogram", "0:1 2047:2"},
                                    {"detectionDelaySumUs", 4000}})},
      {"hardware/ppsWaiter/status", entity({{"ppsUp", true}})},
      {"agent/strobeSinkDirMonitorSm", entity({{"routesDone", 2}, {"routesFailed", 1}})},
      {"hardware/clockmux/status/FixedSystem",
       entity({{"muxStatus",
                {{"a\"b\\c\nd", {{"sourceSelect", "s1"}}}, {"idle", {{"sourceSelect", ""}}}}}})},
      {"devices",
       {{"ok", true}, {"devices", {{{"name", "bar0"}, {"kind", "mmio"}, {"failures", 2}}}}}}};
  const Samples all = metricsFrom(replies);
  const Samples expected{
      {"velaclock_pps_up", 1},
      {"velaclock_pps_polls_total", 10},
      {"velaclock_pps_edges_published_total", 3},
      {"velaclock_pps_false_edges_total", 1},
      {"velaclock_pps_saturations_total", 0},
      {R"(velaclock_pps_detection_delay_seconds_bucket{le="0"})", 1},
      {R"(velaclock_pps_detection_delay_seconds_bucket{le="0.001023"})", 1},
      {R"(velaclock_pps_detection_delay_seconds_bucket{le="0.002047"})", 3},
      {R"(velaclock_pps_detection_delay_seconds_bucket{le="+Inf"})", 3},
      {"velaclock_pps_detection_delay_seconds_sum", 0.004},
      {"velaclock_pps_detection_delay_seconds_count", 3},
      {R"(velaclock_routes_total{kind="strobe",result="done"})", 2},
      {R"(velaclock_routes_total{kind="strobe",result="failed"})", 1},
      {R"(velaclock_mux_selected{mux="a\"b\\c\nd",source="s1"})", 1},
      {R"(velaclock_device_access_failures_total{device="bar0",kind="mmio"})", 2},
      {R"(velaclock_device_last_errno{device="bar0",kind="mmio"})", 0},
  };
  for (const auto& [sample, value] : expected) {
    EXPECT_EQ(all.count(sample), 1U) << sample;
    EXPECT_DOUBLE_EQ(all.count(sample) ? all.at(sample) : -1, value) << sample;
  }
  EXPECT_EQ(all.size(), expected.size() + 23) << "26 histogram buckets, three shown above";

  // A histogram text of another shape, and no waiter or status at all.
  replies["agent/ppsWaiterSm"]["entity"]["detectionDelayHistogram"] = "2048:1";
  EXPECT_FALSE(metricsFrom(replies).count("velaclock_pps_detection_delay_seconds_count"));
  EXPECT_TRUE(metricsFrom({}).empty());
}
