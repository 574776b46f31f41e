#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "Fru/DeviceError.h"
#include "Fru/HamImpl.h"
#include "Kel/String.h"

namespace Fru {

// Where a memory-mapped register window lies. Exactly one of pci, pciAddress and path names the
// device.
struct MmioWindowLocation {
  std::string pci{};         // "vendor:device" in hex ("1af4:1110"): the first such PCI function
  std::string pciAddress{};  // "domain:bus:device.function" ("0000:03:00.0")
  unsigned bar = 0;          // the PCI function's memory BAR, 0 to 5
  std::string path{};        // a UIO device (/dev/uioN) or any file that can be mapped
  unsigned map = 0;          // the UIO device's memory map
  std::uint64_t offset = 0;  // of the window in the BAR, map or file
  std::uint32_t size = 0;    // of the window: registers 0 to size-1
  bool operator==(const MmioWindowLocation&) const = default;
};

// A memory-mapped register window: each access is one volatile load or store of exactly the
// register's width, after a bounds check. Opened O_RDWR | O_SYNC and mapped shared, so that every
// access reaches the device.
class MmioWindow : public HamImpl {
 public:
  // Maps `size` bytes of `file` from byte `offset`, which the caller checked the device has.
  // Throws DeviceError naming `name`.
  MmioWindow(Kel::String name, const std::filesystem::path& file, std::uint64_t offset,
             std::uint32_t size);
  ~MmioWindow() override;
  MmioWindow(const MmioWindow&) = delete;
  MmioWindow& operator=(const MmioWindow&) = delete;

  [[nodiscard]] AccessStatus read8(std::uint32_t address, std::uint8_t& data) override;
  [[nodiscard]] AccessStatus write8(std::uint32_t address, std::uint8_t value) override;
  // One 16-bit load: two byte loads could straddle an update of a counter. Aligned only.
  [[nodiscard]] AccessStatus read16(std::uint32_t address, std::uint16_t& data) override;
  void hamIs(const Kel::Ptr<Ham>& ham) override;
  std::uint32_t registerCount() const override;

  const Kel::String& name() const { return name_; }
  std::uint32_t size() const { return size_; }

 private:
  Kel::String name_;
  std::uint32_t size_;
  void* mapping_ = nullptr;
  std::size_t mappingLength_ = 0;
  volatile std::uint8_t* registers_ = nullptr;
  Kel::Ptr<Ham> ham_;
};

// Finds the device of `location` (a PCI function's BAR through sysfs under `sysfs`, a UIO map, or
// the file), enables a PCI function's memory decoding when it is off (OpenMode::use only), and maps
// the window. Throws DeviceError naming the bank `name` and the cause.
Kel::Ptr<MmioWindow> openMmioWindow(const Kel::String& name, const MmioWindowLocation& location,
                                    OpenMode mode, const std::filesystem::path& sysfs = "/sys");

}  // namespace Fru
