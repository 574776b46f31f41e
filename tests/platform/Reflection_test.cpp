#include <gtest/gtest.h>

#include <cmath>

#include "Hardware/ClockMux.h"
#include "Hardware/Clocking.h"
#include "Hardware/Pps.h"
#include "TestTypes.h"

using namespace KelTest;
using Kel::makePtr;
using Kel::Ptr;

namespace {
[[maybe_unused]] const bool registered = (Kel::kelModuleIs<Item, Box>("tests/KelTest"), true);

std::vector<Kel::String> attributeNames(const Kel::TypeInfo& type) {
  std::vector<Kel::String> names;
  for (const auto& a : type.attributes()) names.push_back(a.name);
  return names;
}

std::vector<Kel::String> collectionNames(const Kel::TypeInfo& type) {
  std::vector<Kel::String> names;
  for (const auto& c : type.collections()) names.push_back(c.name);
  return names;
}

// Sets `name` from `text` through reflection and reads it back as text.
std::string roundTrip(Kel::PtrInterface& entity, const char* name, const char* text) {
  const Kel::AttributeDescriptor* attribute = entity.fwkType().attribute(name);
  EXPECT_NE(attribute, nullptr) << name;
  if (!attribute) return "";
  EXPECT_TRUE(attribute->textIs(entity, text)) << name << "=" << text;
  return attribute->text(entity);
}
}  // namespace

TEST(Reflection, ValuesRoundTripThroughText) {
  auto mux = makePtr<Hardware::ClockMux::MuxConfig>("m");
  EXPECT_EQ(roundTrip(*mux, "controlRegister", "0x1F"), "31");
  EXPECT_EQ(mux->controlRegister(), 31u);
  EXPECT_EQ(roundTrip(*mux, "muxAccessMethod", "fpgaRegister"), "2");
  EXPECT_EQ(roundTrip(*mux, "muxAccessMethod", "9"), "9");

  auto port = makePtr<Hardware::Clocking::PpsGnssInPortConfig>("pps-in1");
  EXPECT_EQ(roundTrip(*port, "cableDelayNs", "12.5"), "12.5");
  EXPECT_EQ(roundTrip(*port, "cableDelayNs", "-inf"), "-inf");
  EXPECT_EQ(roundTrip(*port, "signal", "gnssPps"), "2");

  auto item = makePtr<Item>("i");
  EXPECT_EQ(roundTrip(*item, "level", "0.1"), "0.1");  // float keeps its shortest text
  EXPECT_EQ(roundTrip(*item, "label", "a b"), "a b");
  auto box = makePtr<Box>("b");
  EXPECT_EQ(roundTrip(*box, "open", "true"), "true");

  const auto* favourite = box->fwkType().attribute("favourite");
  ASSERT_NE(favourite, nullptr);
  EXPECT_EQ(favourite->kind, Kel::ValueKind::reference);
  favourite->referenceIs(*box, item);
  EXPECT_EQ(box->favourite(), item);
  EXPECT_EQ(favourite->reference(*box), item);
}

TEST(Reflection, BadValuesAndUnknownNamesChangeNothing) {
  auto mux = makePtr<Hardware::ClockMux::MuxConfig>("m");
  auto recorder = makePtr<Recorder>(mux);
  mux->bitMaskIs(0x0F);
  recorder->heard.clear();
  const auto* bitMask = mux->fwkType().attribute("bitMask");
  for (const char* bad : {"", "-1", "0x", "4294967296", "12abc", "0x1G", " 1"}) {
    EXPECT_FALSE(bitMask->textIs(*mux, bad)) << bad;
  }
  EXPECT_NE(bitMask->expectation.find("unsigned 32-bit"), std::string::npos);
  const auto* method = mux->fwkType().attribute("muxAccessMethod");
  EXPECT_FALSE(method->textIs(*mux, "256"));
  EXPECT_FALSE(method->textIs(*mux, "teleport"));
  auto item = makePtr<Item>("i");
  EXPECT_FALSE(item->fwkType().attribute("level")->textIs(*item, "fast"));
  EXPECT_FALSE(makePtr<Box>("b")->fwkType().attribute("open")->textIs(*item, "yes"));

  EXPECT_EQ(mux->bitMask(), 0x0Fu);
  EXPECT_TRUE(recorder->heard.empty());
  EXPECT_EQ(mux->fwkType().attribute("bitmask"), nullptr);  // names are case-sensitive
  EXPECT_EQ(mux->fwkType().collection("sources"), nullptr);
}

TEST(Reflection, TypesListTheirMembersBaseFirst) {
  const auto& mux = Hardware::ClockMux::MuxConfig::typeInfo();
  EXPECT_EQ(mux.name(), "Hardware::ClockMux::MuxConfig");
  EXPECT_EQ(mux.module(), "Hardware/ClockMux");
  EXPECT_EQ(collectionNames(mux), (std::vector<Kel::String>{"source", "sink"}));

  const auto& quill = Hardware::Pps::QuillCounter::typeInfo();
  EXPECT_EQ(attributeNames(quill), (std::vector<Kel::String>{"counterType", "counterBase", "ham"}));
  EXPECT_TRUE(quill.derivesFrom(Hardware::Pps::CounterCommon::typeInfo()));
  EXPECT_FALSE(Hardware::Pps::CounterCommon::typeInfo().derivesFrom(quill));
  EXPECT_EQ(Hardware::Pps::QuillCounter::hamId.index, 2);
  EXPECT_EQ(makePtr<Hardware::Pps::QuillCounter>("q")->counterType(), 1);
  EXPECT_EQ(makePtr<Hardware::Pps::CounterCommon>("c")->counterType(), 2);
  EXPECT_EQ(Kel::typeInfo("Hardware::Clocking::PpsGnssInPortStatus")->attribute("signal")->id,
            Hardware::Clocking::PortStatus::signalId);
}

TEST(Reflection, GenericCreationTakesANameOnly) {
  const Ptr<Kel::PtrInterface> made = Kel::newEntity("Hardware::Pps::LumenCounter", {"lumen0"});
  const auto counter = Kel::dynamicPtrCast<Hardware::Pps::LumenCounter>(made);
  ASSERT_NE(counter, nullptr);
  EXPECT_EQ(counter->name(), "lumen0");
  EXPECT_EQ(counter->counterType(), 0);

  EXPECT_THROW(Kel::newEntity("Hardware::Pps::LumenCounter", {"lumen0", "0x100"}),
               Kel::NewEntityArgumentsError);
  EXPECT_THROW(Kel::newEntity("Hardware::Pps::LumenCounter", {}), Kel::NewEntityArgumentsError);
  EXPECT_THROW(Kel::newEntity("Hardware::Pps::NoSuchCounter", {"x"}), std::invalid_argument);
}

TEST(Reflection, CollectionsTakeDerivedEntriesAndAnnounceThem) {
  auto dir = makePtr<Hardware::Clocking::PortCliConfigDir>("FixedSystem");
  auto recorder = makePtr<Recorder>(dir);
  const auto* ports = dir->fwkType().collection("allPortConfig");
  ASSERT_NE(ports, nullptr);
  EXPECT_EQ(ports->entryType, &Hardware::Clocking::PortConfig::typeInfo());
  ports->entryIs(*dir, Kel::newEntity("Hardware::Clocking::PpsGnssInPortConfig", {"pps-in1"}));
  ports->entryIs(*dir, Kel::newEntity("Hardware::Clocking::PortConfig", {"other"}));
  EXPECT_EQ(ports->keys(*dir), (std::vector<Kel::String>{"other", "pps-in1"}));
  EXPECT_NE(
      Kel::dynamicPtrCast<Hardware::Clocking::PpsGnssInPortConfig>(dir->allPortConfig("pps-in1")),
      nullptr);
  ports->entryDel(*dir, "other");
  EXPECT_EQ(ports->entry(*dir, "other"), nullptr);
  EXPECT_EQ(recorder->heard.size(), 3u);
}
