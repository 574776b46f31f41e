#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <regex>

#include "e2e/Process.h"
#include "e2e/RunningDaemon.h"

// The PPS waiter of the embedded default system, watched and broken by an operator.
namespace {

using Json = nlohmann::ordered_json;

// What `velaclockctl pps` printed: the edge in ns, the record number and whether it is fresh.
struct EdgeLine {
  std::uint64_t edgeNs = 0;
  std::uint64_t record = 0;
  bool fresh = false;
};

std::optional<EdgeLine> parseEdgeLine(const std::string& out) {
  static const std::regex line(
      R"(age -?[0-9.]+ s, (fresh|stale)  \(edge ([0-9]+) ns, record ([0-9]+) of)");
  std::smatch match;
  if (!std::regex_search(out, match, line)) return std::nullopt;
  return EdgeLine{std::stoull(match[2]), std::stoull(match[3]), match[1] == "fresh"};
}

}  // namespace

class Pps : public RunningDaemon {
 protected:
  // The waiter as the daemon reflects it.
  Json waiter() const { return get("agent/ppsWaiterSm"); }
  std::uint64_t counter(const char* name) const { return waiter().value(name, std::uint64_t{0}); }
  bool ppsUp() const { return get("hardware/ppsWaiter/status")["ppsUp"] == true; }
  // The latest edge, or none while none is published.
  std::optional<EdgeLine> latestEdge() const {
    const CommandResult got = instance.ctl({"pps"});
    return got.status == 0 ? parseEdgeLine(got.out) : std::nullopt;
  }
  void sim(const char* fault) const {
    const CommandResult done = instance.ctl({"sim", "pps", fault});
    ASSERT_EQ(done.status, 0) << done.err;
  }
};

// Edges come fresh each second with the counters rising; a stopped pulse is then reported down
// and publishes nothing, and the pulse started again brings PPS back up.
TEST_F(Pps, FreshEdgesEachSecondUntilAStoppedPulseIsReportedDown) {
  std::vector<EdgeLine> seen;
  ASSERT_TRUE(eventually([&] {
    const auto edge = latestEdge();
    if (edge && edge->fresh && (seen.empty() || edge->edgeNs > seen.back().edgeNs)) {
      seen.push_back(*edge);
    }
    return seen.size() >= 3;
  }));
  EXPECT_LT(seen[0].record, seen[2].record);
  EXPECT_GE(counter("edgesPublished"), seen.size());  // the waiter counts what it published
  const CommandResult show = instance.ctl({"show", "pps"});
  ASSERT_EQ(show.status, 0) << show.err;
  EXPECT_EQ(show.out.rfind("PPS", 0), 0u) << show.out;
  EXPECT_NE(show.out.find("\nup "), std::string::npos) << show.out;
  EXPECT_NE(show.out.find(", fresh"), std::string::npos) << show.out;
  EXPECT_NE(show.out.find("SCHED_OTHER  none\n"), std::string::npos) << show.out;
  EXPECT_GT(counter("polls"), counter("edgesPublished"));

  ASSERT_TRUE(eventually([&] { return ppsUp(); }));
  sim("stop");
  ASSERT_TRUE(eventually([&] { return !ppsUp(); }));
  const CommandResult down = instance.ctl({"show", "pps"});
  EXPECT_NE(down.out.find("\ndown "), std::string::npos) << down.out << down.err;
  const Json before = waiter();
  const auto record = latestEdge();
  ASSERT_TRUE(record.has_value());
  // The waiter keeps polling twice a second; over three of its polls, nothing is published.
  const auto polls = before["polls"].get<std::uint64_t>();
  ASSERT_TRUE(eventually([&] { return counter("polls") >= polls + 3; }));
  EXPECT_EQ(counter("edgesPublished"), before["edgesPublished"].get<std::uint64_t>());
  EXPECT_EQ(latestEdge().value_or(EdgeLine{}).record, record->record);
  EXPECT_FALSE(ppsUp());

  sim("start");
  EXPECT_TRUE(eventually([&] { return ppsUp(); }));
}

// Following the edges, the operator is told when the writer goes, and sees edges again once it
// is back.
TEST_F(Pps, FollowingSaysWhenTheWriterIsGoneThenResumes) {
  Background follow({VELACLOCKCTL, "--instance", instance.name(), "pps", "--follow"},
                    instance.environment());
  EXPECT_EQ(follow.nextLine().rfind("edge ", 0), 0U);
  EXPECT_EQ(daemon.stop(), 0);
  std::string line;
  do {
    line = follow.nextLine();
  } while (line.rfind("edge ", 0) == 0);
  EXPECT_NE(line.find("the writer is gone"), std::string::npos) << line;
  Daemon again = instance.daemon();
  ASSERT_TRUE(again.ready()) << again.errors();
  do {  // until the new writer's first edge, it may say the old one is stale
    line = follow.nextLine();
  } while (!line.empty() && line.rfind("edge ", 0) != 0);
  EXPECT_EQ(line.rfind("edge ", 0), 0U) << line;
}

// Where the daemon may have real-time scheduling and locked memory (as root in CI) `show pps`
// reports them in force; where it may not (no privilege, or a sanitizer build, whose mlockall
// locks nothing), it refuses to start, naming the option, rather than run without.
TEST(PpsRealTime, TheSchedulingAskedForIsInForceOrTheDaemonDoesNotStart) {
  const Instance instance;
  Daemon daemon = instance.daemon({"--rt-priority", "2", "--lock-memory"});
  if (!daemon.ready()) {
    EXPECT_EQ(daemon.wait(), 2);
    const std::string errors = daemon.errors();
    EXPECT_TRUE(errors.find("--rt-priority 2: ") != std::string::npos ||
                errors.find("--lock-memory: ") != std::string::npos)
        << errors;
    return;
  }
  const CommandResult show = instance.ctl({"show", "pps", "--json"});
  ASSERT_EQ(show.status, 0) << show.err;
  const Json row = Json::parse(show.out).at(0);
  EXPECT_EQ(row["scheduling"], "SCHED_FIFO 2") << show.out;
  EXPECT_NE(row["locked memory"], "none") << show.out;
}
