// Tests of the host's text conversions between script strings (CESU-8) and UTF-16.
#include "text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using vhost::from_cesu8;
using vhost::to_cesu8;

TEST(HostText, ScriptStringsBecomeUtf16) {
  EXPECT_EQ(u"", from_cesu8(""));
  EXPECT_EQ(u"SaveFile", from_cesu8("SaveFile"));
  // ASCII first, then Korean: the ASCII run and the rest both arrive.
  EXPECT_EQ(u"files/\uD55C\uAE00.txt", from_cesu8("files/\xED\x95\x9C\xEA\xB8\x80.txt"));
  EXPECT_EQ(u"\u00E9a", from_cesu8("\xC3\xA9"
                                   "a"));
  // A character outside the basic plane, as Duktape keeps it (two encoded surrogates) and as
  // UTF-8 writes it.
  EXPECT_EQ(u"x\U0001F600", from_cesu8("x\xED\xA0\xBD\xED\xB8\x80"));
  EXPECT_EQ(u"x\U0001F600", from_cesu8("x\xF0\x9F\x98\x80"));
}

TEST(HostText, BrokenSequencesBecomeReplacementCharacters) {
  EXPECT_EQ(u"ab\uFFFD", from_cesu8("ab\xED\x95"));
  EXPECT_EQ(u"a\uFFFDb", from_cesu8("a\xFF"
                                    "b"));
  EXPECT_EQ(u"\uFFFD", from_cesu8("\xC3"));
}

TEST(HostText, ScriptStringsHoldEachUtf16UnitOnItsOwn) {
  EXPECT_EQ("", to_cesu8(u""));
  EXPECT_EQ("files/a.txt\x7F", to_cesu8(u"files/a.txt\u007F"));
  EXPECT_EQ("a\xC2\x80\xDF\xBF", to_cesu8(u"a\u0080\u07FF"));
  EXPECT_EQ("\xED\x95\x9C\xEA\xB8\x80", to_cesu8(u"\uD55C\uAE00"));
  // A pair of surrogates is two characters of three bytes each, not one of four.
  EXPECT_EQ("x\xED\xA0\xBD\xED\xB8\x80", to_cesu8(u"x\U0001F600"));
  char bytes[9];
  EXPECT_EQ(7u, vhost::write_cesu8(u"x\U0001F600", bytes));
  EXPECT_EQ(std::string("x\xED\xA0\xBD\xED\xB8\x80"), std::string(bytes, 7));
}

TEST(HostText, Utf16RoundTripsThroughScriptStrings) {
  for (const std::u16string& text :
       {std::u16string(u"plain"), std::u16string(u"\uD55C\uAE00 text"),
        std::u16string(u"\U0001F600 and more"), std::u16string(300, u'a') + u"\u00FF"}) {
    EXPECT_EQ(text, from_cesu8(to_cesu8(text)));
  }
}

}  // namespace
