#pragma once

#include <yaml-cpp/yaml.h>

#include <nlohmann/json.hpp>
#include <string>
#include <variant>
#include <vector>

#include "Fru/DeviceError.h"
#include "Fru/GpioLine.h"
#include "Fru/HamImpl.h"
#include "Fru/MmioWindow.h"
#include "Fru/OutputLine.h"
#include "Fru/Pca9554Line.h"
#include "Fru/SmbusDevice.h"
#include "Kel/String.h"

namespace velaclockd {

// A register bank of the hardware section on a real device (`backend: mmio` or `i2c`).
struct DeviceHamDescription {
  Kel::String name;
  std::variant<Fru::MmioWindowLocation, Fru::I2cDeviceLocation> backend;
};

// An output line of the hardware section on a real device (`backend: pca9554` or `gpio`).
struct DeviceLineDescription {
  Kel::String name;
  std::variant<Fru::Pca9554PinLocation, Fru::GpioLineLocation> backend;
};

// The `backend` of a bank or line entry: "sim" when absent. Throws DescriptionError when it is
// not a string.
std::string backendOf(const std::string& file, const YAML::Node& entry);

// Read a `backend: mmio|i2c` bank or a `backend: pca9554|gpio` line, every key checked. Throw
// DescriptionError naming the place and the expectation; `backendOf` must have said which.
DeviceHamDescription readDeviceHam(const std::string& file, const std::string& name,
                                   const YAML::Node& node);
DeviceLineDescription readDeviceLine(const std::string& file, const std::string& name,
                                     const YAML::Node& node);

// The entry as a description gives it, for `velaclockctl save`.
nlohmann::ordered_json deviceJson(const DeviceHamDescription& ham);
nlohmann::ordered_json deviceJson(const DeviceLineDescription& line);

// The opened devices of a description, by bank or line name.
struct OpenedDevices {
  std::vector<std::pair<Kel::String, Kel::Ptr<Fru::HamImpl>>> hams;
  std::vector<std::pair<Kel::String, Kel::Ptr<Fru::OutputLine>>> lines;
};

// Opens every device of the description. Throws Fru::DeviceError naming the first bank or line
// that cannot be used, and why.
OpenedDevices openDevices(const std::vector<DeviceHamDescription>& hams,
                          const std::vector<DeviceLineDescription>& lines, Fru::OpenMode mode);

}  // namespace velaclockd
