#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "Fru/AccessFailures.h"
#include "Fru/HamImpl.h"

namespace Fru {

// Where an SMBus device sits: its bus by number (/dev/i2c-N) or by its adapter's name in sysfs,
// which stays the same across boots, and its 7-bit address.
struct I2cDeviceLocation {
  std::optional<unsigned> bus{};
  std::string busName{};
  std::uint8_t address = 0;
  bool operator==(const I2cDeviceLocation&) const = default;
};

// The SMBus transfers of one device on i2c-dev, through libi2c. Each transfer opens the bus,
// selects the device and closes the bus again: an open bus pins its adapter's driver, which could
// then never go away and come back. A failed transfer is noDevice, with its errno kept.
class SmbusDevice {
 public:
  // `what` names the bank or line in messages and traces.
  SmbusDevice(std::string what, I2cDeviceLocation location, std::filesystem::path sysfs = "/sys",
              std::filesystem::path dev = "/dev");

  [[nodiscard]] AccessStatus readByte(std::uint8_t command, std::uint8_t& value);
  [[nodiscard]] AccessStatus writeByte(std::uint8_t command, std::uint8_t value);
  [[nodiscard]] AccessStatus readWord(std::uint8_t command, std::uint16_t& value);

  // Reads register 0, as a start does before anything else. Throws DeviceError naming the cause:
  // no such bus, no permission, nothing answering at the address.
  void probe();

  const std::string& what() const { return what_; }
  const I2cDeviceLocation& location() const { return location_; }
  // How many transfers failed, and the errno of the latest.
  const AccessFailures& failures() const { return failures_; }

 private:
  // The bus's device file, resolving a bus name through sysfs; empty when no adapter has it.
  std::filesystem::path busDevice();
  // Runs `transfer(fd)` (a libi2c call: a value, or a negative errno) on the selected device.
  template <class Transfer>
  int transferred(const char* operation, std::uint8_t command, Transfer transfer);
  // Opens the bus and selects the device; -errno on failure.
  int opened(std::string& failedStep);
  void failureIs(const char* operation, std::uint8_t command, const std::string& step, int error);

  std::string what_;
  I2cDeviceLocation location_;
  std::filesystem::path sysfs_;
  std::filesystem::path dev_;
  std::optional<unsigned> resolvedBus_;
  int lastError_ = 0;  // of the failure told last; 0 once the device answers again
  AccessFailures failures_;
};

// "i2c-0 0x21" or "bus `SMBus stub driver` 0x21", for messages.
std::string describe(const I2cDeviceLocation& location);

}  // namespace Fru
