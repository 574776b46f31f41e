#include "Kel/Utf8.h"

#include <cstddef>

namespace Kel {

namespace {

bool isContinuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

// The length of the sequence that `lead` starts, and the range its second byte must lie in (the
// table of well-formed byte sequences of the Unicode standard); 0 for a byte that cannot lead.
struct Lead {
  std::size_t length;
  unsigned char secondMin;
  unsigned char secondMax;
};

Lead leadOf(unsigned char lead) {
  if (lead < 0x80) return {1, 0, 0};
  if (lead >= 0xC2 && lead <= 0xDF) return {2, 0x80, 0xBF};
  if (lead == 0xE0) return {3, 0xA0, 0xBF};  // no overlong three-byte forms
  if (lead == 0xED) return {3, 0x80, 0x9F};  // no surrogates
  if (lead >= 0xE1 && lead <= 0xEF) return {3, 0x80, 0xBF};
  if (lead == 0xF0) return {4, 0x90, 0xBF};  // no overlong four-byte forms
  if (lead == 0xF4) return {4, 0x80, 0x8F};  // nothing above U+10FFFF
  if (lead >= 0xF1 && lead <= 0xF3) return {4, 0x80, 0xBF};
  return {0, 0, 0};
}

}  // namespace

bool isUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const Lead lead = leadOf(static_cast<unsigned char>(text[i]));
    if (lead.length == 0 || text.size() - i < lead.length) return false;
    if (lead.length > 1) {
      const auto second = static_cast<unsigned char>(text[i + 1]);
      if (second < lead.secondMin || second > lead.secondMax) return false;
      for (std::size_t k = 2; k < lead.length; ++k) {
        if (!isContinuation(static_cast<unsigned char>(text[i + k]))) return false;
      }
    }
    i += lead.length;
  }
  return true;
}

}  // namespace Kel
