#pragma once

#include <cstdint>
#include <ostream>

#include "Fru/AccessFailures.h"
#include "Kel/Ptr.h"
#include "Kel/PtrInterface.h"
#include "Kel/String.h"

namespace Fru {

// What became of driving a line.
enum class LineDrive : std::uint8_t {
  driven = 0,            // the line holds the level
  accessFailed = 1,      // the device did not answer
  readBackMismatch = 2,  // the device answered, but does not hold the level written
  refused = 3,           // the line cannot be had (another consumer holds it)
};

std::ostream& operator<<(std::ostream& out, LineDrive drive);

// The driver of one real output line (an I/O expander's pin, a GPIO line). A line with no driver
// is simulated (Fru::gpoLine).
class OutputLine : public Kel::PtrInterface {
 public:
  // Drives the line asserted or de-asserted.
  [[nodiscard]] virtual LineDrive assertedIs(bool asserted) = 0;
  // The accesses of the line's device that failed.
  virtual AccessFailures accessFailures() const = 0;
};

}  // namespace Fru
