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
  simPulse().pulseStoppedIs(false);  // back on: counts from the last whole second
  time.runFor(0.0101);
  EXPECT_EQ(hal->ppsCount(), 30);

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
