#pragma once

#include <optional>
#include <string>

#include "Fru/DeviceError.h"
#include "Fru/OutputLine.h"
#include "Kel/String.h"

struct gpiod_chip;
struct gpiod_line;

namespace Fru {

// A line of a GPIO character device: its chip (name, path, label or number, as libgpiod looks it
// up), the line by offset or by name, and whether asserted means low.
struct GpioLineLocation {
  std::string chip{};
  std::optional<unsigned> line{};
  std::string lineName{};
  bool activeLow = false;
  bool operator==(const GpioLineLocation&) const = default;
};

// A GPIO line driven through libgpiod. It is requested as an output on the first drive, with the
// level asked for (so it never shows another), and held from then on.
class GpioLine : public OutputLine {
 public:
  // Throws DeviceError when the chip or the line is missing or another consumer holds the line.
  GpioLine(const Kel::String& name, const GpioLineLocation& location);
  ~GpioLine() override;
  GpioLine(const GpioLine&) = delete;
  GpioLine& operator=(const GpioLine&) = delete;

  [[nodiscard]] LineDrive assertedIs(bool asserted) override;
  AccessFailures accessFailures() const override { return failures_; }

 private:
  void failed(int error);

  std::string what_;
  GpioLineLocation location_;
  gpiod_chip* chip_ = nullptr;
  gpiod_line* line_ = nullptr;
  bool requested_ = false;
  AccessFailures failures_;
};

}  // namespace Fru
