// The platform description loader on any text: it loads it or refuses it with a DescriptionError,
// and nothing else comes out. What it loads can be shown: every entity renders as JSON, which
// throws on text that is not UTF-8.
#include <cstddef>
#include <cstdint>
#include <string>

#include "host/DescriptionError.h"
#include "host/EntityJson.h"
#include "host/PlatformDescription.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    const auto description = velaclockd::parsePlatformDescription(text, "fuzz.yaml", nullptr);
    for (const auto& [path, entity] : description.entities) {
      static_cast<void>(velaclockd::entityToJson(*entity).dump());
    }
  } catch (const velaclockd::DescriptionError&) {
    // Refused, with its place and what was expected: what a bad description gets.
  }
  return 0;
}
