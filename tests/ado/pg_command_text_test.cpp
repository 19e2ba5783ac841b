// Tests of splitting command text into PostgreSQL statements and numbering its placeholders:
// what stands in quotes and comments is left alone.
#include "pg_command_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Split {
  std::u16string text;
  int placeholders;
  bool empty;
  bool operator==(const Split&) const = default;
};

std::vector<Split> split(std::u16string_view text) {
  std::vector<Split> out;
  size_t at = 0;
  PgStatement statement;
  while (NextPgStatement(text, &at, &statement))
    out.push_back({std::u16string(statement.text), statement.placeholders, statement.empty});
  return out;
}

std::u16string translate(std::u16string_view text, int first = 1) {
  size_t at = 0;
  PgStatement statement;
  EXPECT_TRUE(NextPgStatement(text, &at, &statement));
  std::u16string out(TranslatedCapacity(statement), u'#');
  out.resize(TranslatePlaceholders(statement.text, first, out.data()));
  return out;
}

TEST(PgCommandText, SplitsAtSemicolonsOfCodeOnly) {
  EXPECT_EQ((std::vector<Split>{{u"INSERT INTO t VALUES (?, ?)", 2, false},
                                {u" SELECT ';', \";\" FROM t", 0, false},
                                {u" ", 0, true}}),
            split(u"INSERT INTO t VALUES (?, ?); SELECT ';', \";\" FROM t; "));
  EXPECT_EQ((std::vector<Split>{{u"-- a; b\n", 0, true}, {u"/* ; */", 0, true}}),
            split(u"-- a; b\n;/* ; */"));
  EXPECT_EQ((std::vector<Split>{}), split(u""));
  EXPECT_EQ((std::vector<Split>{{u"", 0, true}}), split(u";")) << "nothing after the last";
}

TEST(PgCommandText, QuestionMarksInQuotesAndCommentsAreNoPlaceholders) {
  EXPECT_EQ(u"SELECT '?', \"?\", $1 -- ?\n", translate(u"SELECT '?', \"?\", ? -- ?\n"));
  // Doubled quotes stay inside; a backslash escapes only in E'...' strings.
  EXPECT_EQ(u"SELECT 'it''s ?', $1", translate(u"SELECT 'it''s ?', ?"));
  EXPECT_EQ(u"SELECT E'\\'?', $1", translate(u"SELECT E'\\'?', ?"));
  EXPECT_EQ(u"SELECT '\\', $1", translate(u"SELECT '\\', ?"));
  // Block comments nest.
  EXPECT_EQ(u"/* ? /* ? */ ? */ $1", translate(u"/* ? /* ? */ ? */ ?"));
  // Dollar quotes, with and without a tag; $1 and a$b$ are no quotes.
  EXPECT_EQ(u"SELECT $$?$$, $f$ ? $$ ? $f$, $1", translate(u"SELECT $$?$$, $f$ ? $$ ? $f$, ?"));
  EXPECT_EQ(u"SELECT $1, a$b$, $2", translate(u"SELECT ?, a$b$, ?"));
  EXPECT_EQ(u"SELECT $5, $6", translate(u"SELECT ?, ?", 5));
  // An unclosed quote runs to the end: the server reports it.
  EXPECT_EQ(u"SELECT $1, 'no end ?", translate(u"SELECT ?, 'no end ?"));
  EXPECT_EQ((std::vector<Split>{{u"SELECT 'a;?", 0, false}}), split(u"SELECT 'a;?"));
}

TEST(PgCommandText, NumbersGrowPastOneDigit) {
  std::u16string text = u"VALUES (";
  std::u16string expected = u"VALUES (";
  for (int i = 1; i <= 12; ++i) {
    text += i > 1 ? u", ?" : u"?";
    const std::string number = std::to_string(i);
    expected += (i > 1 ? u", $" : u"$") + std::u16string(number.begin(), number.end());
  }
  EXPECT_EQ(expected + u")", translate(text + u")"));
  EXPECT_EQ(u"$99999", translate(u"?", 99999));
}

}  // namespace
