#include <gtest/gtest.h>

#include <cstdio>
#include <utility>
#include <vector>

#include "Fru/SimRegisterBank.h"
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

// Each text is refused with a message that starts with its expected beginning.
void expectRefused(const std::vector<std::pair<std::string, std::string>>& cases) {
  for (const auto& [text, message] : cases) {
    EXPECT_EQ(refusal(text).substr(0, message.size()), message) << text;
  }
}

const std::string muxDirectory =
    "entities:\n  a/b:\n    type: Hardware::ClockMux::MuxConfigDir\n    muxConfig:\n";

}  // namespace

TEST(DescriptionLoader, TextThatIsNotUtf8IsRefusedWhereItStands) {
  expectRefused({
      {"entities:\n  a/\xff: {type: Kel::Dir}\n", "d.yaml:2:3: expected UTF-8 text"},
      {muxDirectory + "      m\xc0\xaf: {}\n", "d.yaml:5:7: expected UTF-8 text"},  // overlong
      {"entities:\n  s: {type: Hardware::ClockMux::MuxStatus, name: 'x\xed\xa0\x80'}\n",
       "d.yaml:2:50: expected UTF-8 text"},  // a surrogate
      {"entities:\n  s: {type: Hardware::ClockMux::MuxStatus, sourceSelect: "
       "\"\xf4\x90\x80\x80\"}\n",
       "d.yaml:2:58: expected UTF-8 text"},  // above U+10FFFF
      {"hardware:\n  gpo:\n    L\xe2\x82: {asserted: true}\n", "d.yaml:3:5: expected UTF-8 text"},
  });
  const auto loaded = parsePlatformDescription(
      "entities:\n  a/\xc3\xbc: {type: Hardware::ClockMux::MuxStatus, sourceSelect: "
      "\xe2\x82\xac}\n",
      "d.yaml", nullptr);
  ASSERT_EQ(loaded.entities.size(), 1u);
  const auto status = Kel::dynamicPtrCast<Hardware::ClockMux::MuxStatus>(loaded.entities[0].second);
  ASSERT_NE(status, nullptr);
  EXPECT_EQ(status->name(), "\xc3\xbc");
  EXPECT_EQ(status->sourceSelect(), "\xe2\x82\xac");
}

TEST(DescriptionLoader, AnchorsAliasesAndOversizedTextsAreRefusedBeforeAnythingIsBuilt) {
  // Each level names the one before ten times: nine levels would be a billion entries.
  std::string bomb = muxDirectory + "      m0: &l0 {controlRegister: 1}\n";
  for (int level = 1; level < 9; ++level) {
    bomb += "      m" + std::to_string(level) + ": &l" + std::to_string(level) + " [";
    for (int i = 0; i < 10; ++i) bomb += (i ? ", *l" : "*l") + std::to_string(level - 1);
    bomb += "]\n";
  }
  expectRefused({
      {bomb, "d.yaml:5:11: anchors (&name) are not allowed"},
      {muxDirectory + "      m: {controlRegister: *r}\n", "d.yaml:5:"},  // an alias alone
  });

  const std::string deep = "entities: " + std::string(5000, '[') + std::string(5000, ']');
  EXPECT_EQ(refusal(deep).find("d.yaml:1:"), 0u);
  EXPECT_NE(refusal(deep).find(": maps and lists nested too deeply"), std::string::npos);

  std::string text = "entities: {}\n#";
  text.resize(velaclockd::maxDescriptionBytes, '#');
  EXPECT_EQ(refusal(text), "");
  text += '#';
  EXPECT_EQ(refusal(text),
            "d.yaml: larger than the 4194304 bytes (4 MiB) a platform description "
            "may have");
  // A file is read no further than that: a device that never ends is refused by its size.
  try {
    velaclockd::readPlatformDescription("/dev/zero");
    ADD_FAILURE() << "/dev/zero loaded";
  } catch (const velaclockd::DescriptionError& error) {
    EXPECT_EQ(std::string(error.what()).find("/dev/zero: larger than"), 0u) << error.what();
  }
}

TEST(DescriptionLoader, RegisterBanksAreBoundedAndNamesStayInTheirDirectory) {
  const auto limit = std::to_string(Fru::SimRegisterBank::maxRegisters);
  EXPECT_EQ(refusal("hardware:\n  hams:\n    H: {registers: " + limit + "}\n"), "");
  expectRefused({
      {"hardware:\n  hams:\n    H: {registers: 4000000000}\n",
       "d.yaml:3:20: registers: expected at most 1048576 (1 MiB) in a bank, not 4000000000"},
      {"hardware:\n  hams:\n    H: {registers: " + std::to_string(std::stoul(limit) + 1) + "}\n",
       "d.yaml:3:20: registers: expected at most"},
  });
  for (const char* name : {"../../x", "/abs/x", ".hidden", "..", ".", "a/b", "x y", ""}) {
    const std::string quoted = std::string("\"") + name + "\"";
    expectRefused({
        {"hardware:\n  hams:\n    " + quoted + ": {persistent: true}\n",
         "d.yaml:3:5: Ham name `" + std::string(name) +
             "`: expected letters, digits, '_', '.' and '-', not starting with '.'"},
        {"hardware:\n  gpo:\n    " + quoted + ": {asserted: true}\n",
         "d.yaml:3:5: line name `" + std::string(name) + "`"},
    });
  }
  const auto loaded = parsePlatformDescription(
      "hardware:\n  hams:\n    Intel-Gpio_Ham.0: {persistent: true}\n", "d.yaml", nullptr);
  ASSERT_EQ(loaded.hams.size(), 1u);
  EXPECT_EQ(loaded.hams[0].name, "Intel-Gpio_Ham.0");
}

TEST(DescriptionLoader, AnEmptyDescriptionIsToldAsEmpty) {
  const std::string empty = "the platform description is empty: expected a map with `entities`";
  expectRefused({
      {"", "d.yaml: " + empty},
      {"# nothing but a comment\n\n", "d.yaml: " + empty},
      {"~\n", "d.yaml:1:1: " + empty},
  });
}

// Fields the register cannot hold, or that reach into a neighbour's bits, load as given: that is
// how the registers work. They are told, once each, with where they are and what they mean.
TEST(DescriptionLoader, MuxFieldsBeyondTheRegisterOrTheMaskLoadWithAWarning) {
  const std::string text = muxDirectory +
                           "      wide: {controlRegister: 0x31, bitMask: 0x1F0,"
                           " source: {a: {bitValue: 0x1A0}}}\n"
                           "      narrow: {controlRegister: 0x32, bitMask: 0x0F,"
                           " source: {in: {bitValue: 0x05}, out: {bitValue: 0x15}}}\n";
  std::FILE* stream = std::tmpfile();
  ASSERT_NE(stream, nullptr);
  const auto loaded = parsePlatformDescription(text, "d.yaml", stream);
  const std::vector<std::string> expected{
      "d.yaml: warning: a/b: mux narrow, source out: bitValue 0x15 has bits 0x10 outside bitMask "
      "0xf; they are written too, which changes the bits of another mux sharing control register "
      "0x32, and the read-back check of this source fails",
      "d.yaml: warning: a/b: mux wide: bitMask 0x1f0 is wider than the 8-bit control register; "
      "only 0xf0 is used",
      "d.yaml: warning: a/b: mux wide, source a: bitValue 0x1a0 is wider than the 8-bit control "
      "register; only 0xa0 is written",
  };
  EXPECT_EQ(loaded.warnings, expected);

  std::string written(4096, '\0');
  std::rewind(stream);
  written.resize(std::fread(written.data(), 1, written.size(), stream));
  std::fclose(stream);
  EXPECT_EQ(written, expected[0] + "\n" + expected[1] + "\n" + expected[2] + "\n");

  ASSERT_EQ(loaded.entities.size(), 1u);
  const auto dir = Kel::dynamicPtrCast<Hardware::ClockMux::MuxConfigDir>(loaded.entities[0].second);
  ASSERT_NE(dir, nullptr);
  EXPECT_EQ(dir->muxConfig("wide")->bitMask(), 0x1F0u);
  EXPECT_EQ(dir->muxConfig("narrow")->source("out")->bitValue(), 0x15u);
}
