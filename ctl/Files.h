#pragma once

#include <filesystem>
#include <string>

namespace velaclockctl {

// Writes `text` to `path` whole or not at all: into a temporary file beside it, then renamed over
// it, so a reader (or a collector) never sees half a file. Throws std::runtime_error saying why.
void writeFileAtomically(const std::filesystem::path& path, const std::string& text);

}  // namespace velaclockctl
