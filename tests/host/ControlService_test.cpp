#include <gtest/gtest.h>

#include "Fru/Hardware.h"
#include "Fru/SimRegisterBank.h"
#include "Hardware/ClockMux.h"
#include "VelaClockAgent/PpsWaiterTypes.h"
#include "host/ControlService.h"

namespace {

class ControlServiceTest : public ::testing::Test {
 protected:
  ControlServiceTest() {
    database->entityIs("hardware/ppsWaiter/config",
                       Kel::makePtr<VelaClockAgent::PpsWaiterConfig>("config"));
    database->entityIs("hardware/clockmux/status/FixedSystem",
                       Kel::makePtr<Hardware::ClockMux::MuxStatusDir>("FixedSystem"));
  }
  ~ControlServiceTest() override { Fru::hamImplsDelAll(); }

  // The reply as it goes out: it must render as JSON, so nothing that is not UTF-8 may be in it.
  nlohmann::json request(const nlohmann::json& body) {
    return nlohmann::json::parse(service.handle(body).dump());
  }

  Kel::Ptr<Corral::EntityManager> database = Kel::makePtr<Corral::EntityManager>("test", "");
  velaclockd::ControlService service{database};
};

}  // namespace

TEST_F(ControlServiceTest, ASubnormalSetIsShownByGet) {
  const nlohmann::json set = request({{"op", "set"},
                                      {"path", "hardware/ppsWaiter/config"},
                                      {"attributes", {{"ppsPollPeriod", "1e-320"}}}});
  ASSERT_EQ(set["ok"], true) << set.dump();
  const nlohmann::json got = request({{"op", "get"}, {"path", "hardware/ppsWaiter/config"}});
  ASSERT_EQ(got["ok"], true) << got.dump();
  EXPECT_EQ(got["entity"]["ppsPollPeriod"].get<double>(), 1e-320);
}

TEST_F(ControlServiceTest, AStringThatIsNotUtf8IsRefusedAndTheRefusalRenders) {
  const nlohmann::json set = request({{"op", "set"},
                                      {"path", "hardware/clockmux/status/FixedSystem"},
                                      {"collection", "muxStatus"},
                                      {"key", "m"},
                                      {"attributes", {{"sourceSelect", "gps\xff"}}}});
  EXPECT_EQ(set["ok"], false);
  EXPECT_NE(set["error"].get<std::string>().find("expected UTF-8 text"), std::string::npos)
      << set.dump();
  const auto dir = Kel::dynamicPtrCast<Hardware::ClockMux::MuxStatusDir>(
      database->storedEntity("hardware/clockmux/status/FixedSystem"));
  EXPECT_EQ(dir->muxStatus("m"), nullptr);  // nothing made
}

TEST_F(ControlServiceTest, RegsShowsEveryRegisterAsTwoHexDigits) {
  auto bank = Kel::makePtr<Fru::SimRegisterBank>("H", 300);
  for (const auto& [address, value] :
       {std::pair{0u, 0x0F}, {1u, 0xA5}, {255u, 0xFF}, {299u, 0x10}}) {
    bank->poke(address, static_cast<std::uint8_t>(value));
  }
  bank->stuckBitsIs(2, 0x81, 0x80);
  Fru::hamImplIs("H", bank);
  const nlohmann::json regs = request({{"op", "regs"}, {"ham", "H"}});
  ASSERT_EQ(regs["ok"], true) << regs.dump();
  EXPECT_EQ(regs["size"], 300);
  const auto hex = regs["registers"].get<std::string>();
  ASSERT_EQ(hex.size(), 600u);
  EXPECT_EQ(hex.substr(0, 8), "0fa58000");  // what a read sees: stuck bits included
  EXPECT_EQ(hex.substr(std::size_t{2} * 255, 4), "ff00");
  EXPECT_EQ(hex.substr(std::size_t{2} * 299), "10");
}
