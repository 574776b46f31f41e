#include <gtest/gtest.h>

#include "ctl/TextTable.h"

// A name can hold any text: the human table shows it on its own line, escaped and aligned, while
// the JSON rows keep it exactly.
TEST(TextTable, ControlCharactersAreEscapedForPeopleAndKeptForScripts) {
  velaclockctl::TextTable table({"sink", "source"});
  table.rowIs({"evil\nsink\t\x1b[2J", "-"});
  table.rowIs({"a\\b", "system/gps1"});
  EXPECT_EQ(table.text(),
            "sink                 source\n"
            "evil\\nsink\\t\\x1b[2J  -\n"
            "a\\\\b                 system/gps1\n");
  const auto rows = table.json();
  EXPECT_EQ(rows[0]["sink"], "evil\nsink\t\x1b[2J");
  EXPECT_TRUE(rows[0]["source"].is_null());
  EXPECT_EQ(rows[1]["sink"], "a\\b");
}
