#include <gtest/gtest.h>

#include <yaml-cpp/yaml.h>
#include <utility>
#include <vector>

#include "Hardware/ClockMux.h"
#include "host/DescriptionError.h"
#include "host/DescriptionSave.h"
#include "host/DescriptionText.h"
#include "host/PlatformDescription.h"

using velaclockd::parsePlatformDescription;

namespace {

// The message with which `text` is refused, or "" when it loads.
std::string refusal(const std::string& text) {
  try {
    parsePlatformDescription(text, "d.yaml", nullptr);
  } catch (const velaclockd::DescriptionError& error) {
    return error.what();
  }
  return "";
}

// Each text is refused with a message that begins as given.
void expectRefused(const std::vector<std::pair<std::string, std::string>>& cases) {
  for (const auto& [text, message] : cases) {
    EXPECT_EQ(refusal(text).substr(0, message.size()), message) << text;
  }
}

const std::string muxes =
    "entities:\n  a/b:\n    type: Hardware::ClockMux::MuxConfigDir\n"
    "    muxConfig:\n";

}  // namespace

TEST(DescriptionLoader, TheTextIsCheckedBeforeAnythingIsBuilt) {
  const std::string utf8 = "expected UTF-8 text";
  const std::string empty = "the platform description is empty: expected a map with `entities`";
  expectRefused({
      {"entities:\n  a/\xff: {type: Kel::Dir}\n", "d.yaml:2:3: " + utf8},
      {muxes + "      m\xc0\xaf: {}\n", "d.yaml:5:7: " + utf8},
      {"entities:\n  s: {type: Kel::Dir, name: 'x\xed\xa0\x80'}\n", "d.yaml:2:29: " + utf8},
      {"hardware:\n  gpo:\n    L\xe2\x82: {asserted: true}\n", "d.yaml:3:5: " + utf8},
      // Nested aliases expand: a kilobyte of them made a million entities.
      {muxes + "      m: &m {}\n      n: [*m, *m]\n", "d.yaml:5:10: anchors (&name) are not"},
      {muxes + "      m: {controlRegister: *r}\n", "d.yaml:5:"},
      {"entities: " + std::string(5000, '['), "d.yaml:1:"},
      {"", "d.yaml: " + empty},
      {"# nothing but a comment\n\n", "d.yaml: " + empty},
      {"~\n", "d.yaml:1:1: " + empty},
      {"entities: {}\n#" + std::string(velaclockd::maxDescriptionBytes, '#'),
       "d.yaml: larger than the 4194304 bytes (4 MiB) a platform description may have"},
  });
  EXPECT_NE(refusal("entities: " + std::string(5000, '[')).find("nested too deeply"),
            std::string::npos);
  // A file is read no further than that, so a device that never ends is refused too.
  EXPECT_THROW(velaclockd::readPlatformDescription("/dev/zero"), velaclockd::DescriptionError);
  for (const char* unreadable : {"/nonexistent/d.yaml", "/"}) {
    try {
      velaclockd::readPlatformDescription(unreadable);
      ADD_FAILURE() << unreadable << " was read";
    } catch (const velaclockd::DescriptionError& error) {
      EXPECT_EQ(error.what(), std::string(unreadable) + ": cannot read the platform description");
    }
  }

  const auto loaded = parsePlatformDescription(
      "entities:\n  a/\xc3\xbc: {type: Hardware::ClockMux::MuxStatus, sourceSelect: \xe2\x82\xac}",
      "d.yaml", nullptr);
  ASSERT_EQ(loaded.entities.size(), 1u);
  const auto status = Kel::dynamicPtrCast<Hardware::ClockMux::MuxStatus>(loaded.entities[0].second);
  EXPECT_EQ(status->sourceSelect(), "\xe2\x82\xac");
}

TEST(DescriptionLoader, RegisterBanksAreBoundedAndNamesStayInTheirDirectory) {
  EXPECT_EQ(refusal("hardware:\n  hams:\n    H: {registers: 1048576}\n"), "");
  for (const std::string name : {"../../x", "/abs/x", ".hidden", "..", "a/b", "x y", ""}) {
    expectRefused({
        {"hardware:\n  hams:\n    \"" + name + "\": {persistent: true}\n",
         "d.yaml:3:5: Ham name `" + name +
             "`: expected letters, digits, '_', '.' and '-', not starting with '.'"},
        {"hardware:\n  gpo:\n    \"" + name + "\": {asserted: true}\n",
         "d.yaml:3:5: line name `" + name + "`"},
    });
  }
  // Each class of character at both of its ends.
  EXPECT_EQ(refusal("hardware:\n  hams:\n    Intel-Gpio_Ham.0-azAZ09: {persistent: true}\n"), "");

  // Register values as runs, as a save writes them.
  const auto loaded = parsePlatformDescription(
      "hardware:\n  hams:\n    H: {registers: 256, values: [[0xfc, 2, 7], [0xfe, \"0809\"], "
      "[0xfc, \"01\"]]}\n",
      "d.yaml", nullptr);
  EXPECT_EQ(loaded.hams.at(0).values.at(0xfc), 0x01);  // a later run wins
  EXPECT_EQ(loaded.hams.at(0).values.at(0xff), 0x09);
}

// Entities are checked against their types where they stand, through reflection alone; register
// banks are bounded and their values whole; each key of a real backend is checked.
TEST(DescriptionLoader, EachTextOfTheRefusalTableIsRefusedWithItsMessage) {
  const auto table =
      YAML::LoadFile(std::string(VELACLOCK_GOLDEN_DIR) + "/description/refused.yaml");
  ASSERT_GT(table.size(), 0u);
  for (const auto& row : table) {
    expectRefused({{row["text"].as<std::string>(), row["refusal"].as<std::string>()}});
  }
}

// Such fields load as given, as the registers work that way; each is told once, with its place.
TEST(DescriptionLoader, MuxFieldsBeyondTheRegisterOrTheMaskLoadWithAWarning) {
  const auto loaded =
      parsePlatformDescription(muxes +
                                   "      wide: {bitMask: 0x1F0, source: {a: {bitValue: 0x1A0}}}\n"
                                   "      narrow: {controlRegister: 0x32, bitMask: 0x0F,"
                                   " source: {in: {bitValue: 0x05}, out: {bitValue: 0x15}}}\n",
                               "d.yaml", nullptr);
  EXPECT_EQ(loaded.warnings,
            (std::vector<std::string>{
                "d.yaml: warning: a/b: mux narrow, source out: bitValue 0x15 has bits 0x10 "
                "outside bitMask 0xf; they are written too, which changes the bits of another mux "
                "sharing control register 0x32, and the read-back check of this source fails",
                "d.yaml: warning: a/b: mux wide: bitMask 0x1f0 is wider than the 8-bit control "
                "register; only 0xf0 is used",
                "d.yaml: warning: a/b: mux wide, source a: bitValue 0x1a0 is wider than the 8-bit "
                "control register; only 0xa0 is written",
            }));
  const auto dir = Kel::dynamicPtrCast<Hardware::ClockMux::MuxConfigDir>(loaded.entities[0].second);
  EXPECT_EQ(dir->muxConfig("narrow")->source("out")->bitValue(), 0x15u);
}

// Each form as given, and as `velaclockctl save` writes it back.
TEST(DescriptionLoader, RealBackendsLoadAsGivenAndSaveAsTheyLoad) {
  const std::string text =
      "hardware:\n  hams:\n"
      "    P: {backend: mmio, pci: \"1af4:1110\", bar: 2, offset: 0x1000, size: 0x100}\n"
      "    A: {backend: mmio, pciAddress: \"0000:03:00.0\", bar: 0, size: 8}\n"
      "    U: {backend: mmio, path: /dev/uio0, map: 1, size: 16}\n"
      "    C: {backend: i2c, busName: SMBus stub driver, address: 0x21}\n"
      "    S: {backend: sim, registers: 16}\n"
      "  gpo:\n"
      "    R: {backend: pca9554, bus: 3, address: 0x20, line: 7}\n"
      "    G: {backend: gpio, chip: gpiochip0, lineName: relay, activeLow: true}\n"
      "    N: {backend: gpio, chip: /dev/gpiochip1, line: 4}\n"
      "    V: {backend: sim, asserted: true}\n";
  const auto loaded = parsePlatformDescription(text, "d.yaml", nullptr);
  using Ham = std::variant<Fru::MmioWindowLocation, Fru::I2cDeviceLocation>;
  using Line = std::variant<Fru::Pca9554PinLocation, Fru::GpioLineLocation>;
  const std::vector<std::pair<std::string, Ham>> hams{
      {"P", Fru::MmioWindowLocation{.pci = "1af4:1110", .bar = 2, .offset = 0x1000, .size = 0x100}},
      {"A", Fru::MmioWindowLocation{.pciAddress = "0000:03:00.0", .bar = 0, .size = 8}},
      {"U", Fru::MmioWindowLocation{.path = "/dev/uio0", .map = 1, .size = 16}},
      {"C", Fru::I2cDeviceLocation{.busName = "SMBus stub driver", .address = 0x21}},
  };
  const std::vector<std::pair<std::string, Line>> lines{
      {"R", Fru::Pca9554PinLocation{{.bus = 3, .address = 0x20}, 7}},
      {"G", Fru::GpioLineLocation{.chip = "gpiochip0", .lineName = "relay", .activeLow = true}},
      {"N", Fru::GpioLineLocation{.chip = "/dev/gpiochip1", .line = 4}},
  };
  const auto check = [&](const velaclockd::PlatformDescription& description, bool withSims) {
    ASSERT_EQ(description.deviceHams.size(), hams.size());
    for (std::size_t i = 0; i < hams.size(); ++i) {
      EXPECT_EQ(description.deviceHams[i].name, hams[i].first);
      EXPECT_TRUE(description.deviceHams[i].backend == hams[i].second) << hams[i].first;
    }
    ASSERT_EQ(description.deviceLines.size(), lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
      EXPECT_EQ(description.deviceLines[i].name, lines[i].first);
      EXPECT_TRUE(description.deviceLines[i].backend == lines[i].second) << lines[i].first;
    }
    if (!withSims) return;
    ASSERT_EQ(description.hams.size(), 1u);  // `backend: sim` is a simulated bank as ever
    EXPECT_EQ(description.hams[0].registers, 16u);
    ASSERT_EQ(description.gpos.size(), 1u);
    EXPECT_TRUE(description.gpos[0].asserted);
  };
  check(loaded, true);
  auto database = Kel::makePtr<Corral::EntityManager>("saved", std::filesystem::path());
  const std::string saved = velaclockd::savedDescription(*database, loaded);
  EXPECT_NO_FATAL_FAILURE(check(parsePlatformDescription(saved, "saved.yaml", nullptr), false))
      << saved;
}
