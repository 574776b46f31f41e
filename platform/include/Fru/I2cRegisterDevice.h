#pragma once

#include "Fru/DeviceError.h"
#include "Fru/HamImpl.h"
#include "Fru/SmbusDevice.h"
#include "Kel/String.h"

namespace Fru {

// A bank of registers on an SMBus device: byte-data transfers for 8-bit registers, one word-data
// transfer for a 16-bit one (a counter is read whole). Register addresses are the 8-bit commands.
class I2cRegisterDevice : public HamImpl {
 public:
  I2cRegisterDevice(const Kel::String& name, const I2cDeviceLocation& location);

  [[nodiscard]] AccessStatus read8(std::uint32_t address, std::uint8_t& data) override;
  [[nodiscard]] AccessStatus write8(std::uint32_t address, std::uint8_t value) override;
  [[nodiscard]] AccessStatus read16(std::uint32_t address, std::uint16_t& data) override;
  void hamIs(const Kel::Ptr<Ham>& ham) override;
  std::uint32_t registerCount() const override;
  AccessFailures accessFailures() const override { return device_.failures(); }

  SmbusDevice& device() { return device_; }

 private:
  SmbusDevice device_;
  Kel::Ptr<Ham> ham_;
};

// The bank `name` on the device of `location`, found answering (OpenMode changes nothing here).
// Throws DeviceError.
Kel::Ptr<I2cRegisterDevice> openI2cRegisterDevice(const Kel::String& name,
                                                  const I2cDeviceLocation& location);

}  // namespace Fru
