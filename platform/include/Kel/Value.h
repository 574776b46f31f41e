#pragma once

#include <bit>
#include <charconv>
#include <cmath>
#include <concepts>
#include <cstdint>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>

#include "Kel/String.h"
#include "Kel/Utf8.h"

namespace Kel {

// How a reflected value is shown outside the process (control protocol, platform description).
enum class ValueKind : std::uint8_t {
  boolean,          // true or false
  unsignedInteger,  // decimal, or hexadecimal with 0x
  signedInteger,    // decimal
  floatingPoint,    // decimal, inf and nan included
  string,           // UTF-8 text
  enumeration,      // the number, or the name its printer gives
  reference,        // another entity, given inline
};

// Equality that treats a value as changed only when it really is: floating-point values compare
// by bits, so NaN stays NaN silently and -0.0 differs from 0.0.
template <class T>
bool sameValue(const T& a, const T& b) {
  if constexpr (std::is_same_v<T, float>) {
    return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
  } else if constexpr (std::is_same_v<T, double>) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
  } else {
    return a == b;
  }
}

// The whole of `text` as a number of type T (in `base`, for integers), or nothing.
template <class T, class... Base>
std::optional<T> wholeNumber(std::string_view text, Base... base) {
  T value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base...);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

// Canonical text of each value type and its parsing; the one place where outside text becomes a
// typed value. Specialised for every attribute type the data model uses.
template <class T>
struct ValueTraits;

template <>
struct ValueTraits<bool> {
  static constexpr ValueKind kind = ValueKind::boolean;
  static std::string expectation() { return "true or false"; }
  static std::string toText(bool v) { return v ? "true" : "false"; }
  static std::optional<bool> fromText(std::string_view text) {
    if (text == "true") return true;
    if (text == "false") return false;
    return std::nullopt;
  }
};

template <std::unsigned_integral T>
requires(!std::is_same_v<T, bool>) struct ValueTraits<T> {
  static constexpr ValueKind kind = ValueKind::unsignedInteger;
  static std::string expectation() {
    return "an unsigned " + std::to_string(8 * sizeof(T)) + "-bit number (0 to " +
           std::to_string(std::numeric_limits<T>::max()) + ", decimal or 0x hexadecimal)";
  }
  static std::string toText(T v) { return std::to_string(v); }
  static std::optional<T> fromText(std::string_view text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
      return wholeNumber<T>(text.substr(2), 16);
    }
    return wholeNumber<T>(text, 10);
  }
};

template <std::signed_integral T>
struct ValueTraits<T> {
  static constexpr ValueKind kind = ValueKind::signedInteger;
  static std::string expectation() {
    return "a signed " + std::to_string(8 * sizeof(T)) + "-bit number";
  }
  static std::string toText(T v) { return std::to_string(v); }
  static std::optional<T> fromText(std::string_view text) { return wholeNumber<T>(text, 10); }
};

template <std::floating_point T>
struct ValueTraits<T> {
  static constexpr ValueKind kind = ValueKind::floatingPoint;
  static std::string expectation() {
    return sizeof(T) == 4 ? "a 32-bit floating-point number" : "a floating-point number";
  }
  // The shortest text that parses back to the same bits (subnormals included), or inf, -inf, nan
  // or -nan.
  static std::string toText(T v) {
    char buffer[64];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, v);
    return std::string(buffer, end);
  }
  // Refuses what T cannot hold: a number too large, or too small even for a subnormal.
  static std::optional<T> fromText(std::string_view text) {
    if (text.size() > 1 && text[0] == '+' && text[1] != '-') text.remove_prefix(1);
    auto value = wholeNumber<T>(text);
    // A NaN is shown as nan or -nan only, so it keeps its sign and drops any payload: what is
    // shown then loads back the same.
    if (value && std::isnan(*value)) {
      value = std::copysign(std::numeric_limits<T>::quiet_NaN(), *value);
    }
    return value;
  }
};

template <>
struct ValueTraits<String> {
  static constexpr ValueKind kind = ValueKind::string;
  static std::string expectation() { return "UTF-8 text"; }
  static std::string toText(const String& v) { return v; }
  // Only well-formed UTF-8: a string is shown in JSON replies, which cannot carry anything else.
  static std::optional<String> fromText(std::string_view text) {
    if (!isUtf8(text)) return std::nullopt;
    return String(text);
  }
};

// An 8-bit enumeration of the data model. Its printer (operator<<) gives the names; text is the
// number, and parsing takes the number or a printed name.
template <class E>
requires std::is_enum_v<E> &&(sizeof(E) == 1) struct ValueTraits<E> {
  using Underlying = std::underlying_type_t<E>;
  static constexpr ValueKind kind = ValueKind::enumeration;
  static std::string expectation() { return "a number from 0 to 255 or a value name"; }
  static std::string toText(E v) { return std::to_string(static_cast<unsigned>(v)); }
  static std::string name(E v) {
    std::ostringstream out;
    out << v;
    return out.str();
  }
  static std::optional<E> fromText(std::string_view text) {
    if (const auto number = ValueTraits<std::uint8_t>::fromText(text)) {
      return static_cast<E>(*number);
    }
    for (unsigned v = 0; v <= std::numeric_limits<std::uint8_t>::max(); ++v) {
      if (name(static_cast<E>(v)) == text) return static_cast<E>(v);
    }
    return std::nullopt;
  }
};

}  // namespace Kel
