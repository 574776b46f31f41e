#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

#include "Hardware/Freq.h"
#include "VelaClockAgent/PpsWaiterTypes.h"
#include "host/EntityJson.h"
#include "host/PlatformDescription.h"

namespace {

// What `velaclockctl get` shows of `entity`, loaded back as the entity at `path` of a platform
// description, as a dump is: value -> text -> JSON -> text -> value.
template <class EntityType>
Kel::Ptr<EntityType> throughDump(const EntityType& entity) {
  const std::string json = velaclockd::entityToJson(entity).dump(2);
  std::string text = "entities:\n  p/x:\n";
  std::istringstream lines(json);
  for (std::string line; std::getline(lines, line);) text += "    " + line + "\n";
  const auto loaded = velaclockd::parsePlatformDescription(text, "dump", nullptr);
  EXPECT_EQ(loaded.entities.size(), 1u) << json;
  return loaded.entities.empty() ? nullptr
                                 : Kel::dynamicPtrCast<EntityType>(loaded.entities[0].second);
}

// Sets `attribute` of `entity` from the canonical text of `value`, shows and loads it back, and
// expects the very same bits.
template <class T, class EntityType, class Get>
void expectRoundTrip(EntityType& entity, const char* attribute, T value, Get get) {
  const std::string text = Kel::ValueTraits<T>::toText(value);
  ASSERT_TRUE(entity.fwkType().attribute(attribute)->textIs(entity, text)) << text;
  ASSERT_TRUE(Kel::sameValue(get(entity), value)) << text;
  const auto back = throughDump(entity);
  ASSERT_NE(back, nullptr) << text;
  EXPECT_TRUE(Kel::sameValue(get(*back), value))
      << text << " came back as " << Kel::ValueTraits<T>::toText(get(*back));
}

template <class T>
std::vector<T> edgeValues() {
  using Limits = std::numeric_limits<T>;
  return {T(0.1),
          T(12.5),
          T(0.0),
          -T(0.0),
          Limits::denorm_min(),
          -Limits::denorm_min(),
          Limits::denorm_min() * 1000,          // a subnormal
          std::nextafter(Limits::min(), T(0)),  // the largest subnormal
          Limits::min(),
          Limits::max(),
          -Limits::max(),
          Limits::infinity(),
          -Limits::infinity(),
          Limits::quiet_NaN(),
          -Limits::quiet_NaN()};
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
  for (const char* bad : {"1e-400", "2e-324", "1e309", "-1e309", "+-5", "+", "0x10", "1,5"}) {
    EXPECT_FALSE(period->accepts(bad)) << bad;
  }
  EXPECT_TRUE(period->accepts("+5"));
  EXPECT_TRUE(period->accepts("1e-320"));
  auto source = Kel::makePtr<Hardware::Freq::SourceConfig>("s");
  const auto* adjustment = source->fwkType().attribute("defaultAdjustmentPpb");
  for (const char* bad : {"1e-46", "3.5e38", "1e-320"})
    EXPECT_FALSE(adjustment->accepts(bad)) << bad;

  // A NaN's payload cannot be shown; it is dropped on the way in, its sign kept.
  ASSERT_TRUE(period->textIs(*config, "-nan(123)"));
  EXPECT_EQ(period->text(*config), "-nan");
  EXPECT_TRUE(Kel::sameValue(config->ppsPollPeriod(), -std::numeric_limits<double>::quiet_NaN()));
}
