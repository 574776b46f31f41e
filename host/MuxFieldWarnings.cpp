#include "host/MuxFieldWarnings.h"

#include <fmt/format.h>

#include <cstdint>

namespace velaclockd {

namespace {

constexpr std::uint32_t registerBits = 0xFF;  // the control register is 8 bits wide

void checkSource(const std::string& where, const Hardware::ClockMux::MuxConfig& mux,
                 const Hardware::ClockMux::SourceControl& source,
                 std::vector<std::string>& warnings) {
  const std::uint32_t value = source.bitValue();
  if (value & ~registerBits) {
    warnings.push_back(
        fmt::format("{}, source {}: bitValue 0x{:x} is wider than the 8-bit control "
                    "register; only 0x{:x} is written",
                    where, source.name(), value, value & registerBits));
  }
  const std::uint32_t outside = value & registerBits & ~(mux.bitMask() & registerBits);
  if (outside) {
    warnings.push_back(fmt::format(
        "{}, source {}: bitValue 0x{:x} has bits 0x{:x} outside bitMask 0x{:x}; they are written "
        "too, which changes the bits of another mux sharing control register 0x{:x}, and the "
        "read-back check of this source fails",
        where, source.name(), value & registerBits, outside, mux.bitMask() & registerBits,
        mux.controlRegister()));
  }
}

}  // namespace

std::vector<std::string> muxFieldWarnings(const std::string& path,
                                          const Hardware::ClockMux::MuxConfigDir& directory) {
  std::vector<std::string> warnings;
  for (const auto& mux : directory.muxConfig()) {
    const std::string where = fmt::format("{}: mux {}", path, mux->name());
    if (mux->bitMask() & ~registerBits) {
      warnings.push_back(
          fmt::format("{}: bitMask 0x{:x} is wider than the 8-bit control "
                      "register; only 0x{:x} is used",
                      where, mux->bitMask(), mux->bitMask() & registerBits));
    }
    for (const auto& source : mux->source()) checkSource(where, *mux, *source, warnings);
  }
  return warnings;
}

}  // namespace velaclockd
