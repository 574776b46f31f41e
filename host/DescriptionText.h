#pragma once

#include <cstddef>
#include <string>

namespace velaclockd {

// The most bytes a platform description may have (4 MiB): a real one is a few KiB.
inline constexpr std::size_t maxDescriptionBytes = std::size_t{4} << 20;

// Checks the text of a platform description before anything is built from it: at most
// maxDescriptionBytes, no anchors or aliases (a few nested aliases expand to millions of
// entities), and every scalar (keys, names, values) well-formed UTF-8. Reads the text as YAML
// events only, so the check costs no more than the text's size. Throws DescriptionError naming
// file, line and column.
void checkDescriptionText(const std::string& text, const std::string& file);

}  // namespace velaclockd
