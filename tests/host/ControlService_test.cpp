#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "Fru/Hardware.h"
#include "Fru/MmioWindow.h"
#include "Fru/SimRegisterBank.h"
#include "host/ControlService.h"
#include "host/DefaultPlatform.h"
#include "host/PlatformDescription.h"

// A simulated bank is shown as it holds its registers; a device is read, up to its last register.
TEST(ControlService, RegsShowsEveryRegisterAsTwoHexDigits) {
  auto bank = Kel::makePtr<Fru::SimRegisterBank>("H", 300);
  bank->poke(0, 0x0F);
  bank->poke(1, 0xA5);
  bank->stuckBitsIs(2, 0x81, 0x80);
  bank->poke(299, 0xFF);
  Fru::hamImplIs("H", bank);
  const auto device =
      std::filesystem::temp_directory_path() / ("velaclock-regs-" + std::to_string(getpid()));
  std::ofstream(device) << "\x01\x23\xfe" << std::string(4093, '\0');
  Fru::hamImplIs(
      "M", Fru::openMmioWindow("M", {.path = device.string(), .size = 3}, Fru::OpenMode::use));
  velaclockd::ControlService service(Kel::makePtr<Corral::EntityManager>("test", ""));
  const auto reply = service.handle({{"op", "regs"}, {"ham", "H"}});
  const auto read = service.handle({{"op", "regs"}, {"ham", "M"}});
  Fru::hamImplsDelAll();
  std::filesystem::remove(device);
  EXPECT_EQ(reply["size"], 300);
  EXPECT_EQ(reply["registers"], "0fa580" + std::string(std::size_t{2} * 296, '0') + "ff");
  EXPECT_EQ(read["registers"], "0123fe") << read.dump();
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
  for (const nlohmann::json& all :
       {nlohmann::json{{"op", "watch"}},
        nlohmann::json{{"op", "watch"}, {"paths", nlohmann::json::array()}}}) {
    StreamConnection watcher;  // no paths, or none named: every path
    EXPECT_EQ((*service.handle(all, watcher))["watching"], (nlohmann::ordered_json{"a/b", "a/c"}));
  }

  nlohmann::json many = nlohmann::json::array();
  for (std::size_t i = 0; i <= velaclock::maxWatchPaths; ++i)
    many.push_back("p" + std::to_string(i));
  StreamConnection other;
  const auto refused = service.handle({{"op", "watch"}, {"paths", many}}, other);
  EXPECT_EQ((*refused)["error"], "a watch names at most 1024 paths, not 1025");
  EXPECT_FALSE(other.streaming());
  many.back() = "p0";  // named twice, counted once: at the limit, each path is looked up
  EXPECT_EQ((*service.handle({{"op", "watch"}, {"paths", many}}, other))["error"],
            "no entity at path `p0`");
}

// Each refusal names what was wrong and where, and leaves the database as it was.
TEST(ControlService, RefusedRequestsNameTheFaultAndChangeNothing) {
  auto database = Kel::makePtr<Corral::EntityManager>("test", "");
  const auto registers =
      std::filesystem::temp_directory_path() / ("velaclock-service-" + std::to_string(getpid()));
  std::filesystem::create_directories(registers);
  velaclockd::install(velaclockd::parsePlatformDescription(velaclockd::defaultPlatformDescription,
                                                           "default", nullptr),
                      *database, registers);
  velaclockd::ControlService service(database);
  const std::string muxes = "hardware/clockmux/config/FixedSystem";
  // Requests as JSON text: `op` on the mux configuration with `rest`, or a set of fpgaPpsMux's.
  const auto onMuxes = [&](const std::string& op, const std::string& rest) {
    return R"({"op":")" + op + R"(","path":")" + muxes + R"(",)" + rest + "}";
  };
  const auto setMux = [&](const std::string& rest) {
    return onMuxes("set", R"("collection":"muxConfig","key":"fpgaPpsMux",)" + rest);
  };
  const std::vector<std::pair<std::string, std::string>> refused{
      {setMux(R"("attributes":{"bitMask":"0x1f","controlRegister":"0x1ffffffff"})"),
       "attribute `controlRegister` of Hardware::ClockMux::MuxConfig: expected an unsigned 32-bit"},
      {setMux(R"("attributes":{"bitmask":"3"})"),
       "has no attribute `bitmask` (it has: controlRegister, bitMask, muxAccessMethod)"},
      {setMux(R"("attributes":{"muxAccessMethod":"teleport"})"),
       "expected a number from 0 to 255 or a value name"},
      {setMux(R"("type":"Hardware::ClockMux::Sink","attributes":{})"),
       "cannot be an entry of `muxConfig`"},
      {R"({"op":"set","path":"hardware/clocking/cliConfig/FixedSystem","collection":)"
       R"("allPortConfig","key":"pps-in1","type":"Hardware::Clocking::PortConfig"})",
       "entry is a Hardware::Clocking::PpsGnssInPortConfig, not a Hardware::Clocking::PortConfig"},
      {onMuxes("set", R"("collection":"muxConfigs","key":"x","attributes":{"bitMask":"3"})"),
       "has no collection `muxConfigs`"},
      {onMuxes("del", R"("collection":"muxConfig","key":"nope")"),
       "`muxConfig` has no entry `nope`"},
      {R"({"op":"set","path":"hardware/tundra/gpo","collection":"entity",)"
       R"("key":"PCA9554-1-smaRelaySw","attributes":{"writeCount":"0"}})",
       "cannot be set here"},
      {R"({"op":"get","path":"hardware/clockmux"})", "no entity at path `hardware/clockmux`"},
      {R"({"op":"get"})", "request needs `path`"},
      {R"({"op":"regs","ham":"NoSuchHam"})", "no register bank for Ham `NoSuchHam`"},
      {R"({"op":"trace","filter":"VelaClockAgent/9-0"})", "bad trace filter term"},
      {R"({"op":"launch"})", "unknown op `launch`"},
      {R"({"op":"save"})", "`save` is answered on a connection"},
  };
  const auto before = service.handle({{"op", "get"}, {"path", muxes}});
  for (const auto& [text, message] : refused) {
    const auto reply = service.handle(nlohmann::json::parse(text));
    EXPECT_EQ(reply["ok"], false) << text;
    EXPECT_NE(reply.value("error", "").find(message), std::string::npos)
        << text << ": " << reply.dump();
  }
  EXPECT_EQ(service.handle({{"op", "get"}, {"path", muxes}}), before);
  Fru::hamImplsDelAll();
  std::filesystem::remove_all(registers);
}
