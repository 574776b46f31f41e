#include "host/PlatformDescription.h"

#include <fmt/format.h>
#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <fstream>
#include <set>

#include "Fru/Gpo.h"
#include "Fru/Hardware.h"
#include "Fru/SimRegisterBank.h"
#include "Pps/Counter/SimPulse.h"
#include "host/DescriptionError.h"
#include "host/DescriptionReading.h"
#include "host/DescriptionText.h"
#include "host/EntityYaml.h"
#include "host/MuxFieldWarnings.h"

namespace velaclockd {

namespace {

// A Ham's name becomes the name of its register file in the instance directory, so it must be one
// path component that is neither hidden nor a way out: "../x" or "/etc/x" would put the file
// anywhere the daemon may write. Line names follow the same rule.
void requireSafeName(const std::string& file, const YAML::Node& keyNode, const std::string& name,
                     const char* what) {
  const bool safe =
      !name.empty() && name.front() != '.' && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '.' || c == '-';
      });
  if (!safe) {
    descriptionError(file, keyNode,
                     fmt::format("{} `{}`: expected letters, digits, '_', '.' and '-', not "
                                 "starting with '.'",
                                 what, name));
  }
}

std::uint32_t registerCount(const std::string& file, const YAML::Node& value) {
  const auto registers = scalar<std::uint32_t>(file, value, "registers");
  if (registers > Fru::SimRegisterBank::maxRegisters) {
    descriptionError(file, value,
                     fmt::format("registers: expected at most {} ({} MiB) in a bank, not {}",
                                 Fru::SimRegisterBank::maxRegisters,
                                 Fru::SimRegisterBank::maxRegisters >> 20, registers));
  }
  return registers;
}

// A register's value and where it goes, as `values` gives them; checked against the bank's size
// once that is known.
struct RegisterValues {
  std::uint32_t first = 0;
  std::vector<std::uint8_t> bytes;
  YAML::Mark mark;
};

std::vector<std::uint8_t> hexBytes(const std::string& file, const YAML::Node& node) {
  const std::string& hex = node.Scalar();
  const auto digit = [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  };
  if (hex.empty() || hex.size() % 2 != 0 || !std::all_of(hex.begin(), hex.end(), digit)) {
    descriptionError(file, node, "expected register values as pairs of hex digits, e.g. \"0a1b\"");
  }
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

// One run of `values`: [address, count, value] or [address, "hex bytes"].
RegisterValues registerRun(const std::string& file, const YAML::Node& run) {
  const char* expected = "expected a run [address, count, value] or [address, \"hex bytes\"]";
  if (!run.IsSequence() || run.size() < 2 || run.size() > 3) descriptionError(file, run, expected);
  RegisterValues values{scalar<std::uint32_t>(file, run[0], "register address"), {}, run.Mark()};
  if (run.size() == 2) {
    if (!run[1].IsScalar() || run[1].Tag() != "!") descriptionError(file, run[1], expected);
    values.bytes = hexBytes(file, run[1]);
    return values;
  }
  const auto count = scalar<std::uint32_t>(file, run[1], "register count");
  if (count == 0 || count > Fru::SimRegisterBank::maxRegisters) {
    descriptionError(
        file, run[1],
        fmt::format("register count: expected 1 to {}", Fru::SimRegisterBank::maxRegisters));
  }
  values.bytes.assign(count, scalar<std::uint8_t>(file, run[2], "register value"));
  return values;
}

std::vector<RegisterValues> registerValues(const std::string& file, const YAML::Node& node) {
  std::vector<RegisterValues> all;
  if (node.IsSequence()) {
    for (const auto& run : node) all.push_back(registerRun(file, run));
    return all;
  }
  requireMap(file, node, "register values {address: value} or a list of runs");
  for (const auto& item : node) {
    all.push_back({scalar<std::uint32_t>(file, item.first, "register address"),
                   {scalar<std::uint8_t>(file, item.second, "register value")},
                   item.first.Mark()});
  }
  return all;
}

// The bank's initial contents, from the values in the order given (a later one wins).
std::vector<std::uint8_t> initialContents(const std::string& file, const HamDescription& ham,
                                          const std::vector<RegisterValues>& all) {
  std::vector<std::uint8_t> contents;
  for (const RegisterValues& values : all) {
    if (values.first >= ham.registers || values.bytes.size() > ham.registers - values.first) {
      descriptionError(file, values.mark,
                       fmt::format("register 0x{:x} of {} lies outside its {} registers",
                                   std::max<std::uint64_t>(values.first, ham.registers), ham.name,
                                   ham.registers));
    }
    contents.resize(ham.registers);
    std::copy(values.bytes.begin(), values.bytes.end(), contents.begin() + values.first);
  }
  return contents;
}

HamDescription readHam(const std::string& file, const std::string& name, const YAML::Node& node) {
  requireMap(file, node, "a register bank {registers, persistent, values, stuckBits, ppsCounters}");
  HamDescription ham;
  ham.name = name;
  std::vector<RegisterValues> values;
  forEachUnique(
      file, node, [&](const std::string& key, const YAML::Node& keyNode, const YAML::Node& value) {
        if (key == "backend") {
          // `backend: sim`, said outright; any other backend is not read here.
        } else if (key == "registers") {
          ham.registers = registerCount(file, value);
        } else if (key == "persistent") {
          ham.persistent = scalar<bool>(file, value, "persistent");
        } else if (key == "values") {
          values = registerValues(file, value);
        } else if (key == "stuckBits") {
          requireMap(file, value, "stuck bits {address: {mask, value}}");
          for (const auto& item : value) {
            requireMap(file, item.second, "{mask, value}");
            ham.stuckBits[scalar<std::uint32_t>(file, item.first, "register address")] = {
                scalar<std::uint8_t>(file, child(file, item.second, "mask"), "mask"),
                scalar<std::uint8_t>(file, child(file, item.second, "value"), "value")};
          }
        } else if (key == "ppsCounters") {
          if (!value.IsSequence()) descriptionError(file, value, "expected a list of addresses");
          for (const auto& address : value) {
            ham.ppsCounters.push_back(scalar<std::uint32_t>(file, address, "counter address"));
          }
        } else {
          descriptionError(
              file, keyNode,
              "unknown key `" + key +
                  "`: expected backend, registers, persistent, values, stuckBits or ppsCounters");
        }
      });
  ham.values = initialContents(file, ham, values);
  return ham;
}

void readHardware(const std::string& file, const YAML::Node& node, PlatformDescription& out) {
  requireMap(file, node, "a hardware section {hams, gpo}");
  forEachUnique(
      file, node, [&](const std::string& key, const YAML::Node& keyNode, const YAML::Node& value) {
        if (key == "hams") {
          requireMap(file, value, "register banks by Ham name");
          forEachUnique(
              file, value,
              [&](const std::string& name, const YAML::Node& nameNode, const YAML::Node& ham) {
                requireSafeName(file, nameNode, name, "Ham name");
                if (backendOf(file, ham) == "sim") {
                  out.hams.push_back(readHam(file, name, ham));
                } else {
                  out.deviceHams.push_back(readDeviceHam(file, name, ham));
                }
              });
        } else if (key == "gpo") {
          requireMap(file, value, "output lines by name");
          forEachUnique(
              file, value,
              [&](const std::string& name, const YAML::Node& nameNode, const YAML::Node& line) {
                requireSafeName(file, nameNode, name, "line name");
                if (backendOf(file, line) != "sim") {
                  out.deviceLines.push_back(readDeviceLine(file, name, line));
                  return;
                }
                requireMap(file, line, "a line {asserted}");
                out.gpos.push_back(
                    {name, scalar<bool>(file, child(file, line, "asserted"), "asserted")});
              });
        } else {
          descriptionError(file, keyNode, "unknown key `" + key + "`: expected hams or gpo");
        }
      });
}

void readEntities(const std::string& file, const YAML::Node& node, PlatformDescription& out) {
  requireMap(file, node, "entities by state-database path");
  forEachUnique(file, node,
                [&](const std::string& path, const YAML::Node& keyNode, const YAML::Node& value) {
                  if (path.empty() || path.front() == '/' || path.back() == '/') {
                    descriptionError(file, keyNode, "expected a state-database path such as a/b/c");
                  }
                  const Kel::String name = path.substr(path.rfind('/') + 1);
                  if (value.IsMap() && !value["type"]) {
                    descriptionError(file, value, "entity at `" + path + "`: expected its `type`");
                  }
                  out.entities.emplace_back(
                      path, entityFromYaml(value, Kel::Entity::typeInfo(), name, false, file));
                });
}

void warnAboutMuxFields(const std::string& file, PlatformDescription& description) {
  for (const auto& [path, entity] : description.entities) {
    const auto muxes = Kel::dynamicPtrCast<const Hardware::ClockMux::MuxConfigDir>(entity);
    if (!muxes) continue;
    for (const std::string& warning : muxFieldWarnings(path, *muxes)) {
      description.warnings.push_back(fmt::format("{}: warning: {}", file, warning));
    }
  }
}

void requireContent(const std::string& file, const YAML::Node& root) {
  if (!root.IsNull()) return;
  const std::string what =
      "the platform description is empty: expected a map with `entities` "
      "(state-database paths and their entities) and `hardware` (register "
      "banks and output lines)";
  if (root.Mark().is_null()) throw DescriptionError(file + ": " + what);
  descriptionError(file, root, what);
}

}  // namespace

PlatformDescription parsePlatformDescription(const std::string& text, const std::string& file,
                                             std::FILE* warningsTo) {
  checkDescriptionText(text, file);
  PlatformDescription description;
  try {
    const YAML::Node root = YAML::Load(text);
    requireContent(file, root);
    requireMap(file, root, "a platform description {entities, hardware}");
    forEachUnique(file, root,
                  [&](const std::string& key, const YAML::Node& keyNode, const YAML::Node& value) {
                    if (key == "entities") {
                      readEntities(file, value, description);
                    } else if (key == "hardware") {
                      readHardware(file, value, description);
                    } else {
                      descriptionError(file, keyNode,
                                       "unknown key `" + key + "`: expected entities or hardware");
                    }
                  });
  } catch (const YAML::Exception& error) {
    descriptionError(file, error.mark, error.msg);
  }
  warnAboutMuxFields(file, description);
  for (const std::string& warning : description.warnings) {
    if (warningsTo) std::fprintf(warningsTo, "%s\n", warning.c_str());
  }
  return description;
}

PlatformDescription readPlatformDescription(const std::filesystem::path& path) {
  // One byte more than a description may have: a larger file, or a device that never ends, is
  // refused by its size without being read whole.
  std::string text(maxDescriptionBytes + 1, '\0');
  std::ifstream in(path, std::ios::binary);
  if (in) in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (in.bad() || (in.fail() && !in.eof())) {
    throw DescriptionError(path.string() + ": cannot read the platform description");
  }
  text.resize(static_cast<std::size_t>(in.gcount()));
  return parsePlatformDescription(text, path.string());
}

void install(const PlatformDescription& description, Corral::EntityManager& database,
             const std::filesystem::path& registerDirectory) {
  const OpenedDevices devices =
      openDevices(description.deviceHams, description.deviceLines, Fru::OpenMode::use);
  for (const auto& [name, impl] : devices.hams) Fru::hamImplIs(name, impl);
  for (const auto& [name, line] : devices.lines) Fru::outputLineIs(name, line);
  for (const HamDescription& ham : description.hams) {
    const auto file = ham.persistent ? registerDirectory / (ham.name + ".regs") : "";
    const bool fresh = file.empty() || !std::filesystem::exists(file);
    auto bank = Kel::makePtr<Fru::SimRegisterBank>(ham.name, ham.registers, file);
    for (std::uint32_t address = 0; fresh && address < ham.values.size(); ++address) {
      if (ham.values[address] != 0) bank->poke(address, ham.values[address]);
    }
    for (const auto& [address, bits] : ham.stuckBits) {
      bank->stuckBitsIs(address, bits.first, bits.second);
    }
    for (const std::uint32_t address : ham.ppsCounters) {
      bank->deviceIs(address, Kel::makePtr<Pps::Counter::SimCounterDevice>());
    }
    Fru::hamImplIs(ham.name, bank);
  }
  for (const GpoDescription& gpo : description.gpos) Fru::gpoLine(gpo.name).asserted = gpo.asserted;
  for (const auto& [path, entity] : description.entities) database.entityIs(path, entity);
}

}  // namespace velaclockd
