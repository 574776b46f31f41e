#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "e2e/RunningDaemon.h"
#include "support/Exposition.h"

// What scripts and collectors read: `show --json` and `metrics`, against a running daemon. The
// exposition's shape for every case of what the daemon shows is the ctl's unit test.

class Scripts : public RunningDaemon {
 protected:
  std::map<std::string, double> metrics() const {
    const CommandResult done = instance.ctl({"metrics"});
    EXPECT_EQ(done.status, 0) << done.err;
    return parseExposition(done.out);
  }
  void set(const std::string& sink, const std::string& source) const {
    ASSERT_EQ(instance
                  .ctl({"set", "hardware/strobe/sink/cliConfig/FixedSystem", "cliConfig", sink,
                        "sourceName=" + source})
                  .status,
              0);
  }
};

TEST_F(Scripts, ShowJsonHasEveryTableAndAgreesWithGet) {
  set("asic1/pps-in", "system/ocxo1-pps");
  const Json all = json({"show", "--json"});
  for (const char* table : {"sources", "sinks", "muxes", "pps", "ports"}) {
    EXPECT_TRUE(all.contains(table)) << table;
  }
  std::map<std::string, Json> settings;  // each family's sources in their own words
  for (const Json& row : all["sources"]) settings[row["source"]] = row["settings in force"];
  EXPECT_EQ(settings["system/ocxo1-pps"], "adjustment 0.0, antenna false");
  EXPECT_EQ(settings["system/ocxo1"], "10000000 Hz, adjustment 0.0 ppb, image -");
  const Json muxStatus = json({"get", "hardware/clockmux/status/FixedSystem"})["muxStatus"];
  const Json muxes = json({"show", "muxes", "--json"});
  ASSERT_EQ(muxes, all["muxes"]);
  ASSERT_EQ(muxes.size(),
            json({"get", "hardware/clockmux/config/FixedSystem"})["muxConfig"].size());
  for (const Json& row : muxes) {
    const std::string mux = row["mux"];
    const Json selected = muxStatus.contains(mux) ? muxStatus[mux]["sourceSelect"] : Json();
    EXPECT_EQ(row["selected"], selected == "" ? Json() : selected) << mux;
  }
  const Json sinkStatus =
      json({"get", "hardware/strobe/sink/status/FixedSystem"})["sinkStatus"]["asic1/pps-in"];
  bool found = false;
  for (const Json& row : json({"show", "sinks", "--json"})) {
    if (row["sink"] != "asic1/pps-in") continue;
    found = true;
    EXPECT_EQ(row["in force"], sinkStatus["sourceName"]);
    EXPECT_EQ(row["chain"], "holdoverPpsMux>fpgaPpsMux>asicPpsMux");
    EXPECT_EQ(row["ok"], "yes");
  }
  EXPECT_TRUE(found);
}

TEST_F(Scripts, MetricsParseAndTheirCountersRiseWithEvents) {
  std::map<std::string, double> before;
  // The PPS waiter is built at mount completion; its families appear once it polls.
  ASSERT_TRUE(eventually(
      [&] { return (before = metrics()).count("velaclock_pps_edges_published_total"); }));
  const std::string done = R"(velaclock_routes_total{kind="strobe",result="done"})";
  const std::string failed = R"(velaclock_routes_total{kind="strobe",result="failed"})";
  set("asic1/pps-in", "system/ocxo1-pps");
  set("asic1/pps-in", "port1/rx-clk");  // not in the sink's tree
  std::map<std::string, double> after;
  const std::string edges = "velaclock_pps_edges_published_total";
  EXPECT_TRUE(eventually([&] { return (after = metrics())[edges] > before[edges]; }));
  EXPECT_GT(after["velaclock_pps_detection_delay_seconds_count"],
            before["velaclock_pps_detection_delay_seconds_count"]);
  EXPECT_EQ(after[done], before[done] + 1);
  EXPECT_EQ(after[failed], before[failed] + 1);
  EXPECT_EQ(after[R"(velaclock_mux_selected{mux="holdoverPpsMux",source="system/ocxo1-pps"})"], 1);
  EXPECT_EQ(after["velaclock_pps_up"], 1);

  const std::filesystem::path file = instance.runtime() / "velaclock.prom";
  ASSERT_EQ(instance.ctl({"metrics", "--output", file.string()}).status, 0);
  const std::string text = readFile(file);
  EXPECT_TRUE(parseExposition(text).count(done)) << text;
}
