#include "Fru/SimRegisterBank.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

#include "Fru/Ham.h"

namespace Fru {

namespace {
[[noreturn]] void throwErrno(const std::filesystem::path& file, const char* what) {
  throw std::system_error(errno, std::generic_category(),
                          "register file " + file.string() + ": " + what);
}

std::uint32_t boundedSize(const Kel::String& name, std::uint32_t size) {
  if (size > SimRegisterBank::maxRegisters) {
    throw std::length_error(
        fmt::format("register bank {}: {} registers, more than the {} a bank "
                    "may have",
                    name, size, SimRegisterBank::maxRegisters));
  }
  return size;
}
}  // namespace

SimRegisterBank::SimRegisterBank(Kel::String name, std::uint32_t size,
                                 const std::filesystem::path& file)
    : name_(std::move(name)), size_(boundedSize(name_, size)), file_(file) {
  if (file.empty()) {
    memory_.assign(size, 0);
    registers_ = memory_.data();
    return;
  }
  const int fd = open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) throwErrno(file, "cannot open");
  // A shorter file (a new one, or one of a smaller bank) grows with zeroed registers.
  struct stat st {};
  if (fstat(fd, &st) < 0 || (st.st_size < off_t(size) && ftruncate(fd, size) < 0)) {
    const int error = errno;
    close(fd);
    errno = error;
    throwErrno(file, "cannot size");
  }
  void* map = size ? mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0) : nullptr;
  close(fd);
  if (map == MAP_FAILED) throwErrno(file, "cannot map");
  registers_ = static_cast<std::uint8_t*>(map);
}

SimRegisterBank::~SimRegisterBank() {
  if (!file_.empty() && registers_) munmap(registers_, size_);
}

std::vector<std::uint8_t> SimRegisterBank::contents() const {
  std::vector<std::uint8_t> all(registers_, registers_ + size_);
  for (const auto& [address, bits] : stuck_) {
    if (address >= size_) continue;
    all[address] =
        static_cast<std::uint8_t>((all[address] & ~bits.mask) | (bits.value & bits.mask));
  }
  return all;
}

std::uint8_t SimRegisterBank::peek(std::uint32_t address) const {
  if (address >= size_) return 0;
  std::uint8_t value = registers_[address];
  if (const auto it = stuck_.find(address); it != stuck_.end()) {
    value = std::uint8_t((value & ~it->second.mask) | (it->second.value & it->second.mask));
  }
  return value;
}

void SimRegisterBank::poke(std::uint32_t address, std::uint8_t value) {
  if (address < size_) registers_[address] = value;
}

AccessStatus SimRegisterBank::read8(std::uint32_t address, std::uint8_t& data) {
  if (address >= size_) return AccessStatus::badAddress;
  data = peek(address);
  record(Operation::read8, address, data);
  return AccessStatus::ok;
}

AccessStatus SimRegisterBank::write8(std::uint32_t address, std::uint8_t value) {
  if (address >= size_) return AccessStatus::badAddress;
  registers_[address] = value;
  record(Operation::write8, address, value);
  return AccessStatus::ok;
}

AccessStatus SimRegisterBank::read16(std::uint32_t address, std::uint16_t& data) {
  const auto it = devices_.find(address);
  if (it == devices_.end())
    return address >= size_ ? AccessStatus::badAddress : AccessStatus::noDevice;
  data = it->second->read16();
  record(Operation::read16, address, data);
  return AccessStatus::ok;
}

void SimRegisterBank::hamIs(const Kel::Ptr<Ham>& ham) {
  ham_ = ham;
}

void SimRegisterBank::stuckBitsIs(std::uint32_t address, std::uint8_t mask, std::uint8_t value) {
  if (mask) {
    stuck_[address] = StuckBits{mask, value};
  } else {
    stuck_.erase(address);
  }
}

void SimRegisterBank::deviceIs(std::uint32_t address, const Kel::Ptr<RegisterDevice>& device) {
  if (device) {
    devices_[address] = device;
  } else {
    devices_.erase(address);
  }
}

Kel::Ptr<RegisterDevice> SimRegisterBank::device(std::uint32_t address) const {
  const auto it = devices_.find(address);
  return it == devices_.end() ? nullptr : it->second;
}

void SimRegisterBank::record(Operation operation, std::uint32_t address, std::uint16_t value) {
  if (recording_) accesses_.push_back(Access{operation, address, value});
}

}  // namespace Fru
