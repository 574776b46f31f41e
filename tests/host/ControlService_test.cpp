#include <gtest/gtest.h>

#include "Fru/Hardware.h"
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
