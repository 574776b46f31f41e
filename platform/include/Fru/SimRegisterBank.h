#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "Fru/HamImpl.h"
#include "Kel/String.h"

namespace Fru {

// A device model answering 16-bit reads at one address of a register bank (a PPS counter).
class RegisterDevice : public Kel::PtrInterface {
 public:
  virtual std::uint16_t read16() = 0;
};

// A simulated bank of 8-bit registers at addresses 0 to size-1. Kept in memory, or in a file
// (mapped, so the contents survive a restart of the host as real registers would). Models stuck
// bits for read-back faults, 16-bit device models, and records accesses for tests.
class SimRegisterBank : public HamImpl {
 public:
  enum class Operation : std::uint8_t { read8, write8, read16 };
  struct Access {
    Operation operation;
    std::uint32_t address;
    std::uint16_t value;  // read or written
    bool operator==(const Access&) const = default;
  };

  // The most registers a bank may have (1 MiB): far more than any register window, and small
  // enough that making, mapping or dumping a bank stays cheap.
  static constexpr std::uint32_t maxRegisters = std::uint32_t{1} << 20;

  // Throws std::length_error when `size` is above maxRegisters, std::system_error when the file
  // cannot be created or mapped.
  SimRegisterBank(Kel::String name, std::uint32_t size, const std::filesystem::path& file = {});
  ~SimRegisterBank() override;

  [[nodiscard]] AccessStatus read8(std::uint32_t address, std::uint8_t& data) override;
  [[nodiscard]] AccessStatus write8(std::uint32_t address, std::uint8_t value) override;
  // Served by a device model only: plain registers are 8 bits wide.
  [[nodiscard]] AccessStatus read16(std::uint32_t address, std::uint16_t& data) override;
  void hamIs(const Kel::Ptr<Ham>& ham) override;
  std::uint32_t registerCount() const override { return size_; }

  const Kel::String& name() const { return name_; }
  std::uint32_t size() const { return size_; }
  const Kel::Ptr<Ham>& ham() const { return ham_; }
  const std::filesystem::path& file() const { return file_; }
  // A register's value as a read would see it, without recording an access.
  std::uint8_t peek(std::uint32_t address) const;
  // Every register as peek() sees it, read at once.
  std::vector<std::uint8_t> contents() const;
  // Sets a register without recording an access (stuck bits still win).
  void poke(std::uint32_t address, std::uint8_t value);

  // Bits under `mask` of the register at `address` always read as the same bits of `value`.
  void stuckBitsIs(std::uint32_t address, std::uint8_t mask, std::uint8_t value);
  void deviceIs(std::uint32_t address, const Kel::Ptr<RegisterDevice>& device);
  // The device model at `address`, or null.
  Kel::Ptr<RegisterDevice> device(std::uint32_t address) const;

  void recordingIs(bool recording) { recording_ = recording; }
  const std::vector<Access>& accesses() const { return accesses_; }
  void accessesDelAll() { accesses_.clear(); }

 private:
  struct StuckBits {
    std::uint8_t mask;
    std::uint8_t value;
  };
  void record(Operation operation, std::uint32_t address, std::uint16_t value);

  Kel::String name_;
  std::uint32_t size_;
  std::filesystem::path file_;
  std::uint8_t* registers_ = nullptr;
  std::vector<std::uint8_t> memory_;
  std::map<std::uint32_t, StuckBits> stuck_;
  std::map<std::uint32_t, Kel::Ptr<RegisterDevice>> devices_;
  Kel::Ptr<Ham> ham_;
  bool recording_ = false;
  std::vector<Access> accesses_;
};

}  // namespace Fru
