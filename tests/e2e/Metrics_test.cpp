#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <thread>

#include "e2e/Process.h"

// What scripts and collectors read: `show --json` and `metrics`, against a running daemon.
namespace {

using Json = nlohmann::ordered_json;

// The samples of a Prometheus text exposition, "name{labels}" to value. Fails the test on a line
// of the wrong shape, a sample of a family with no TYPE before it, or a histogram whose buckets
// fall or whose +Inf bucket is not its count.
std::map<std::string, double> parseExposition(const std::string& text) {
  static const std::regex typeLine(
      R"(# TYPE ([a-zA-Z_:][a-zA-Z0-9_:]*) (counter|gauge|histogram))");
  static const std::regex helpLine(R"(# HELP [a-zA-Z_:][a-zA-Z0-9_:]* .+)");
  static const std::regex sampleLine(
      R"re(([a-zA-Z_:][a-zA-Z0-9_:]*)(\{([a-zA-Z_][a-zA-Z0-9_]*="([^"\\]|\\.)*",?)*\})? (\S+))re");
  std::map<std::string, std::string> types;
  std::map<std::string, double> samples;
  double lastBucket = 0;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::smatch match;
    if (std::regex_match(line, match, typeLine)) {
      EXPECT_EQ(types.count(match[1]), 0u) << "a second TYPE: " << line;
      types[match[1]] = match[2];
      lastBucket = 0;
      continue;
    }
    if (std::regex_match(line, helpLine)) continue;
    if (!std::regex_match(line, match, sampleLine)) {
      ADD_FAILURE() << "not an exposition line: `" << line << "`";
      continue;
    }
    const std::string name = match[1];
    const double value = std::stod(match[5]);
    std::string family = name;
    for (const char* suffix : {"_bucket", "_sum", "_count"}) {
      const std::string s = suffix;
      if (!types.count(family) && name.size() > s.size() &&
          name.compare(name.size() - s.size(), s.size(), s) == 0) {
        family = name.substr(0, name.size() - s.size());
      }
    }
    EXPECT_EQ(types.count(family), 1u) << "no TYPE before " << line;
    if (name != family && name.ends_with("_bucket")) {
      EXPECT_GE(value, lastBucket) << line;
      lastBucket = value;
    }
    samples[name + match[2].str()] = value;
  }
  for (const auto& [family, type] : types) {
    if (type != "histogram") continue;
    EXPECT_EQ(samples[family + "_bucket{le=\"+Inf\"}"], samples[family + "_count"]) << family;
  }
  return samples;
}

}  // namespace

class Scripts : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(daemon.ready()) << daemon.errors(); }

  Json json(std::vector<std::string> arguments) const {
    const CommandResult done = instance.ctl(std::move(arguments));
    EXPECT_EQ(done.status, 0) << done.err;
    return done.status == 0 ? Json::parse(done.out) : Json();
  }
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

  Instance instance;
  Daemon daemon = instance.daemon();
};

TEST_F(Scripts, ShowJsonHasEveryTableAndAgreesWithGet) {
  set("asic1/pps-in", "system/ocxo1-pps");
  const Json all = json({"show", "--json"});
  for (const char* table : {"sources", "sinks", "muxes", "pps", "ports"}) {
    EXPECT_TRUE(all.contains(table)) << table;
  }
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
  for (int i = 0; i < 600 && !before.count("velaclock_pps_edges_published_total"); ++i) {
    before = metrics();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_TRUE(before.count("velaclock_pps_edges_published_total"));
  const std::string done = R"(velaclock_routes_total{kind="strobe",result="done"})";
  const std::string failed = R"(velaclock_routes_total{kind="strobe",result="failed"})";
  set("asic1/pps-in", "system/ocxo1-pps");
  set("asic1/pps-in", "port1/rx-clk");  // not in the sink's tree
  std::map<std::string, double> after;
  for (int i = 0; i < 600; ++i) {
    after = metrics();
    if (after["velaclock_pps_edges_published_total"] >
        before["velaclock_pps_edges_published_total"]) {
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_GT(after["velaclock_pps_edges_published_total"],
            before["velaclock_pps_edges_published_total"]);
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
