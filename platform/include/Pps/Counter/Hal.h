#pragma once

#include <cstdint>

#include "Kel/PtrInterface.h"
#include "Kel/TypeBuilder.h"

namespace Pps::Counter {

// Counts held by a PPS counter: milliseconds since the last edge, from 0 at each edge up to the
// resting value reached when no edge comes.
inline constexpr std::uint16_t saturatedCount = 1020;

// The hardware abstraction of one PPS counter.
class Hal : public Kel::PtrInterface {
 public:
  // True when the counter could be reached when the HAL was built; only a valid HAL is polled.
  bool valid() const noexcept { return valid_; }
  // Milliseconds since the last PPS edge: 0 at each edge, resting at 1020 while none comes. A
  // value above 1020 is a fault of the counter.
  virtual std::uint16_t ppsCount() = 0;
  // True when the count follows the process's simulated pulse (SimPulse), which an operator may
  // break on purpose; false for a counter of real hardware.
  virtual bool followsSimPulse() const = 0;

  static const Kel::TypeInfo& typeInfo();
  static void kelDescribe(Kel::TypeBuilder<Hal>& builder);
  const Kel::TypeInfo& fwkType() const override;

 protected:
  bool valid_ = false;
};

}  // namespace Pps::Counter
