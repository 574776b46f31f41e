// What `save` writes: a platform description that loads back as the state it was written from,
// written in the event loop's spare time, and refused when it would be too large to load.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "Fru/Hardware.h"
#include "Fru/SimRegisterBank.h"
#include "Hardware/Strobe.h"
#include "Kel/VirtualTime.h"
#include "host/DefaultPlatform.h"
#include "host/DescriptionSave.h"
#include "host/SaveJob.h"
#include "support/ReplyCollector.h"

namespace {

namespace fs = std::filesystem;
using velaclockd::PlatformDescription;

// A state database built from a description, its persistent banks in a directory of its own.
struct Installed {
  Installed(const PlatformDescription& description, const std::string& tag)
      : registers(fs::temp_directory_path() / ("velaclock-save-" + tag + std::to_string(getpid()))),
        database(Kel::makePtr<Corral::EntityManager>(tag, "")) {
    fs::create_directories(registers);
    velaclockd::install(description, *database, registers);
  }
  ~Installed() { fs::remove_all(registers); }
  fs::path registers;
  Kel::Ptr<Corral::EntityManager> database;
};

Kel::Ptr<Fru::SimRegisterBank> bank(const std::string& name) {
  return Kel::dynamicPtrCast<Fru::SimRegisterBank>(Fru::describedHamImpl(name));
}

std::vector<std::uint8_t> contents(const std::string& name) {
  std::vector<std::uint8_t> registers;
  for (std::uint32_t a = 0; a < bank(name)->size(); ++a) registers.push_back(bank(name)->peek(a));
  return registers;
}

}  // namespace

// The default system with settings away from their defaults, text that needs quoting, and a bank
// whose registers hold every kind of run: saved, loaded and saved again, it is the same.
TEST(DescriptionSave, WhatIsSavedLoadsBackAsItWas) {
  PlatformDescription description = velaclockd::parsePlatformDescription(
      velaclockd::defaultPlatformDescription, "default", nullptr);
  description.hams.push_back({"Runs", 5000, false, {}, {{7, {0x81, 0x80}}}, {4990}});
  std::vector<std::uint8_t> registers(5000, 0);
  std::mt19937 random(7);
  for (std::size_t a = 100; a < 1400; ++a) registers[a] = static_cast<std::uint8_t>(random());
  std::fill(registers.begin() + 2000, registers.begin() + 2007, 0x5a);  // 7: bytes one by one
  std::fill(registers.begin() + 3000, registers.begin() + 3008, 0xa5);  // 8: a run
  std::fill(registers.begin() + 3008, registers.begin() + 4000, 0xff);
  registers[4999] = 1;
  registers[7] = 0x80;  // the stuck bits show
  std::string first;
  {
    Installed saved(description, "first");
    for (std::uint32_t a = 0; a < registers.size(); ++a) bank("Runs")->poke(a, registers[a]);
    const auto sources = Kel::dynamicPtrCast<Hardware::Strobe::SourceCliConfigDir>(
        saved.database->storedEntity("hardware/strobe/source/cliConfig/FixedSystem"));
    sources->cliConfigIs("system/gps1")->configuredAdjustmentIs(-0.1F);
    sources->cliConfigIs("a \"quoted\"\nname: true")->hasAntennaIs(true);
    first = velaclockd::savedDescription(*saved.database, description);
  }
  const PlatformDescription loaded = velaclockd::parsePlatformDescription(first, "saved", nullptr);
  for (const auto& ham : description.hams) {  // a bank kept in a file stays kept in one
    const auto it = std::ranges::find(loaded.hams, ham.name, &velaclockd::HamDescription::name);
    ASSERT_NE(it, loaded.hams.end()) << ham.name;
    EXPECT_EQ(it->persistent, ham.persistent) << ham.name;
  }
  Installed again(loaded, "again");
  EXPECT_EQ(contents("Runs"), registers);
  EXPECT_EQ(velaclockd::savedDescription(*again.database, loaded), first);
  EXPECT_LT(first.size(), 10000U) << "a run is a line, not a line per register";
  Fru::hamImplsDelAll();
}

// A save is written a slice per turn while the loop has time to spare, and refused when its text
// grows past what a description may be.
TEST(SaveJob, ASaveIsWrittenInSlicesAndRefusedWhenTooLargeToLoad) {
  Kel::VirtualTime time;
  const PlatformDescription description = velaclockd::parsePlatformDescription(
      velaclockd::defaultPlatformDescription, "default", nullptr);
  Installed system(description, "job");
  const auto sources = Kel::dynamicPtrCast<Hardware::Strobe::SourceCliConfigDir>(
      system.database->storedEntity("hardware/strobe/source/cliConfig/FixedSystem"));
  for (int i = 0; i < 5000; ++i)
    sources->cliConfigIs("source" + std::to_string(i))->hasAntennaIs(true);

  ReplyCollector connection;
  connection.replyLater(
      std::make_unique<velaclockd::SaveJob>(connection, *system.database, description));
  for (int turn = 0; turn < 2; ++turn) Kel::ActivityFacility::manager().turn(false);
  EXPECT_TRUE(connection.reply.empty()) << "more than a slice's worth is not written in one";
  time.settle();
  EXPECT_EQ(nlohmann::json::parse(connection.reply)["description"],
            velaclockd::savedDescription(*system.database, description));

  ReplyCollector tooLarge;
  tooLarge.replyLater(
      std::make_unique<velaclockd::SaveJob>(tooLarge, *system.database, description, 100 * 1024));
  time.settle();
  const auto refusal = nlohmann::json::parse(tooLarge.reply);
  EXPECT_EQ(refusal["ok"], false);
  EXPECT_NE(refusal["error"].get<std::string>().find("would not load it back"), std::string::npos);
  Fru::hamImplsDelAll();
}
