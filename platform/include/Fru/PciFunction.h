#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace Fru {

// A memory BAR of a PCI function, as sysfs shows it.
struct PciBar {
  std::filesystem::path function;  // /sys/bus/pci/devices/<address>
  std::filesystem::path resource;  // its resource<N> file, which maps the BAR
  std::uint64_t size = 0;          // of the BAR
};

// The sysfs directory of the PCI function at `address` ("0000:03:00.0") when it is not empty,
// else of the first function (in address order) whose "vendor:device" is `vendorDevice`. Throws
// DeviceError "<what>: ..." when there is none.
std::filesystem::path findPciFunction(const std::string& what, const std::string& vendorDevice,
                                      const std::string& address,
                                      const std::filesystem::path& sysfs);

// BAR `bar` of `function`. Throws DeviceError when the function has no such memory BAR.
PciBar pciBar(const std::string& what, const std::filesystem::path& function, unsigned bar);

// Turns on the function's memory decoding (its sysfs `enable`) when it is off: a BAR of a function
// that no driver enabled reads as all ones. Throws DeviceError when that is refused.
void enablePciFunction(const std::string& what, const std::filesystem::path& function);

}  // namespace Fru
