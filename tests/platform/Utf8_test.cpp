#include <gtest/gtest.h>

#include <string_view>

#include "Kel/Utf8.h"
#include "Kel/Value.h"

using namespace std::string_view_literals;

TEST(Utf8, OnlyWellFormedTextIsUtf8AndOnlyThatBecomesAString) {
  for (const std::string_view good :
       {""sv, "nul \0 inside"sv, "\xc2\x80"sv, "\xdf\xbf"sv, "\xe0\xa0\x80"sv, "\xed\x9f\xbf"sv,
        "\xef\xbf\xbf"sv, "\xf0\x90\x80\x80"sv, "\xf4\x8f\xbf\xbf"sv,
        "caf\xc3\xa9 \xe2\x82\xac"sv}) {
    EXPECT_TRUE(Kel::isUtf8(good)) << good;
  }
  // A lone continuation byte, overlong forms, a surrogate, beyond U+10FFFF, bytes that never
  // lead, and sequences cut short at the end or by another character.
  for (const std::string_view bad :
       {"\x80"sv, "\xc0\xaf"sv, "\xc1\xbf"sv, "\xe0\x9f\xbf"sv, "\xf0\x8f\xbf\xbf"sv,
        "\xed\xa0\x80"sv, "\xf4\x90\x80\x80"sv, "\xf5\x80\x80\x80"sv, "\xff"sv, "ok\xe2\x82"sv,
        "\xe2\x82x"sv}) {
    EXPECT_FALSE(Kel::isUtf8(bad)) << ::testing::PrintToString(bad);
  }
  EXPECT_EQ(Kel::ValueTraits<Kel::String>::fromText("\xff"), std::nullopt);
  EXPECT_EQ(Kel::ValueTraits<Kel::String>::expectation(), "UTF-8 text");
}
