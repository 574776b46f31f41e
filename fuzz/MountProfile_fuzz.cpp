// The mount profile reader on any text: a profile, or a status that says it is malformed with a
// message; nothing may come out of it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "Corral/MountProfile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto result = Corral::parseMountProfile(text, "fuzz.yaml", "Fuzz");
  // Success and a message never come together, nor failure without one.
  if ((result.status == Corral::mountSuccess_) != result.error.empty()) std::abort();
  return 0;
}
