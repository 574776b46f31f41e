#include "Fru/Pca9554Line.h"

namespace Fru {

Pca9554Line::Pca9554Line(const Kel::String& name, const Pca9554PinLocation& location)
    : device_("line " + name, location.device),
      mask_(static_cast<std::uint8_t>(1U << location.pin)) {}

LineDrive Pca9554Line::bitsIs(std::uint8_t reg, std::uint8_t mask, std::uint8_t bits) {
  std::uint8_t value = 0;
  if (device_.readByte(reg, value) != AccessStatus::ok) return LineDrive::accessFailed;
  const auto wanted = static_cast<std::uint8_t>((value & ~mask) | bits);
  if (device_.writeByte(reg, wanted) != AccessStatus::ok) return LineDrive::accessFailed;
  if (device_.readByte(reg, value) != AccessStatus::ok) return LineDrive::accessFailed;
  return (value & mask) == bits ? LineDrive::driven : LineDrive::readBackMismatch;
}

LineDrive Pca9554Line::assertedIs(bool asserted) {
  // The level first, then the direction: the pin never drives the old level as an output.
  const LineDrive level = bitsIs(outputPort, mask_, asserted ? mask_ : 0);
  if (level != LineDrive::driven) return level;
  return bitsIs(configuration, mask_, 0);
}

Kel::Ptr<Pca9554Line> openPca9554Line(const Kel::String& name, const Pca9554PinLocation& location) {
  auto line = Kel::makePtr<Pca9554Line>(name, location);
  line->device().probe();
  return line;
}

}  // namespace Fru
