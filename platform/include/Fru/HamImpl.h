#pragma once

#include <cstdint>
#include <ostream>

#include "Fru/AccessFailures.h"
#include "Kel/Ptr.h"
#include "Kel/PtrInterface.h"

namespace Fru {

class Ham;

// The outcome of one register cycle.
enum class AccessStatus : std::uint8_t {
  ok = 0,          // the cycle completed
  noDevice = 1,    // nothing answers at that address
  badAddress = 2,  // the address lies outside the register space
};

std::ostream& operator<<(std::ostream& out, AccessStatus status);

// Performs the register cycles of one Ham.
class HamImpl : public Kel::PtrInterface {
 public:
  // Every cycle can fail, and a failed read leaves `data` as it was: look at each result.

  // Reads the 8-bit register at `address` into `data`.
  [[nodiscard]] virtual AccessStatus read8(std::uint32_t address, std::uint8_t& data) = 0;
  // Writes the 8-bit register at `address`; a later read8 returns the written bits.
  [[nodiscard]] virtual AccessStatus write8(std::uint32_t address, std::uint8_t value) = 0;
  // Reads the 16-bit register (a counter, for example) at `address` into `data`.
  [[nodiscard]] virtual AccessStatus read16(std::uint32_t address, std::uint16_t& data) = 0;
  // Tells the implementation which Ham owns it.
  virtual void hamIs(const Kel::Ptr<Ham>& ham) = 0;
  // How many registers it has (addresses 0 to registerCount()-1), 0 when unknown.
  virtual std::uint32_t registerCount() const { return 0; }
  // The accesses that failed on a real device (none for memory that cannot fail).
  virtual AccessFailures accessFailures() const { return {}; }
};

}  // namespace Fru
