#include <gtest/gtest.h>

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

// An entity is checked against its type where it stands, through reflection alone.
TEST(DescriptionLoader, EntitiesAreCheckedAgainstTheirTypesWhereTheyStand) {
  const std::string good = "entities:\n  a/b:\n    type: Hardware::ClockMux::MuxConfigDir\n";
  expectRefused({
      {good + "    muxConfig:\n      m: {bitMask: 0x3, speed: 9}\n",
       "d.yaml:5:25: Hardware::ClockMux::MuxConfig has no attribute or collection `speed`"},
      {good + "    muxConfig:\n      m: {bitMask: lots}\n",
       "d.yaml:5:20: attribute `bitMask` of Hardware::ClockMux::MuxConfig: expected an "
       "unsigned 32-bit number"},
      {good + "    muxConfig:\n      m: {muxAccessMethod: 256}\n",
       "d.yaml:5:28: attribute `muxAccessMethod`"},
      {good + "  a/b: {type: Hardware::ClockMux::MuxConfigDir}\n", "d.yaml:4:3: `a/b` given twice"},
      {good + "    muxConfig:\n      m: {}\n      m: {}\n", "d.yaml:6:7: entry `m` given twice"},
      {good + "    muxConfig:\n      m: {name: n}\n",
       "d.yaml:5:17: expected the entry's key `m` as its name, not `n`"},
      {"entities:\n  a/b: {type: Hardware::ClockMux::MuxConfig}\n  c/d: {bitMask: 1}\n",
       "d.yaml:3:8: entity at `c/d`: expected its `type`"},
      {"entities:\n  a/b:\n    type: Hardware::Clocking::PortCliConfigDir\n    allPortConfig:\n"
       "      p: {type: Hardware::ClockMux::Sink}\n",
       "d.yaml:5:17: expected an entity of type Hardware::Clocking::PortConfig"},
      {"clocks: {}\n", "d.yaml:1:1: unknown key `clocks`: expected entities or hardware"},
      {"entities:\n  a/b: {type: Hardware::NoSuchDir}\n",
       "d.yaml:2:15: unknown entity type `Hardware::NoSuchDir`"},
      {"hardware:\n  gpo:\n    L: {}\n", "d.yaml:3:8: expected `asserted`"},
  });
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

TEST(DescriptionLoader, EachKeyOfARealBackendIsChecked) {
  const std::string ham = "hardware:\n  hams:\n    H: ";
  const std::string line = "hardware:\n  gpo:\n    L: ";
  const std::string pci = "{backend: mmio, pci: \"1af4:1110\", ";
  const std::string i2c = "{backend: i2c, ";
  const std::string pca = "{backend: pca9554, bus: 0, address: 0x20, ";
  const std::vector<std::pair<std::string, std::string>> cases{
      {ham + "{backend: fpga}", "backend `fpga`: expected sim, mmio or i2c for a register bank"},
      {ham + "{backend: [mmio]}", "backend: expected UTF-8 text"},
      {ham + "{backend: mmio, size: 16}",
       "expected exactly one of `pci` or `pciAddress` or `path`"},
      {ham + pci + "path: /x, bar: 2, size: 16}", "expected exactly one of `pci` or"},
      {ham + "{backend: mmio, pci: \"1af4\", bar: 2, size: 16}", "pci: expected vendor:device"},
      {ham + "{backend: mmio, pciAddress: \"0:3:0.0\", bar: 2, size: 16}",
       "pciAddress: expected domain:bus:device.function"},
      {ham + pci + "size: 16}", "expected `bar` with `pci` or `pciAddress`"},
      {ham + pci + "bar: 6, size: 16}", "bar: expected 0x0 to 0x5, not 0x6"},
      {ham + pci + "bar: 2, map: 1, size: 16}", "`map` goes with a UIO `path`"},
      {ham + pci + "bar: 2}", "expected `size`"},
      {ham + pci + "bar: 2, size: 0}", "size: expected 0x1 to 0xffffffff, not 0x0"},
      {ham + pci + "bar: 2, size: 16, offset: -1}", "offset: expected an unsigned 64-bit"},
      {ham + pci + "bar: 2, size: 16, registers: 4}",
       "unknown key `registers`: expected backend, bar, map, offset, path, pci, pciAddress, size"},
      {ham + "{backend: mmio, path: /dev/uio0, bar: 1, size: 16}", "`bar` goes with `pci` or"},
      {ham + "{backend: mmio, path: dev/uio0, size: 16}", "path: expected an absolute path"},
      {ham + "{backend: mmio, path: /dev/uio0, map: 5, size: 16}", "map: expected 0x0 to 0x4"},
      {ham + i2c + "address: 0x21}", "expected exactly one of `bus` or `busName`"},
      {ham + i2c + "bus: 0, busName: x, address: 0x21}", "expected exactly one of `bus` or"},
      {ham + i2c + "bus: 0}", "expected `address`"},
      {ham + i2c + "bus: x, address: 0x21}", "bus: expected an unsigned 32-bit number"},
      {ham + i2c + "busName: '', address: 0x21}", "busName: expected the adapter's name"},
      {ham + i2c + "bus: 0, address: 0x78}",
       "address (7-bit, not reserved): expected 0x8 to 0x77, not 0x78"},
      {ham + i2c + "bus: 0, address: 0x07}", "address (7-bit, not reserved): expected 0x8 to"},
      {ham + i2c + "bus: 0, address: 0x21, size: 4}",
       "unknown key `size`: expected backend, address, bus, busName"},
      {line + "{backend: mmio}",
       "backend `mmio`: expected sim, pca9554 or gpio for an output line"},
      {line + pca + "}", "expected `line`"},
      {line + pca + "line: 8}", "line: expected 0x0 to 0x7, not 0x8"},
      {line + pca + "line: 0, asserted: true}", "unknown key `asserted`"},
      {line + "{backend: pca9554, address: 0x20, line: 0}", "expected exactly one of `bus` or"},
      {line + "{backend: gpio, line: 3}", "expected `chip`"},
      {line + "{backend: gpio, chip: gpiochip0}", "expected exactly one of `line` or `lineName`"},
      {line + "{backend: gpio, chip: gpiochip0, line: 1, activeLow: maybe}",
       "activeLow: expected true or false"},
  };
  for (const auto& [text, message] : cases) {
    const std::string refused = refusal(text + "\n");
    EXPECT_EQ(refused.rfind("d.yaml:3:", 0), 0u) << text << "\n" << refused;
    EXPECT_NE(refused.find(message), std::string::npos) << text << "\n" << refused;
  }
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
