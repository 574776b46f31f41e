#include "Fru/I2cRegisterDevice.h"

#include "Fru/Ham.h"

namespace Fru {

namespace {
// SMBus commands are 8 bits: a register beyond them is outside the device.
constexpr std::uint32_t commandCount = 0x100;
}  // namespace

I2cRegisterDevice::I2cRegisterDevice(const Kel::String& name, const I2cDeviceLocation& location)
    : device_("register bank " + name, location) {}

AccessStatus I2cRegisterDevice::read8(std::uint32_t address, std::uint8_t& data) {
  if (address >= commandCount) return AccessStatus::badAddress;
  return device_.readByte(static_cast<std::uint8_t>(address), data);
}

AccessStatus I2cRegisterDevice::write8(std::uint32_t address, std::uint8_t value) {
  if (address >= commandCount) return AccessStatus::badAddress;
  return device_.writeByte(static_cast<std::uint8_t>(address), value);
}

AccessStatus I2cRegisterDevice::read16(std::uint32_t address, std::uint16_t& data) {
  if (address >= commandCount) return AccessStatus::badAddress;
  return device_.readWord(static_cast<std::uint8_t>(address), data);
}

Kel::Ptr<I2cRegisterDevice> openI2cRegisterDevice(const Kel::String& name,
                                                  const I2cDeviceLocation& location) {
  auto bank = Kel::makePtr<I2cRegisterDevice>(name, location);
  bank->device().probe();
  return bank;
}

void I2cRegisterDevice::hamIs(const Kel::Ptr<Ham>& ham) {
  ham_ = ham;
}

std::uint32_t I2cRegisterDevice::registerCount() const {
  return commandCount;
}

}  // namespace Fru
