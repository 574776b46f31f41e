#include <gtest/gtest.h>

#include <string_view>

#include "Kel/Utf8.h"
#include "Kel/Value.h"

using namespace std::string_view_literals;

TEST(Utf8, OnlyWellFormedTextIsUtf8) {
  for (const std::string_view good :
       {""sv, "plain ascii"sv, "nul \0 inside"sv, "\xc2\x80"sv, "\xdf\xbf"sv, "\xe0\xa0\x80"sv,
        "\xed\x9f\xbf"sv, "\xee\x80\x80"sv, "\xef\xbf\xbf"sv, "\xf0\x90\x80\x80"sv,
        "\xf4\x8f\xbf\xbf"sv, "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"sv}) {
    EXPECT_TRUE(Kel::isUtf8(good)) << good;
  }
  for (const std::string_view bad : {
           "\x80"sv,              // a continuation byte alone
           "\xc0\xaf"sv,          // overlong '/'
           "\xc1\xbf"sv,          // overlong
           "\xe0\x9f\xbf"sv,      // overlong three-byte form
           "\xed\xa0\x80"sv,      // a surrogate
           "\xf0\x8f\xbf\xbf"sv,  // overlong four-byte form
           "\xf4\x90\x80\x80"sv,  // above U+10FFFF
           "\xf5\x80\x80\x80"sv,  // a byte that never leads
           "\xff"sv,
           "\xe2\x82"sv,   // cut short at the end
           "\xe2\x82x"sv,  // cut short by another character
           "ok\xc3"sv,
       }) {
    EXPECT_FALSE(Kel::isUtf8(bad)) << ::testing::PrintToString(bad);
  }
  EXPECT_EQ(Kel::ValueTraits<Kel::String>::fromText("\xff"), std::nullopt);
  EXPECT_EQ(Kel::ValueTraits<Kel::String>::fromText("\xe2\x82\xac"), "\xe2\x82\xac");
  EXPECT_EQ(Kel::ValueTraits<Kel::String>::expectation(), "UTF-8 text");
}
