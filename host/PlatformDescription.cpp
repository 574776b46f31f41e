#include "host/PlatformDescription.h"

#include <fmt/format.h>
#include <yaml-cpp/yaml.h>

#include <fstream>
#include <set>
#include <sstream>

#include "Fru/Gpo.h"
#include "Fru/Hardware.h"
#include "Fru/SimRegisterBank.h"
#include "Pps/Counter/SimPulse.h"
#include "host/DescriptionError.h"
#include "host/EntityYaml.h"

namespace velaclockd {

namespace {

// Reads one scalar of a value type through the same parsing as entity attributes.
template <class T>
T scalar(const std::string& file, const YAML::Node& node, const std::string& what) {
  std::optional<T> value;
  if (node.IsScalar()) value = Kel::ValueTraits<T>::fromText(node.Scalar());
  if (!value)
    descriptionError(file, node, what + ": expected " + Kel::ValueTraits<T>::expectation());
  return *value;
}

void requireMap(const std::string& file, const YAML::Node& node, const std::string& what) {
  if (!node.IsMap()) descriptionError(file, node, "expected " + what);
}

// The member `key` of `map`, which must be there.
YAML::Node child(const std::string& file, const YAML::Node& map, const char* key) {
  const YAML::Node value = map[key];
  if (!value) descriptionError(file, map, std::string("expected `") + key + "`");
  return value;
}

// Calls `handle(key, value)` for each entry of a map, refusing a key given twice.
template <class Handle>
void forEachUnique(const std::string& file, const YAML::Node& map, Handle handle) {
  std::set<std::string> seen;
  for (const auto& item : map) {
    const auto key = item.first.as<std::string>();
    if (!seen.insert(key).second) descriptionError(file, item.first, "`" + key + "` given twice");
    handle(key, item.first, item.second);
  }
}

HamDescription readHam(const std::string& file, const std::string& name, const YAML::Node& node) {
  requireMap(file, node, "a register bank {registers, persistent, values, stuckBits, ppsCounters}");
  HamDescription ham;
  ham.name = name;
  forEachUnique(
      file, node, [&](const std::string& key, const YAML::Node& keyNode, const YAML::Node& value) {
        if (key == "registers") {
          ham.registers = scalar<std::uint32_t>(file, value, "registers");
        } else if (key == "persistent") {
          ham.persistent = scalar<bool>(file, value, "persistent");
        } else if (key == "values") {
          requireMap(file, value, "register values {address: value}");
          for (const auto& item : value) {
            ham.values[scalar<std::uint32_t>(file, item.first, "register address")] =
                scalar<std::uint8_t>(file, item.second, "register value");
          }
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
                  "`: expected registers, persistent, values, stuckBits or ppsCounters");
        }
      });
  for (const auto& [address, value] : ham.values) {
    if (address >= ham.registers) {
      descriptionError(file, node,
                       fmt::format("register 0x{:x} of {} lies outside its {} registers", address,
                                   name, ham.registers));
    }
  }
  return ham;
}

void readHardware(const std::string& file, const YAML::Node& node, PlatformDescription& out) {
  requireMap(file, node, "a hardware section {hams, gpo}");
  forEachUnique(
      file, node, [&](const std::string& key, const YAML::Node& keyNode, const YAML::Node& value) {
        if (key == "hams") {
          requireMap(file, value, "register banks by Ham name");
          forEachUnique(file, value,
                        [&](const std::string& name, const YAML::Node&, const YAML::Node& ham) {
                          out.hams.push_back(readHam(file, name, ham));
                        });
        } else if (key == "gpo") {
          requireMap(file, value, "output lines by name");
          forEachUnique(
              file, value, [&](const std::string& name, const YAML::Node&, const YAML::Node& line) {
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

}  // namespace

PlatformDescription parsePlatformDescription(const std::string& text, const std::string& file) {
  PlatformDescription description;
  try {
    const YAML::Node root = YAML::Load(text);
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
  return description;
}

PlatformDescription readPlatformDescription(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::ostringstream text;
  if (!(in && text << in.rdbuf())) {
    throw DescriptionError(path.string() + ": cannot read the platform description");
  }
  return parsePlatformDescription(text.str(), path.string());
}

void install(const PlatformDescription& description, Corral::EntityManager& database,
             const std::filesystem::path& registerDirectory) {
  for (const HamDescription& ham : description.hams) {
    const auto file = ham.persistent ? registerDirectory / (ham.name + ".regs") : "";
    const bool fresh = file.empty() || !std::filesystem::exists(file);
    auto bank = Kel::makePtr<Fru::SimRegisterBank>(ham.name, ham.registers, file);
    if (fresh) {
      for (const auto& [address, value] : ham.values) bank->poke(address, value);
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
