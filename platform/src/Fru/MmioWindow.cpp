#include "Fru/MmioWindow.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include <cerrno>
#include <fstream>

#include "Fru/Ham.h"
#include "Fru/PciFunction.h"

namespace Fru {

namespace {
std::string bankName(const Kel::String& name) {
  return "register bank " + name;
}

// The file to map, where the device's bytes start in it, and how many it has (0: unknown).
struct MappedDevice {
  std::filesystem::path file;
  std::uint64_t start = 0;
  std::uint64_t available = 0;
};

// Map N of a UIO device lies at N pages into /dev/uioX; its size is in sysfs.
MappedDevice uioMap(const std::string& what, const std::filesystem::path& device, unsigned map,
                    const std::filesystem::path& sysfs) {
  const auto sizeFile =
      sysfs / "class/uio" / device.filename() / "maps" / ("map" + std::to_string(map)) / "size";
  std::ifstream in(sizeFile);
  std::uint64_t size = 0;
  if (!(in >> std::hex >> size) || size == 0) {
    throw DeviceError(fmt::format("{}: {} has no memory map {} ({} cannot be read)", what,
                                  device.string(), map, sizeFile.string()));
  }
  return {device, std::uint64_t(map) * std::uint64_t(sysconf(_SC_PAGESIZE)), size};
}

MappedDevice mappedDevice(const std::string& what, const MmioWindowLocation& location,
                          OpenMode mode, const std::filesystem::path& sysfs) {
  if (location.path.empty()) {
    const auto function = findPciFunction(what, location.pci, location.pciAddress, sysfs);
    const PciBar bar = pciBar(what, function, location.bar);
    if (mode == OpenMode::use) enablePciFunction(what, function);
    return {bar.resource, 0, bar.size};
  }
  const std::filesystem::path path = location.path;
  if (path.parent_path() == "/dev" && path.filename().string().rfind("uio", 0) == 0) {
    return uioMap(what, path, location.map, sysfs);
  }
  struct stat st {};
  if (stat(path.c_str(), &st) < 0) throwDeviceError(what, "cannot open " + path.string(), errno);
  // A regular file (or a sysfs resource file) tells its size; a device such as /dev/mem does not.
  return {path, 0, S_ISREG(st.st_mode) ? std::uint64_t(st.st_size) : 0};
}
}  // namespace

MmioWindow::MmioWindow(Kel::String name, const std::filesystem::path& file, std::uint64_t offset,
                       std::uint32_t size)
    : name_(std::move(name)), size_(size) {
  const std::string what = bankName(name_);
  if (size == 0) throw DeviceError(what + ": a window of no registers");
  // O_SYNC: on /dev/mem and some drivers it asks for an uncached mapping of device memory.
  const int fd = open(file.c_str(), O_RDWR | O_SYNC | O_CLOEXEC);
  if (fd < 0) throwDeviceError(what, "cannot open " + file.string(), errno);
  const auto page = std::uint64_t(sysconf(_SC_PAGESIZE));
  const std::uint64_t start = offset - offset % page;
  mappingLength_ = std::size_t(offset - start + size);
  mapping_ = mmap(nullptr, mappingLength_, PROT_READ | PROT_WRITE, MAP_SHARED, fd, off_t(start));
  const int error = errno;
  close(fd);
  if (mapping_ == MAP_FAILED) {
    mapping_ = nullptr;
    throwDeviceError(what,
                     fmt::format("cannot map 0x{:x} bytes of {} at 0x{:x}", mappingLength_,
                                 file.string(), start),
                     error);
  }
  registers_ = static_cast<volatile std::uint8_t*>(mapping_) + (offset - start);
}

MmioWindow::~MmioWindow() {
  if (mapping_) munmap(mapping_, mappingLength_);
}

AccessStatus MmioWindow::read8(std::uint32_t address, std::uint8_t& data) {
  if (address >= size_) return AccessStatus::badAddress;
  data = registers_[address];
  return AccessStatus::ok;
}

AccessStatus MmioWindow::write8(std::uint32_t address, std::uint8_t value) {
  if (address >= size_) return AccessStatus::badAddress;
  registers_[address] = value;
  return AccessStatus::ok;
}

AccessStatus MmioWindow::read16(std::uint32_t address, std::uint16_t& data) {
  if (size_ < 2 || address > size_ - 2) return AccessStatus::badAddress;
  // Aligned in the device, which the window's offset may not be.
  const auto* where = registers_ + address;
  if (reinterpret_cast<std::uintptr_t>(where) % 2) return AccessStatus::badAddress;
  data = *reinterpret_cast<const volatile std::uint16_t*>(where);
  return AccessStatus::ok;
}

Kel::Ptr<MmioWindow> openMmioWindow(const Kel::String& name, const MmioWindowLocation& location,
                                    OpenMode mode, const std::filesystem::path& sysfs) {
  const std::string what = bankName(name);
  const MappedDevice device = mappedDevice(what, location, mode, sysfs);
  // Never map beyond what the device has: a BAR, a UIO map, a file.
  if (device.available &&
      (location.offset > device.available || location.size > device.available - location.offset)) {
    throw DeviceError(
        fmt::format("{}: the window 0x{:x} to 0x{:x} lies beyond the 0x{:x} bytes "
                    "of {}",
                    what, location.offset, location.offset + location.size, device.available,
                    device.file.string()));
  }
  if (location.offset > UINT64_MAX - device.start - location.size) {
    throw DeviceError(what + ": the window's offset lies beyond any device");
  }
  return Kel::makePtr<MmioWindow>(name, device.file, device.start + location.offset, location.size);
}

void MmioWindow::hamIs(const Kel::Ptr<Ham>& ham) {
  ham_ = ham;
}

std::uint32_t MmioWindow::registerCount() const {
  return size_;
}

}  // namespace Fru
