#include <gtest/gtest.h>

#include "Fru/Hardware.h"
#include "Kel/VirtualTime.h"
#include "Pps/Counter/LumenHal.h"
#include "Pps/Counter/MockHal.h"
#include "Pps/Counter/QuillHal.h"
#include "Pps/Counter/SimPulse.h"

using Kel::makePtr;
using Pps::Counter::simPulse;

namespace {
// Virtual time whose wall clock starts exactly on a PPS edge.
struct OnTheEdge : Kel::VirtualTime {
  OnTheEdge() : Kel::VirtualTime(100.0, 1.8e9) { simPulse().reset(); }
  ~OnTheEdge() { simPulse().reset(); }
};
}  // namespace

TEST(PpsCounter, MockCountsMillisecondsSinceTheLastWholeSecond) {
  OnTheEdge time;
  auto hal = makePtr<Pps::Counter::MockHal>();
  EXPECT_TRUE(hal->valid());
  EXPECT_EQ(hal->ppsCount(), 0);
  time.runFor(0.2505);
  EXPECT_EQ(hal->ppsCount(), 250);
  time.runFor(0.7494);
  EXPECT_EQ(hal->ppsCount(), 999);
  time.runFor(0.0002);
  EXPECT_EQ(hal->ppsCount(), 0);  // the next edge
}

TEST(PpsCounter, FaultsStopGlitchAndOverrun) {
  OnTheEdge time;
  auto hal = makePtr<Pps::Counter::MockHal>();
  time.runFor(0.5);
  simPulse().pulseStoppedIs(true);
  time.runFor(0.52);
  EXPECT_EQ(hal->ppsCount(), 1020);  // saturates instead of wrapping
  time.runFor(5);
  EXPECT_EQ(hal->ppsCount(), 1020);
  simPulse().pulseStoppedIs(false);  // back on: its first edge comes at the next whole second
  time.runFor(0.0101);
  EXPECT_EQ(hal->ppsCount(), 1020);
  time.runFor(0.97);
  EXPECT_EQ(hal->ppsCount(), 0);
  time.runFor(0.03);
  EXPECT_EQ(hal->ppsCount(), 30);
  simPulse().pulseStoppedIs(true);  // stopped and started again between two edges
  time.runFor(0.5);
  simPulse().pulseStoppedIs(false);
  time.runFor(0.2);
  EXPECT_EQ(hal->ppsCount(), 730);  // still from the last edge before the stop
  time.runFor(0.27);
  EXPECT_EQ(hal->ppsCount(), 0);
  time.runFor(0.03);

  simPulse().glitchIs();
  time.runFor(0.004);
  EXPECT_EQ(hal->ppsCount(), 4);  // counts from the spurious edge
  time.runFor(1.0);
  EXPECT_EQ(hal->ppsCount(), 34);  // the next genuine edge wins again

  simPulse().countOverrideIs(1500);
  EXPECT_EQ(hal->ppsCount(), 1500);
  simPulse().countOverrideIs(std::nullopt);
  EXPECT_EQ(hal->ppsCount(), 34);
}

TEST(PpsCounter, RegisterHalsAreValidOnlyWhereACounterAnswers) {
  OnTheEdge time;
  Fru::hamImplsDelAll();
  EXPECT_FALSE(makePtr<Pps::Counter::LumenHal>(0x40)->valid());  // no register window at all

  auto window = makePtr<Fru::SimRegisterBank>(Pps::Counter::LumenHal::registerWindow, 0x100);
  window->deviceIs(0x40, makePtr<Pps::Counter::SimCounterDevice>());
  Fru::hamImplIs(Pps::Counter::LumenHal::registerWindow, window);
  auto lumen = makePtr<Pps::Counter::LumenHal>(0x40);
  EXPECT_TRUE(lumen->valid());
  EXPECT_FALSE(makePtr<Pps::Counter::LumenHal>(0x42)->valid());  // nothing at that address
  time.runFor(0.123);
  EXPECT_EQ(lumen->ppsCount(), 123);

  auto card = makePtr<Fru::SimRegisterBank>("QuillCard0", 0x10);
  card->deviceIs(0x8, makePtr<Pps::Counter::SimCounterDevice>());
  Fru::hamImplIs("QuillCard0", card);
  const Kel::Ptr<const Fru::Ham> ham = makePtr<Fru::Ham>("QuillCard0");
  auto quill = makePtr<Pps::Counter::QuillHal>(0x8, ham);
  EXPECT_TRUE(quill->valid());
  EXPECT_EQ(quill->ppsCount(), 123);
  EXPECT_FALSE(makePtr<Pps::Counter::QuillHal>(0x8, nullptr)->valid());

  card->deviceIs(0x8, nullptr);  // the card stops answering: reads as a lost pulse
  EXPECT_EQ(quill->ppsCount(), 1020);
  Fru::hamImplsDelAll();
}

namespace {
// A counter register that is not the simulated pulse's: real hardware, as far as a HAL can tell.
class FixedCounter : public Fru::RegisterDevice {
 public:
  std::uint16_t read16() override { return 7; }
};

std::string attributeText(const Kel::PtrInterface& object, const char* name) {
  const auto* attribute = object.fwkType().attribute(name);
  return attribute ? attribute->text(object) : "(none)";
}
}  // namespace

TEST(PpsCounter, HalsReflectAndTellWhetherTheSimulatedPulseDrivesThem) {
  OnTheEdge time;
  const auto mock = makePtr<Pps::Counter::MockHal>();
  EXPECT_EQ(mock->fwkType().name(), "Pps::Counter::MockHal");
  EXPECT_TRUE(mock->fwkType().derivesFrom(Pps::Counter::Hal::typeInfo()));
  EXPECT_EQ(attributeText(*mock, "valid"), "true");
  EXPECT_EQ(attributeText(*mock, "followsSimPulse"), "true");

  auto window = makePtr<Fru::SimRegisterBank>(Pps::Counter::LumenHal::registerWindow, 0x100);
  window->deviceIs(0x40, makePtr<Pps::Counter::SimCounterDevice>());
  window->deviceIs(0x50, makePtr<FixedCounter>());
  Fru::hamImplIs(Pps::Counter::LumenHal::registerWindow, window);
  const auto simulated = makePtr<Pps::Counter::LumenHal>(0x40);
  const auto real = makePtr<Pps::Counter::LumenHal>(0x50);
  EXPECT_TRUE(simulated->followsSimPulse());
  EXPECT_FALSE(real->followsSimPulse());
  EXPECT_TRUE(real->valid());
  EXPECT_EQ(real->ppsCount(), 7);
  EXPECT_EQ(attributeText(*real, "counterBase"), "80");
  EXPECT_EQ(real->fwkType().name(), "Pps::Counter::LumenHal");

  const Kel::Ptr<const Fru::Ham> ham = makePtr<Fru::Ham>(Pps::Counter::LumenHal::registerWindow);
  const auto quill = makePtr<Pps::Counter::QuillHal>(0x40, ham);
  EXPECT_TRUE(quill->followsSimPulse());
  EXPECT_EQ(quill->fwkType().attribute("ham")->reference(*quill), ham);
  Fru::hamImplsDelAll();
}
