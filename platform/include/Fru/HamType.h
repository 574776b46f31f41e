#pragma once

#include <cstdint>
#include <ostream>

namespace Fru {

// The kind of bus or controller a hardware access method (Ham) reaches registers through.
enum class HamType : std::uint8_t {
  none = 0,            // not described
  i2cBus = 1,          // an I2C bus adapter
  i2cDevice = 2,       // a device on an I2C bus
  pciDevice = 3,       // a PCI function's register space
  memoryMapped = 4,    // a memory-mapped register window
  gpioController = 5,  // a GPIO controller's register file (clock mux selects)
};

std::ostream& operator<<(std::ostream& out, HamType type);

}  // namespace Fru
