#pragma once

#include <cstdint>
#include <ostream>

namespace Clock::Mux {

// How a mux's control register is reached.
enum class AccessMethod : std::uint8_t {
  clockMuxHam = 0,   // through the shared clock mux Ham "IntelGpioHam"
  cpldRegister = 1,  // through a CPLD register window
  fpgaRegister = 2,  // through an FPGA register window
};

// Prints the method's name, or its number when it has none.
std::ostream& operator<<(std::ostream& out, AccessMethod method);

}  // namespace Clock::Mux
