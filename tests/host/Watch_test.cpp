// A watch's subscriber that falls behind, and a watch that outgrows what it may follow, through a
// stand-in connection whose queue the test fills and empties.
#include <gtest/gtest.h>

#include <deque>

#include "Hardware/Strobe.h"
#include "host/Watch.h"

namespace {

using Json = nlohmann::ordered_json;
using CliConfigDir = Hardware::Strobe::SourceCliConfigDir;

std::string number(const Json& value) {
  return std::to_string(static_cast<int>(value.get<double>()));
}

// A connection whose queue holds `room` lines until the test takes them.
class QueueConnection : public velaclockd::Connection {
 public:
  explicit QueueConnection(std::size_t room) : room_(room) {}
  bool streamIs(std::unique_ptr<velaclockd::Stream>) override { return false; }
  bool streaming() const override { return true; }
  bool push(const Json& line) override {
    if (queue_.size() >= room_) return false;
    queue_.push_back(line);
    return true;
  }
  void streamEnds(const std::string& reason) override { ended = reason; }
  void replyLater(std::unique_ptr<velaclockd::PendingReply>) override {}
  void replyIs(std::string) override {}

  // What the subscriber reads: "event path[key]=value" per line. Then it has caught up.
  std::vector<std::string> take(velaclockd::Stream& stream) {
    std::vector<std::string> lines;
    for (const Json& line : queue_) {
      std::string text = line["event"].get<std::string>() + " " + line.value("path", "");
      if (line.contains("within")) text += "[" + line["within"][0]["key"].get<std::string>() + "]";
      if (line.contains("value")) text += "=" + number(line["value"]);
      if (line.contains("missed")) text += line["missed"].dump();
      if (line.contains("entity")) {
        text += "=" + number(line["entity"]["cliConfig"].front()["configuredAdjustment"]);
      }
      lines.push_back(text);
    }
    queue_.clear();
    stream.drained();
    return lines;
  }
  std::string ended;

 private:
  std::size_t room_;
  std::deque<Json> queue_;
};

void adjust(CliConfigDir& dir, const std::string& key, float adjustment) {
  dir.cliConfigIs(key)->configuredAdjustmentIs(adjustment);
}

}  // namespace

// One notice of what was missed, then a snapshot line per path as the queue takes them, then the
// changes after it. A change to a path whose snapshot line is still to come is shown by that line;
// one to a path already in the snapshot that finds no room means another notice and snapshot.
TEST(Watch, ASubscriberThatFellBehindGetsANoticeASnapshotInPartsThenTheChanges) {
  auto a = Kel::makePtr<CliConfigDir>("a"), b = Kel::makePtr<CliConfigDir>("b");
  adjust(*a, "x", 0);
  adjust(*b, "y", 0);
  QueueConnection connection(2);
  velaclockd::Watch watch(connection, {{"p/a", a}, {"p/b", b}});
  adjust(*a, "x", 1);
  adjust(*a, "x", 2);
  adjust(*a, "x", 3);  // no room: missed, as is the next
  adjust(*b, "y", 4);
  using Lines = std::vector<std::string>;
  EXPECT_EQ(connection.take(watch), (Lines{"change p/a[x]=1", "change p/a[x]=2"}));

  adjust(*b, "y", 5);  // its snapshot line is still to come
  adjust(*a, "x", 6);  // already in the snapshot, and no room
  EXPECT_EQ(connection.take(watch), (Lines{"overflow 2", "snapshot p/a=3"}));
  EXPECT_EQ(connection.take(watch), (Lines{"snapshot p/b=5", "overflow 1"}));
  EXPECT_EQ(connection.take(watch), (Lines{"snapshot p/a=6", "snapshot p/b=5"}));
  adjust(*b, "y", 7);
  EXPECT_EQ(connection.take(watch), (Lines{"change p/b[y]=7"}));
}

// Following costs a reactor per entity: a watch whose entities grow past its bound ends, saying
// why, rather than grow without end.
TEST(Watch, AWatchThatOutgrowsItsBoundEnds) {
  auto a = Kel::makePtr<CliConfigDir>("a");
  adjust(*a, "x", 0);
  EXPECT_EQ(velaclockd::Watch::entitiesToFollow({{"p/a", a}, {"p/a2", a}}), 4U);
  QueueConnection connection(100);
  velaclockd::Watch watch(connection, {{"p/a", a}}, 3);
  a->cliConfigDel("x");  // an entry that goes is followed, and counted, no more
  adjust(*a, "y", 0);
  adjust(*a, "z", 0);
  EXPECT_EQ(connection.ended, "");
  adjust(*a, "w", 0);
  EXPECT_NE(connection.ended.find("grew past 3"), std::string::npos) << connection.ended;
  adjust(*a, "x", 9);                            // heard no more
  EXPECT_EQ(connection.take(watch).size(), 3U);  // x gone, y and z come
}
