#include "host/DeviceDescription.h"

#include <fmt/format.h>

#include <functional>
#include <map>
#include <regex>
#include <set>

#include "Fru/I2cRegisterDevice.h"
#include "host/DescriptionReading.h"

namespace velaclockd {

namespace {

// The keys of one backend: each reads its value into the entry's location.
template <class Location>
using Keys =
    std::map<std::string, std::function<void(const std::string& file, const YAML::Node& value,
                                             Location& location)>>;

template <class T>
T bounded(const std::string& file, const YAML::Node& value, const std::string& what, T low,
          T high) {
  const T number = scalar<T>(file, value, what);
  if (number < low || number > high) {
    descriptionError(
        file, value,
        fmt::format("{}: expected 0x{:x} to 0x{:x}, not 0x{:x}", what, low, high, number));
  }
  return number;
}

std::string matching(const std::string& file, const YAML::Node& value, const std::string& what,
                     const char* pattern, const char* expectation) {
  auto text = scalar<Kel::String>(file, value, what);
  if (!std::regex_match(text, std::regex(pattern))) {
    descriptionError(file, value,
                     fmt::format("{}: expected {}, not `{}`", what, expectation, text));
  }
  return text;
}

// Reads every key of `node` through `keys`, refusing others; returns the keys given.
template <class Location>
std::set<std::string> readKeys(const std::string& file, const YAML::Node& node,
                               const Keys<Location>& keys, Location& location) {
  std::set<std::string> given;
  forEachUnique(
      file, node, [&](const std::string& key, const YAML::Node& keyNode, const YAML::Node& value) {
        given.insert(key);
        if (key == "backend") return;
        const auto it = keys.find(key);
        if (it == keys.end()) {
          std::string known = "backend";
          for (const auto& [name, read] : keys) known += ", " + name;
          descriptionError(file, keyNode, fmt::format("unknown key `{}`: expected {}", key, known));
        }
        it->second(file, value, location);
      });
  return given;
}

// Exactly one of `choices` is given.
void requireOneOf(const std::string& file, const YAML::Node& node,
                  const std::set<std::string>& given, const std::vector<std::string>& choices) {
  std::string list;
  int count = 0;
  for (const std::string& choice : choices) {
    count += static_cast<int>(given.count(choice));
    list += (list.empty() ? "`" : " or `") + choice + "`";
  }
  if (count != 1) {
    descriptionError(file, node, fmt::format("expected exactly one of {}", list));
  }
}

void requireKey(const std::string& file, const YAML::Node& node, const std::set<std::string>& given,
                const std::string& key, const std::string& when) {
  if (!given.count(key)) descriptionError(file, node, "expected `" + key + "`" + when);
}

void refuseKey(const std::string& file, const YAML::Node& node, const std::set<std::string>& given,
               const std::string& key, const std::string& why) {
  if (given.count(key)) descriptionError(file, node, "`" + key + "` " + why);
}

// 0x00 to 0x07 and 0x78 to 0x7f are reserved I2C addresses (general call, CBUS, 10-bit, ...).
template <class Location>
void addI2cKeys(Keys<Location>& keys, Fru::I2cDeviceLocation Location::*device) {
  keys["bus"] = [device](const std::string& file, const YAML::Node& value, Location& location) {
    (location.*device).bus = scalar<unsigned>(file, value, "bus");
  };
  keys["busName"] = [device](const std::string& file, const YAML::Node& value, Location& location) {
    (location.*device).busName = matching(file, value, "busName", ".+", "the adapter's name");
  };
  keys["address"] = [device](const std::string& file, const YAML::Node& value, Location& location) {
    (location.*device).address =
        bounded<std::uint8_t>(file, value, "address (7-bit, not reserved)", 0x08, 0x77);
  };
}

void checkI2c(const std::string& file, const YAML::Node& node, const std::set<std::string>& given) {
  requireOneOf(file, node, given, {"bus", "busName"});
  requireKey(file, node, given, "address", "");
}

Fru::MmioWindowLocation readMmio(const std::string& file, const YAML::Node& node) {
  using S = Fru::MmioWindowLocation;
  static const Keys<S> keys{
      {"pci",
       [](auto& f, auto& v, S& s) {
         s.pci = matching(f, v, "pci", "[0-9a-fA-F]{4}:[0-9a-fA-F]{4}",
                          "vendor:device in hex, as \"1af4:1110\"");
       }},
      {"pciAddress",
       [](auto& f, auto& v, S& s) {
         s.pciAddress =
             matching(f, v, "pciAddress", "[0-9a-fA-F]{4}:[0-9a-fA-F]{2}:[0-1][0-9a-fA-F]\\.[0-7]",
                      "domain:bus:device.function, as \"0000:03:00.0\"");
       }},
      {"bar", [](auto& f, auto& v, S& s) { s.bar = bounded<unsigned>(f, v, "bar", 0, 5); }},
      {"path",
       [](auto& f, auto& v, S& s) { s.path = matching(f, v, "path", "/.*", "an absolute path"); }},
      {"map", [](auto& f, auto& v, S& s) { s.map = bounded<unsigned>(f, v, "map", 0, 4); }},
      {"offset", [](auto& f, auto& v, S& s) { s.offset = scalar<std::uint64_t>(f, v, "offset"); }},
      {"size", [](auto& f, auto& v,
                  S& s) { s.size = bounded<std::uint32_t>(f, v, "size", 1, UINT32_MAX); }},
  };
  S location;
  const auto given = readKeys(file, node, keys, location);
  requireOneOf(file, node, given, {"pci", "pciAddress", "path"});
  if (given.count("path")) {
    refuseKey(file, node, given, "bar", "goes with `pci` or `pciAddress`, not with `path`");
  } else {
    requireKey(file, node, given, "bar", " with `pci` or `pciAddress`");
    refuseKey(file, node, given, "map", "goes with a UIO `path`");
  }
  requireKey(file, node, given, "size", "");
  return location;
}

Fru::I2cDeviceLocation readI2c(const std::string& file, const YAML::Node& node) {
  struct S {
    Fru::I2cDeviceLocation device;
  };
  static const Keys<S> keys = [] {
    Keys<S> all;
    addI2cKeys(all, &S::device);
    return all;
  }();
  S location;
  checkI2c(file, node, readKeys(file, node, keys, location));
  return location.device;
}

Fru::Pca9554PinLocation readPca9554(const std::string& file, const YAML::Node& node) {
  using S = Fru::Pca9554PinLocation;
  static const Keys<S> keys = [] {
    Keys<S> all;
    addI2cKeys(all, &S::device);
    all["line"] = [](auto& f, auto& v, S& s) { s.pin = bounded<unsigned>(f, v, "line", 0, 7); };
    return all;
  }();
  S location;
  const auto given = readKeys(file, node, keys, location);
  checkI2c(file, node, given);
  requireKey(file, node, given, "line", "");
  return location;
}

Fru::GpioLineLocation readGpio(const std::string& file, const YAML::Node& node) {
  using S = Fru::GpioLineLocation;
  static const Keys<S> keys{
      {"chip",
       [](auto& f, auto& v, S& s) {
         s.chip = matching(f, v, "chip", ".+", "a chip's name, path, label or number");
       }},
      {"line", [](auto& f, auto& v, S& s) { s.line = scalar<unsigned>(f, v, "line"); }},
      {"lineName",
       [](auto& f, auto& v, S& s) { s.lineName = matching(f, v, "lineName", ".+", "a name"); }},
      {"activeLow", [](auto& f, auto& v, S& s) { s.activeLow = scalar<bool>(f, v, "activeLow"); }},
  };
  S location;
  const auto given = readKeys(file, node, keys, location);
  requireKey(file, node, given, "chip", "");
  requireOneOf(file, node, given, {"line", "lineName"});
  return location;
}

nlohmann::ordered_json i2cJson(const Fru::I2cDeviceLocation& location) {
  nlohmann::ordered_json json;
  if (location.bus) {
    json["bus"] = *location.bus;
  } else {
    json["busName"] = location.busName;
  }
  json["address"] = location.address;
  return json;
}

}  // namespace

std::string backendOf(const std::string& file, const YAML::Node& entry) {
  if (!entry.IsMap() || !entry["backend"]) return "sim";
  return scalar<Kel::String>(file, entry["backend"], "backend");
}

DeviceHamDescription readDeviceHam(const std::string& file, const std::string& name,
                                   const YAML::Node& node) {
  const std::string backend = backendOf(file, node);
  if (backend == "mmio") return {name, readMmio(file, node)};
  if (backend == "i2c") return {name, readI2c(file, node)};
  descriptionError(file, node["backend"],
                   "backend `" + backend + "`: expected sim, mmio or i2c for a register bank");
}

DeviceLineDescription readDeviceLine(const std::string& file, const std::string& name,
                                     const YAML::Node& node) {
  const std::string backend = backendOf(file, node);
  if (backend == "pca9554") return {name, readPca9554(file, node)};
  if (backend == "gpio") return {name, readGpio(file, node)};
  descriptionError(file, node["backend"],
                   "backend `" + backend + "`: expected sim, pca9554 or gpio for an output line");
}

nlohmann::ordered_json deviceJson(const DeviceHamDescription& ham) {
  if (const auto* i2c = std::get_if<Fru::I2cDeviceLocation>(&ham.backend)) {
    nlohmann::ordered_json json{{"backend", "i2c"}};
    json.update(i2cJson(*i2c));
    return json;
  }
  const auto& mmio = std::get<Fru::MmioWindowLocation>(ham.backend);
  nlohmann::ordered_json json{{"backend", "mmio"}};
  if (!mmio.path.empty()) {
    json["path"] = mmio.path;
    json["map"] = mmio.map;
  } else {
    json[mmio.pci.empty() ? "pciAddress" : "pci"] = mmio.pci.empty() ? mmio.pciAddress : mmio.pci;
    json["bar"] = mmio.bar;
  }
  json["offset"] = mmio.offset;
  json["size"] = mmio.size;
  return json;
}

nlohmann::ordered_json deviceJson(const DeviceLineDescription& line) {
  if (const auto* pca = std::get_if<Fru::Pca9554PinLocation>(&line.backend)) {
    nlohmann::ordered_json json{{"backend", "pca9554"}};
    json.update(i2cJson(pca->device));
    json["line"] = pca->pin;
    return json;
  }
  const auto& gpio = std::get<Fru::GpioLineLocation>(line.backend);
  nlohmann::ordered_json json{{"backend", "gpio"}, {"chip", gpio.chip}};
  if (gpio.lineName.empty()) {
    json["line"] = gpio.line.value_or(0);
  } else {
    json["lineName"] = gpio.lineName;
  }
  json["activeLow"] = gpio.activeLow;
  return json;
}

OpenedDevices openDevices(const std::vector<DeviceHamDescription>& hams,
                          const std::vector<DeviceLineDescription>& lines, Fru::OpenMode mode) {
  OpenedDevices opened;
  for (const DeviceHamDescription& ham : hams) {
    if (const auto* mmio = std::get_if<Fru::MmioWindowLocation>(&ham.backend)) {
      opened.hams.emplace_back(ham.name, Fru::openMmioWindow(ham.name, *mmio, mode));
    } else {
      opened.hams.emplace_back(
          ham.name,
          Fru::openI2cRegisterDevice(ham.name, std::get<Fru::I2cDeviceLocation>(ham.backend)));
    }
  }
  for (const DeviceLineDescription& line : lines) {
    if (const auto* pca = std::get_if<Fru::Pca9554PinLocation>(&line.backend)) {
      opened.lines.emplace_back(line.name, Fru::openPca9554Line(line.name, *pca));
    } else {
      opened.lines.emplace_back(
          line.name,
          Kel::makePtr<Fru::GpioLine>(line.name, std::get<Fru::GpioLineLocation>(line.backend)));
    }
  }
  return opened;
}

}  // namespace velaclockd
