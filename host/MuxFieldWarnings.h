#pragma once

#include <string>
#include <vector>

#include "Hardware/ClockMux.h"

namespace velaclockd {

// What loads and works but is probably not meant, in the muxes of the directory at `path`: a
// bitMask or bitValue wider than the 8-bit control register (only the low 8 bits are used), and a
// bitValue with bits outside its mux's bitMask, which are written too and so change the bits of
// any other mux sharing the register. One message per finding, naming path, mux, source and
// values.
std::vector<std::string> muxFieldWarnings(const std::string& path,
                                          const Hardware::ClockMux::MuxConfigDir& directory);

}  // namespace velaclockd
