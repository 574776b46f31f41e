#include <gtest/gtest.h>

#include "Fru/Hardware.h"
#include "Fru/SimRegisterBank.h"
#include "host/ControlService.h"

TEST(ControlService, RegsShowsEveryRegisterAsTwoHexDigits) {
  auto bank = Kel::makePtr<Fru::SimRegisterBank>("H", 300);
  bank->poke(0, 0x0F);
  bank->poke(1, 0xA5);
  bank->stuckBitsIs(2, 0x81, 0x80);
  bank->poke(299, 0xFF);
  Fru::hamImplIs("H", bank);
  velaclockd::ControlService service(Kel::makePtr<Corral::EntityManager>("test", ""));
  const auto reply = service.handle({{"op", "regs"}, {"ham", "H"}});
  Fru::hamImplsDelAll();
  EXPECT_EQ(reply["size"], 300);
  EXPECT_EQ(reply["registers"], "0fa580" + std::string(std::size_t{2} * 296, '0') + "ff");
}

namespace {
// A connection that becomes a stream when asked.
class StreamConnection : public velaclockd::Connection {
 public:
  bool streamIs(std::unique_ptr<velaclockd::Stream> stream) override {
    stream_ = std::move(stream);
    return true;
  }
  bool streaming() const override { return bool(stream_); }
  bool push(const nlohmann::ordered_json&) override { return true; }
  void streamEnds(const std::string&) override {}
  void replyLater(std::unique_ptr<velaclockd::PendingReply>) override {}
  void replyIs(std::string) override {}

 private:
  std::unique_ptr<velaclockd::Stream> stream_;
};
}  // namespace

// Each path is followed once however often it is named, a request names a bounded number of
// them, and a connection watches once.
TEST(ControlService, AWatchFollowsEachPathOnceAndBoundsWhatItIsAsked) {
  auto database = Kel::makePtr<Corral::EntityManager>("test", "");
  database->entityIs("a/b", Kel::makePtr<Kel::Entity>("b"));
  database->entityIs("a/c", Kel::makePtr<Kel::Entity>("c"));
  velaclockd::ControlService service(database);
  StreamConnection connection;
  const nlohmann::json paths = {"a/b", "a/c", "a/b", "a/b"};
  const auto reply = service.handle({{"op", "watch"}, {"paths", paths}}, connection);
  EXPECT_EQ((*reply)["watching"], (nlohmann::ordered_json{"a/b", "a/c"}));
  const auto again = service.handle({{"op", "watch"}, {"paths", {"a/b"}}}, connection);
  EXPECT_EQ((*again)["error"], "this connection is watching already");

  nlohmann::json many = nlohmann::json::array();
  for (std::size_t i = 0; i <= velaclock::maxWatchPaths; ++i)
    many.push_back("p" + std::to_string(i));
  StreamConnection other;
  const auto refused = service.handle({{"op", "watch"}, {"paths", many}}, other);
  EXPECT_EQ((*refused)["error"], "a watch names at most 1024 paths, not 1025");
  EXPECT_FALSE(other.streaming());
}
