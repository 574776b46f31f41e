#include "Fru/GpioLine.h"

#include <gpiod.h>

#include <cerrno>
#include <cstring>

#include "Kel/Trace.h"

namespace Fru {

namespace {
constexpr const char* consumer = "velaclockd";

std::string lineText(const GpioLineLocation& location) {
  return location.lineName.empty() ? "line " + std::to_string(location.line.value_or(0))
                                   : "line `" + location.lineName + "`";
}
}  // namespace

GpioLine::GpioLine(const Kel::String& name, const GpioLineLocation& location)
    : what_("line " + name), location_(location) {
  errno = 0;
  chip_ = gpiod_chip_open_lookup(location.chip.c_str());
  if (!chip_)
    throwDeviceError(what_, "no GPIO chip `" + location.chip + "`", errno ? errno : ENODEV);
  errno = 0;
  line_ = location.lineName.empty() ? gpiod_chip_get_line(chip_, location.line.value_or(0))
                                    : gpiod_chip_find_line(chip_, location.lineName.c_str());
  if (!line_) {
    const int error = errno ? errno : ENOENT;
    gpiod_chip_close(chip_);
    throwDeviceError(what_, "GPIO chip `" + location.chip + "` has no " + lineText(location),
                     error);
  }
  if (gpiod_line_is_used(line_)) {
    const char* holder = gpiod_line_consumer(line_);
    const std::string text = lineText(location) + " of GPIO chip `" + location.chip +
                             "` is held by " +
                             (holder ? std::string("`") + holder + "`" : "another consumer");
    gpiod_chip_close(chip_);
    throwDeviceError(what_, text, EBUSY);
  }
}

GpioLine::~GpioLine() {
  if (requested_) gpiod_line_release(line_);
  gpiod_chip_close(chip_);
}

void GpioLine::failed(int error) {
  ++failures_.count;
  failures_.lastErrno = error;
}

LineDrive GpioLine::assertedIs(bool asserted) {
  // libgpiod inverts an active-low line itself: the value is always "asserted or not".
  const int value = asserted ? 1 : 0;
  if (!requested_) {
    const int flags = location_.activeLow ? GPIOD_LINE_REQUEST_FLAG_ACTIVE_LOW : 0;
    if (gpiod_line_request_output_flags(line_, consumer, flags, value) < 0) {
      const int error = errno;
      failed(error);
      static Kel::TraceHandle& trace = Kel::traceHandle("Fru");
      KEL_TRACE(trace, 0) << what_ << ": cannot request " << lineText(location_) << " of `"
                          << location_.chip << "` as an output: " << std::strerror(error);
      return error == EBUSY ? LineDrive::refused : LineDrive::accessFailed;
    }
    requested_ = true;
    return LineDrive::driven;
  }
  if (gpiod_line_set_value(line_, value) < 0) {
    failed(errno);
    return LineDrive::accessFailed;
  }
  return gpiod_line_get_value(line_) == value ? LineDrive::driven : LineDrive::readBackMismatch;
}

}  // namespace Fru
