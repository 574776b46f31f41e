#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "Hardware/ClockMux.h"
#include "host/DescriptionError.h"
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

  const auto loaded = parsePlatformDescription(
      "entities:\n  a/\xc3\xbc: {type: Hardware::ClockMux::MuxStatus, sourceSelect: \xe2\x82\xac}",
      "d.yaml", nullptr);
  ASSERT_EQ(loaded.entities.size(), 1u);
  const auto status = Kel::dynamicPtrCast<Hardware::ClockMux::MuxStatus>(loaded.entities[0].second);
  EXPECT_EQ(status->sourceSelect(), "\xe2\x82\xac");
}

TEST(DescriptionLoader, RegisterBanksAreBoundedAndNamesStayInTheirDirectory) {
  EXPECT_EQ(refusal("hardware:\n  hams:\n    H: {registers: 1048576}\n"), "");
  expectRefused({{"hardware:\n  hams:\n    H: {registers: 1048577}\n",
                  "d.yaml:3:20: registers: expected at most 1048576 (1 MiB) in a bank, not "
                  "1048577"}});
  for (const std::string name : {"../../x", "/abs/x", ".hidden", "..", "a/b", "x y", ""}) {
    expectRefused({
        {"hardware:\n  hams:\n    \"" + name + "\": {persistent: true}\n",
         "d.yaml:3:5: Ham name `" + name +
             "`: expected letters, digits, '_', '.' and '-', not starting with '.'"},
        {"hardware:\n  gpo:\n    \"" + name + "\": {asserted: true}\n",
         "d.yaml:3:5: line name `" + name + "`"},
    });
  }
  EXPECT_EQ(refusal("hardware:\n  hams:\n    Intel-Gpio_Ham.0: {persistent: true}\n"), "");

  // Register values as runs, as a save writes them: each one inside the bank, and whole.
  const std::string bank = "hardware:\n  hams:\n    H: {registers: 256, values: ";
  const std::string run = "expected a run [address, count, value] or [address, \"hex bytes\"]";
  expectRefused({
      {bank + "[[0x10]]}\n", "d.yaml:3:34: " + run},
      {bank + "[[0x10, 12]]}\n", "d.yaml:3:41: " + run},  // a count without its value
      {bank + "[[0x10, \"0g\"]]}\n", "d.yaml:3:41: expected register values as pairs of hex"},
      {bank + "[[0x10, \"123\"]]}\n", "d.yaml:3:41: expected register values as pairs of hex"},
      {bank + "[[0x10, 0, 1]]}\n", "d.yaml:3:41: register count: expected 1 to 1048576"},
      {bank + "[[0xfe, 4, 1]]}\n", "d.yaml:3:34: register 0x100 of H lies outside its 256"},
      {bank + "{0x100: 1}}\n", "d.yaml:3:34: register 0x100 of H lies outside its 256"},
  });
  const auto loaded = parsePlatformDescription(
      bank + "[[0xfc, 2, 7], [0xfe, \"0809\"], [0xfc, \"01\"]]}\n", "d.yaml", nullptr);
  EXPECT_EQ(loaded.hams.at(0).values.at(0xfc), 0x01);  // a later run wins
  EXPECT_EQ(loaded.hams.at(0).values.at(0xff), 0x09);
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
