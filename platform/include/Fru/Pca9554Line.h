#pragma once

#include "Fru/OutputLine.h"
#include "Fru/SmbusDevice.h"
#include "Kel/String.h"

namespace Fru {

// A pin (0 to 7) of an expander.
struct Pca9554PinLocation {
  I2cDeviceLocation device{};
  unsigned pin = 0;
  bool operator==(const Pca9554PinLocation&) const = default;
};

// One pin of an NXP PCA9554-style 8-bit I/O expander on SMBus, driven as an output: the pin's bit
// of the output port is set (asserted) or cleared, then its bit of the configuration register is
// cleared to make it an output. Other pins keep their bits; the polarity register (which only
// inverts inputs) is left alone. Each write is read back.
class Pca9554Line : public OutputLine {
 public:
  static constexpr std::uint8_t outputPort = 1;
  static constexpr std::uint8_t configuration = 3;

  Pca9554Line(const Kel::String& name, const Pca9554PinLocation& location);
  [[nodiscard]] LineDrive assertedIs(bool asserted) override;
  AccessFailures accessFailures() const override { return device_.failures(); }
  SmbusDevice& device() { return device_; }

 private:
  // Sets the bits under `mask` of `reg` to `bits`, and checks that they read back so.
  LineDrive bitsIs(std::uint8_t reg, std::uint8_t mask, std::uint8_t bits);

  SmbusDevice device_;
  std::uint8_t mask_;
};

// The line `name` on the expander of `location`, found answering. Throws DeviceError.
Kel::Ptr<Pca9554Line> openPca9554Line(const Kel::String& name, const Pca9554PinLocation& location);

}  // namespace Fru
