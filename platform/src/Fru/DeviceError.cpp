#include "Fru/DeviceError.h"

#include <cerrno>
#include <cstring>

namespace Fru {

void throwDeviceError(const std::string& what, const std::string& cause, int error) {
  std::string message = what + ": " + cause + ": " + std::strerror(error);
  if (error == EACCES || error == EPERM) {
    message += " (velaclockd needs read and write access: see a udev rule or DeviceAllow=)";
  }
  throw DeviceError(message);
}

}  // namespace Fru
