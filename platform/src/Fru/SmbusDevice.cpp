#include "Fru/SmbusDevice.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

extern "C" {
#include <i2c/smbus.h>
#include <linux/i2c-dev.h>
}

#include <fmt/format.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "Fru/DeviceError.h"
#include "Kel/Trace.h"

namespace Fru {

namespace {
Kel::TraceHandle& trace() {
  static Kel::TraceHandle& handle = Kel::traceHandle("Fru");
  return handle;
}

// The number of the adapter called `name` (its sysfs `name`), or nullopt.
std::optional<unsigned> busNamed(const std::filesystem::path& sysfs, const std::string& name) {
  std::error_code error;
  for (const auto& entry :
       std::filesystem::directory_iterator(sysfs / "class/i2c-adapter", error)) {
    std::ifstream in(entry.path() / "name");
    std::string adapter;
    std::getline(in, adapter);
    const std::string file = entry.path().filename().string();
    if (adapter == name && file.rfind("i2c-", 0) == 0) {
      return static_cast<unsigned>(std::stoul(file.substr(4)));
    }
  }
  return std::nullopt;
}
}  // namespace

std::string describe(const I2cDeviceLocation& location) {
  if (location.bus) return fmt::format("i2c-{} 0x{:02x}", *location.bus, location.address);
  return fmt::format("bus `{}` 0x{:02x}", location.busName, location.address);
}

SmbusDevice::SmbusDevice(std::string what, I2cDeviceLocation location, std::filesystem::path sysfs,
                         std::filesystem::path dev)
    : what_(std::move(what)),
      location_(std::move(location)),
      sysfs_(std::move(sysfs)),
      dev_(std::move(dev)),
      resolvedBus_(location_.bus) {}

std::filesystem::path SmbusDevice::busDevice() {
  if (!resolvedBus_) resolvedBus_ = busNamed(sysfs_, location_.busName);
  if (!resolvedBus_) return {};
  return dev_ / ("i2c-" + std::to_string(*resolvedBus_));
}

int SmbusDevice::opened(std::string& failedStep) {
  const std::filesystem::path bus = busDevice();
  if (bus.empty()) {
    failedStep = "no I2C adapter is named `" + location_.busName + "`";
    return -ENODEV;
  }
  const int fd = open(bus.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    failedStep = "cannot open " + bus.string();
    return -errno;
  }
  if (ioctl(fd, I2C_SLAVE, static_cast<unsigned long>(location_.address)) < 0) {
    const int error = errno;
    close(fd);
    failedStep = error == EBUSY ? "a kernel driver holds the address" : "cannot select the address";
    return -error;
  }
  return fd;
}

template <class Transfer>
int SmbusDevice::transferred(const char* operation, std::uint8_t command, Transfer transfer) {
  std::string step;
  const int fd = opened(step);
  if (fd < 0) {
    failureIs(operation, command, step, -fd);
    return fd;
  }
  int result = transfer(fd);
  if (result < 0 && errno) result = -errno;
  close(fd);
  if (result < 0) {
    failureIs(operation, command, "nothing answers", -result);
  } else if (lastError_) {
    KEL_TRACE(trace(), 0) << what_ << " (" << describe(location_) << ") answers again";
    lastError_ = 0;
  }
  return result;
}

void SmbusDevice::failureIs(const char* operation, std::uint8_t command, const std::string& step,
                            int error) {
  ++failures_.count;
  failures_.lastErrno = error;
  // The adapter may come back under another number: look its name up again next time.
  if (!location_.bus) resolvedBus_.reset();
  // Told once per cause: a counter polled every millisecond would flood the trace.
  if (error == lastError_) return;
  lastError_ = error;
  KEL_TRACE(trace(), 0) << what_ << " (" << describe(location_) << "): " << operation << " of 0x"
                        << std::hex << unsigned{command} << std::dec << " failed: " << step << ": "
                        << std::strerror(error) << " (errno " << error << ")";
}

AccessStatus SmbusDevice::readByte(std::uint8_t command, std::uint8_t& value) {
  errno = 0;
  const int result =
      transferred("read8", command, [&](int fd) { return i2c_smbus_read_byte_data(fd, command); });
  if (result < 0) return AccessStatus::noDevice;
  value = static_cast<std::uint8_t>(result);
  return AccessStatus::ok;
}

AccessStatus SmbusDevice::writeByte(std::uint8_t command, std::uint8_t value) {
  errno = 0;
  const int result = transferred(
      "write8", command, [&](int fd) { return i2c_smbus_write_byte_data(fd, command, value); });
  return result < 0 ? AccessStatus::noDevice : AccessStatus::ok;
}

AccessStatus SmbusDevice::readWord(std::uint8_t command, std::uint16_t& value) {
  errno = 0;
  const int result =
      transferred("read16", command, [&](int fd) { return i2c_smbus_read_word_data(fd, command); });
  if (result < 0) return AccessStatus::noDevice;
  value = static_cast<std::uint16_t>(result);
  return AccessStatus::ok;
}

void SmbusDevice::probe() {
  const std::string where = what_ + " (" + describe(location_) + ")";
  std::string step;
  const int fd = opened(step);
  if (fd < 0) throwDeviceError(where, step, -fd);
  errno = 0;
  const int result = i2c_smbus_read_byte_data(fd, 0);
  const int error = result < 0 ? (errno ? errno : -result) : 0;
  close(fd);
  if (result < 0) throwDeviceError(where, "nothing answers at the address", error);
}

}  // namespace Fru
