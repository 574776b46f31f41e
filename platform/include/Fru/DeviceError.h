#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace Fru {

// A register bank or output line whose device cannot be used: missing, absent at its address, too
// small for its window, or not ours to open. The message names the bank or line and the cause, for
// an operator to act on.
class DeviceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throws a DeviceError "<what>: <cause>: <strerror(error)>".
[[noreturn]] void throwDeviceError(const std::string& what, const std::string& cause, int error);

// How a backend is opened: to be used, or only to find out whether it could be (velaclockd
// --check), which changes nothing on the device.
enum class OpenMode : std::uint8_t {
  use = 0,    // may enable the device (a PCI function's memory decoding)
  probe = 1,  // opens and checks, writes nothing
};

}  // namespace Fru
