#pragma once

#include <string_view>

namespace Kel {

// Whether `text` is well-formed UTF-8: no stray continuation bytes, no overlong forms, no
// surrogates, nothing above U+10FFFF. Text that leaves the process (JSON replies, traces of names)
// must be, so text from outside is checked where it comes in.
bool isUtf8(std::string_view text);

}  // namespace Kel
