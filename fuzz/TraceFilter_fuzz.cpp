// The trace filter parser on any text, then one line traced under the filter it leaves in force.
// An accepted filter must be exactly the text given, and hold no NUL (which would cut a facility
// pattern short).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "Kel/Trace.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet = (Kel::traceSinkIs([](std::string_view) {}), true);
  static_cast<void>(quiet);
  const std::string_view filter(reinterpret_cast<const char*>(data), size);
  std::string error;
  if (Kel::traceFilterIs(filter, &error)) {
    if (Kel::traceFilter() != filter || filter.find('\0') != std::string_view::npos) std::abort();
  } else if (error.empty()) {
    std::abort();  // a refusal always says why
  }
  KEL_TRACE(Kel::traceHandle("VelaClockAgent"), static_cast<int>(size % 10))
      << "filter of " << size << " bytes: " << Kel::traceFilter();
  return 0;
}
