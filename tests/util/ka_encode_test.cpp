// Tests of the URL, hex and path encodings and the query-string parser.
#include "KaEncode.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "KaString.h"
#include "faultsim.h"

namespace {

TEST(KaHex, DigitsBothWays) {
  EXPECT_STREQ("0A", kaChar2Hex('\x0A'));
  EXPECT_STREQ("FF", kaChar2Hex('\xFF'));
  EXPECT_STREQ("B0", kaChar2Hex('\xB0'));
  EXPECT_STREQ("00", kaChar2Hex('\0'));
  EXPECT_EQ(0x2B, kaHex2Char("2b"));
  EXPECT_EQ(0x2B, kaHex2Char("2B"));
  EXPECT_EQ(0xFF, kaHex2Char("fF"));
  EXPECT_EQ(0x09, kaHex2Char("09"));
}

TEST(KaEncodeUrl, EscapesAllButLettersDigitsAndSpaces) {
  EXPECT_STREQ("A%2DZ%5F0%2E9", kaEncodeUrl("A-Z_0.9"));
  EXPECT_STREQ("a+b%2B1", kaEncodeUrl("a b+1"));
  // Both bytes of a double-byte character, whatever the second one is.
  EXPECT_STREQ("%B0%A1", kaEncodeUrl("\xB0\xA1"));
  EXPECT_STREQ("%B0%41b", kaEncodeUrl("\xB0\x41"
                                      "b"));
  // A lead byte at the very end stays within the text.
  EXPECT_STREQ("a%B0", kaEncodeUrl("a\xB0"));
  EXPECT_EQ(kaSafeString(nullptr), kaEncodeUrl(""));
  EXPECT_EQ(kaSafeString(nullptr), kaEncodeUrl(nullptr));
}

TEST(KaEncodeUrl, RefusesEncodingsBeyond255Bytes) {
  std::string fits(85, '-');  // 85 * 3 = 255 bytes
  const char* encoded = kaEncodeUrl(fits.c_str());
  ASSERT_NE(nullptr, encoded);
  EXPECT_EQ(255u, std::string(encoded).size());
  EXPECT_EQ(nullptr, kaEncodeUrl(std::string(86, '-').c_str()));
  EXPECT_EQ(255u, std::string(kaEncodeUrl(std::string(255, 'x').c_str())).size());
  EXPECT_EQ(nullptr, kaEncodeUrl(std::string(256, 'x').c_str()));
  // A double-byte character that would not fit whole is refused too.
  EXPECT_EQ(nullptr, kaEncodeUrl((std::string(250, 'x') + "\xB0\xA1").c_str()));
}

TEST(KaEncodeUrl, ResultAreasArePerThread) {
  const char* mine = kaEncodeUrl("mine 1");
  const char* hex = kaChar2Hex('\x11');
  std::string theirs;
  std::thread other([&] {
    theirs = kaEncodeUrl("theirs 2");
    kaChar2Hex('\x22');
  });
  other.join();
  EXPECT_STREQ("mine+1", mine);
  EXPECT_STREQ("11", hex);
  EXPECT_EQ("theirs+2", theirs);
}

TEST(KaDecodeUrl, DecodesInPlace) {
  char a[] = "a+b%2Bc%20d";
  EXPECT_EQ(a, kaDecodeUrl(a));
  EXPECT_STREQ("a b+c d", a);
  char b[] = "%41%42";
  EXPECT_STREQ("AB", kaDecodeUrl(b));
  char c[] = "%B0%A1";
  EXPECT_STREQ("\xB0\xA1", kaDecodeUrl(c));
  // A '%' without two characters after it stays, and nothing is read past the text.
  char d[] = "100%";
  EXPECT_STREQ("100%", kaDecodeUrl(d));
  char e[] = "x%4";
  EXPECT_STREQ("x%4", kaDecodeUrl(e));
  char empty[] = "";
  EXPECT_EQ(kaSafeString(nullptr), kaDecodeUrl(empty));
  EXPECT_EQ(kaSafeString(nullptr), kaDecodeUrl(nullptr));
}

TEST(KaPathUrl, ConvertsBothWays) {
  char out[128];
  EXPECT_STREQ("file://localhost/C|/data/a.txt", kaDosPathToURL("C:\\data\\a.txt", out));
  EXPECT_STREQ("file://localhost/", kaDosPathToURL("", out));
  EXPECT_STREQ("C:\\data\\a.txt", kaURLToDosPath("file://localhost/C|/data/a.txt", out));
  EXPECT_STREQ("dir\\f.txt", kaURLToDosPath("s://h/dir/f.txt", out));
  EXPECT_STREQ("dir\\f.txt", kaURLToDosPath("C|/dir/f.txt", out));
  EXPECT_STREQ("plain", kaURLToDosPath("plain", out));
  EXPECT_STREQ("", kaURLToDosPath(nullptr, out));
}

std::string Text(const char* p) {
  return p ? std::string(p) : std::string("<null>");
}

TEST(KaParseElement, SplitsNamesAndDecodedValues) {
  char text[] = "p=1&q=&r&&x=%41%2B&a+b=c+d";
  KaListHead* list = kaParseElement(text, "&");
  ASSERT_NE(nullptr, list);
  ASSERT_EQ(5, kaCountObList(list));
  struct Expected {
    const char* name;
    const char* value;
    int length;
  } expected[] = {
      {"p", "1", 1}, {"q", "", 0}, {"r", "<null>", 0}, {"x", "A+", 2}, {"a b", "c d", 3}};
  for (int i = 0; i < 5; ++i) {
    auto* e = static_cast<KaElement*>(kaFindAtObList(list, i));
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(expected[i].name, Text(e->name)) << i;
    EXPECT_EQ(expected[i].value, Text(e->value)) << i;
    EXPECT_EQ(expected[i].length, e->valueLength) << i;
    EXPECT_EQ(nullptr, e->aux1);
  }
  // A caller's own library blocks in the spare fields are released with the record.
  static_cast<KaElement*>(kaFindAtObList(list, 0))->aux1 = kaStringDup("mine");
  EXPECT_EQ(0, kaDestroyElement(list));

  char separators_only[] = "&&";
  list = kaParseElement(separators_only, "&");
  ASSERT_NE(nullptr, list);
  EXPECT_EQ(0, kaCountObList(list));
  kaDestroyElement(list);
  EXPECT_EQ(0, kaDestroyElement(nullptr));

  char several[] = "a=1; b=2";
  list = kaParseElement(several, "; ");
  ASSERT_EQ(2, kaCountObList(list));
  EXPECT_EQ("b", Text(static_cast<KaElement*>(kaFindAtObList(list, 1))->name));
  kaDestroyElement(list);
}

// Every allocation of the parser can fail; each time the result is null or a well-formed list
// of the records made before the failure, and nothing leaks (the sanitizer build checks).
TEST(KaParseElement, AllocationFailuresGiveAPartialList) {
  for (BOOL persistent : {FALSE, TRUE}) {
    for (int nth = 1;; ++nth) {
      char text[] = "p=1&q=&r";
      FaultSimConfig(nth, persistent);
      KaListHead* list = kaParseElement(text, "&");
      int faults = FaultSimFaults();
      FaultSimConfig(0, FALSE);
      if (list) {
        EXPECT_LE(kaCountObList(list), 3);
        for (int i = 0; i < kaCountObList(list); ++i) {
          auto* e = static_cast<KaElement*>(kaFindAtObList(list, i));
          ASSERT_NE(nullptr, e);
          EXPECT_NE(nullptr, e->name);
        }
      }
      if (faults == 0) {
        ASSERT_NE(nullptr, list);
        EXPECT_EQ(3, kaCountObList(list));
      }
      kaDestroyElement(list);
      if (faults == 0)
        break;
      ASSERT_LT(nth, 100);
    }
  }
}

}  // namespace
