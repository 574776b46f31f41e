#include "Fru/PciFunction.h"

#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <vector>

#include "Fru/DeviceError.h"

namespace Fru {

namespace {
// The first line of a small sysfs file, or "" when it cannot be read.
std::string firstLine(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

// "0x1af4" as sysfs writes an id, compared with "1af4" as the description gives it.
bool sameId(const std::string& sysfsId, const std::string& wanted) {
  const std::string bare = sysfsId.rfind("0x", 0) == 0 ? sysfsId.substr(2) : sysfsId;
  return std::equal(bare.begin(), bare.end(), wanted.begin(), wanted.end(),
                    [](char a, char b) { return std::tolower(a) == std::tolower(b); });
}

std::filesystem::path functionWithId(const std::string& what, const std::string& vendorDevice,
                                     const std::filesystem::path& devices) {
  const auto colon = vendorDevice.find(':');
  const std::string vendor = vendorDevice.substr(0, colon);
  const std::string device = colon == std::string::npos ? "" : vendorDevice.substr(colon + 1);
  std::vector<std::filesystem::path> functions;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(devices, error)) {
    functions.push_back(entry.path());
  }
  std::sort(functions.begin(), functions.end());
  for (const auto& function : functions) {
    if (sameId(firstLine(function / "vendor"), vendor) &&
        sameId(firstLine(function / "device"), device)) {
      return function;
    }
  }
  throw DeviceError(
      fmt::format("{}: no PCI function {} in {}", what, vendorDevice, devices.string()));
}
}  // namespace

std::filesystem::path findPciFunction(const std::string& what, const std::string& vendorDevice,
                                      const std::string& address,
                                      const std::filesystem::path& sysfs) {
  const std::filesystem::path devices = sysfs / "bus/pci/devices";
  if (address.empty()) return functionWithId(what, vendorDevice, devices);
  std::filesystem::path function = devices / address;
  if (!std::filesystem::exists(function / "vendor")) {
    throw DeviceError(
        fmt::format("{}: no PCI function at {} in {}", what, address, devices.string()));
  }
  return function;
}

PciBar pciBar(const std::string& what, const std::filesystem::path& function, unsigned bar) {
  PciBar found{function, function / ("resource" + std::to_string(bar)), 0};
  std::error_code error;
  found.size = std::filesystem::file_size(found.resource, error);
  if (error || found.size == 0) {
    throw DeviceError(fmt::format("{}: PCI function {} has no memory BAR {}", what,
                                  function.filename().string(), bar));
  }
  return found;
}

void enablePciFunction(const std::string& what, const std::filesystem::path& function) {
  const std::filesystem::path enable = function / "enable";
  if (firstLine(enable) != "0") return;
  std::ofstream out(enable);
  out << "1\n";
  out.flush();
  if (!out) {
    throwDeviceError(what, "cannot enable PCI function " + function.filename().string(), errno);
  }
}

}  // namespace Fru
