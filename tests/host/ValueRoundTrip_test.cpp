#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

#include "Hardware/Freq.h"
#include "VelaClockAgent/PpsWaiterTypes.h"
#include "host/EntityJson.h"
#include "host/PlatformDescription.h"

namespace {

// Sets `attribute` from the text of `value`, shows the entity as `velaclockctl get` does, loads
// that back as a platform description's entity (value -> text -> JSON -> text -> value) and
// expects the very same bits.
template <class T, class EntityType, class Get>
void expectRoundTrip(EntityType& entity, const char* attribute, T value, Get get) {
  const std::string text = Kel::ValueTraits<T>::toText(value);
  ASSERT_TRUE(entity.fwkType().attribute(attribute)->textIs(entity, text)) << text;
  std::istringstream json(velaclockd::entityToJson(entity).dump(2));
  std::string description = "entities:\n  p/x:\n";
  for (std::string line; std::getline(json, line);) description += "    " + line + "\n";
  const auto loaded = velaclockd::parsePlatformDescription(description, "dump", nullptr);
  const auto back = Kel::dynamicPtrCast<EntityType>(loaded.entities.at(0).second);
  EXPECT_TRUE(Kel::sameValue(get(*back), value))
      << text << " came back as " << Kel::ValueTraits<T>::toText(get(*back));
}

template <class T>
std::vector<T> edgeValues() {
  using Limits = std::numeric_limits<T>;
  // Subnormals (the least, one between, the largest), -0.0, extremes, infinities and NaNs.
  return std::vector<T>({T(0.1), T(12.5), T(0.0), -T(0.0), Limits::denorm_min(),
                         -Limits::denorm_min(), Limits::denorm_min() * 1000,
                         std::nextafter(Limits::min(), T(0)), Limits::min(), Limits::max(),
                         -Limits::max(), Limits::infinity(), -Limits::infinity(),
                         Limits::quiet_NaN(), -Limits::quiet_NaN()});
}

}  // namespace

TEST(ValueRoundTrip, EveryDoubleAndFloatShownLoadsBackTheSame) {
  auto config = Kel::makePtr<VelaClockAgent::PpsWaiterConfig>("config");
  for (const double value : edgeValues<double>()) {
    expectRoundTrip(*config, "ppsPollPeriod", value,
                    [](const auto& c) { return c.ppsPollPeriod(); });
  }
  auto source = Kel::makePtr<Hardware::Freq::SourceConfig>("system/ocxo1");
  for (const float value : edgeValues<float>()) {
    expectRoundTrip(*source, "defaultAdjustmentPpb", value,
                    [](const auto& s) { return s.defaultAdjustmentPpb(); });
  }
}

TEST(ValueRoundTrip, WhatCannotBeHeldOrShownIsRefused) {
  auto config = Kel::makePtr<VelaClockAgent::PpsWaiterConfig>("config");
  const auto* period = config->fwkType().attribute("ppsPollPeriod");
  for (const char* bad : {"1e-400", "2e-324", "1e309", "+-5", "+", "0x10"}) {
    EXPECT_FALSE(period->accepts(bad)) << bad;
  }
  EXPECT_TRUE(period->accepts("+5"));
  const auto* adjustment =
      Hardware::Freq::SourceConfig::typeInfo().attribute("defaultAdjustmentPpb");
  EXPECT_FALSE(adjustment->accepts("1e-46"));
  EXPECT_FALSE(adjustment->accepts("3.5e38"));

  // A NaN's payload cannot be shown; it is dropped on the way in, its sign kept.
  ASSERT_TRUE(period->textIs(*config, "-nan(123)"));
  EXPECT_TRUE(Kel::sameValue(config->ppsPollPeriod(), -std::numeric_limits<double>::quiet_NaN()));
}
