// Tests of CKaText, the text class of KaMsUtil, its formatter included.
#include "KaText.h"

#include <gtest/gtest.h>

#include <string>

#include "KaString.h"
#include "faultsim.h"
#include "platform_config.h"
#include "winnls.h"

namespace {

std::string str(const CKaText& t) {
  return std::string(static_cast<const char*>(t));
}

TEST(KaText, ConstructionGivesOwnedBlocks) {
  CKaText empty;
  EXPECT_EQ(1, empty.IsEmpty());
  ASSERT_NE(nullptr, empty.GetData());
  CKaText other;
  EXPECT_NE(empty.GetData(), other.GetData()) << "no shared empty representation";

  EXPECT_EQ("abc", str(CKaText("abc")));
  EXPECT_EQ("", str(CKaText(static_cast<const char*>(nullptr))));
  EXPECT_EQ("abc", str(CKaText("abc", 1)));
  EXPECT_EQ("", str(CKaText("abc", 0)));
  EXPECT_EQ("", str(CKaText(static_cast<const char*>(nullptr), 5)));
  EXPECT_EQ("xxx", str(CKaText('x', 3)));
  EXPECT_EQ("", str(CKaText('x', 0)));
  EXPECT_EQ("", str(CKaText('x', -4)));

  CKaText source("deep");
  CKaText copy(source);
  EXPECT_NE(source.GetData(), copy.GetData());
  copy.MakeUpper();
  EXPECT_EQ("deep", str(source));
  EXPECT_EQ("DEEP", str(copy));
}

TEST(KaText, AssignmentIncludingSelfAndInnerSources) {
  CKaText t("value");
  char* block = t.GetData();
  const CKaText& same = t;  // through a reference, as self-assignment happens in real code
  t = same;
  EXPECT_EQ(block, t.GetData()) << "self-assignment leaves the block alone";
  EXPECT_EQ("value", str(t));

  t = 'z';
  EXPECT_EQ("z", str(t));
  t = '\0';
  EXPECT_EQ(1, t.IsEmpty());
  t = static_cast<const char*>(nullptr);
  EXPECT_EQ(1, t.IsEmpty());

  // A source inside the object's own block is read before the block goes.
  t = "prefix-tail";
  t = t.GetData() + 7;
  EXPECT_EQ("tail", str(t));
  char* inner = t.GetData() + 1;
  t = inner;
  EXPECT_EQ("ail", str(t));
}

TEST(KaText, AppendingDoublesAndKeepsZeroChars) {
  CKaText s("ab");
  s += s;
  EXPECT_EQ("abab", str(s));
  s += 'c';
  EXPECT_EQ("ababc", str(s));
  s += '\0';
  EXPECT_EQ("ababc", str(s));
  s += static_cast<const char*>(nullptr);
  EXPECT_EQ("ababc", str(s));
  s += s.GetData() + 3;
  EXPECT_EQ("ababcbc", str(s));

  CKaText empty_other;
  char* kept = s.GetData();
  s += empty_other;
  EXPECT_EQ(kept, s.GetData()) << "an empty text appends nothing and keeps the block";
}

TEST(KaText, AccessAndIndexing) {
  CKaText t("a\xB0z");
  EXPECT_EQ(3, t.GetLength());
  EXPECT_EQ('a', t[0]);
  EXPECT_EQ(-80, t[1]) << "bytes from 0x80 read as negative values";
  EXPECT_EQ(0, t[3]);
  EXPECT_EQ(0, t[-1]);
  EXPECT_EQ(0, t[100]);
  EXPECT_EQ(reinterpret_cast<unsigned char*>(t.GetData()), static_cast<unsigned char*>(t));

  // A zero byte written through the pointer shortens the text at once.
  t.GetData()[1] = '\0';
  EXPECT_EQ(1, t.GetLength());
  t.Empty();
  EXPECT_EQ(1, t.IsEmpty());
}

TEST(KaText, SetDataTakesOverABlock) {
  CKaText t("old");
  char* old = t.GetData();
  t.SetData(kaStringDup("new"));
  EXPECT_EQ("new", str(t));
  kaFreeString(&old);  // SetData leaves the previous block to the caller
  char* current = t.GetData();
  t.SetData(nullptr);
  EXPECT_EQ(1, t.IsEmpty());
  kaFreeString(&current);
}

TEST(KaText, Searching) {
  CKaText empty;
  EXPECT_EQ(-1, empty.Find(""));
  CKaText t("abcabc");
  EXPECT_EQ(0, t.Find(""));
  EXPECT_EQ(1, t.Find("bc"));
  EXPECT_EQ(-1, t.Find("x"));
  EXPECT_EQ(4, t.ReverseFind('b'));
  EXPECT_EQ(6, t.ReverseFind('\0'));
  EXPECT_EQ(-1, empty.ReverseFind('a'));
  EXPECT_EQ(2, t.FindOneOf("xc"));
  EXPECT_EQ(-1, t.FindOneOf(""));
  EXPECT_EQ(-1, empty.FindOneOf("a"));
  CKaText mixed("Content-TYPE: x");
  EXPECT_EQ(8, mixed.FindNoCase("type"));
  EXPECT_EQ(0, mixed.FindNoCase("CONTENT"));
  EXPECT_EQ(-1, mixed.FindNoCase("types:"));
  // Only ASCII letters fold: 0xC7 and 0xE7 stay distinct.
  CKaText high("\xC7");
  EXPECT_EQ(-1, high.FindNoCase("\xE7"));
}

TEST(KaText, Comparison) {
  EXPECT_EQ(1, CKaText("abc").Compare("ab"));
  EXPECT_EQ(-1, CKaText("").Compare("a"));
  EXPECT_EQ(0, CKaText("abc").Compare("abc"));
  EXPECT_EQ(1, CKaText("\xB0").Compare("z")) << "bytes compare as unsigned";
  EXPECT_EQ(0, CKaText("abc").CompareNoCase("ABC"));
  EXPECT_EQ(-1, CKaText("a[").CompareNoCase("A{"));
  // '[' (0x5B) is not a letter: it must not fold onto '{' (0x7B).
  EXPECT_NE(0, CKaText("[").CompareNoCase("{"));
}

TEST(KaText, SubstringsClamp) {
  const CKaText t("abcdef");
  EXPECT_EQ("abcdef", str(t.Mid(-3)));
  EXPECT_EQ("cdef", str(t.Mid(2, 100)));
  EXPECT_EQ("", str(t.Mid(10)));
  EXPECT_EQ("", str(t.Mid(10, 2)));
  EXPECT_EQ("cd", str(t.Mid(2, 2)));
  EXPECT_EQ("", str(t.Mid(2, -1)));
  EXPECT_EQ("", str(t.Left(-1)));
  EXPECT_EQ("abcdef", str(t.Right(99)));
  EXPECT_EQ("ef", str(t.Right(2)));
  EXPECT_EQ("", str(t.Right(-2)));
  EXPECT_EQ("abc", str(CKaText("abc123").SpanIncluding("cba")));
  EXPECT_EQ("", str(CKaText("abc").SpanIncluding("")));
  EXPECT_EQ("key", str(CKaText("key=value").SpanExcluding("=;")));
  EXPECT_EQ("all", str(CKaText("all").SpanExcluding("")));
  EXPECT_EQ("abcdef", str(t)) << "substrings leave the object unchanged";
}

TEST(KaText, InPlaceChanges) {
  CKaText t("aZ9\xB0z");
  EXPECT_STREQ("AZ9\xB0Z", t.MakeUpper());
  EXPECT_STREQ("az9\xB0z", t.MakeLower());
  CKaText r("ab\xC7\xD1");
  EXPECT_STREQ(
      "\xD1\xC7"
      "ba",
      r.MakeReverse());

  CKaText left("\x01\t abc ");
  EXPECT_STREQ("abc ", left.TrimLeft());
  CKaText right("abc\xB0  ");
  EXPECT_STREQ("abc\xB0", right.TrimRight());
  CKaText stop("x\x80");
  EXPECT_STREQ("x\x80", stop.TrimRight()) << "a byte of 0x80 or above ends the run";
  CKaText blank(" \t\r\n");
  EXPECT_STREQ("", blank.TrimLeft());
}

TEST(KaText, GetBufferAndReleaseBuffer) {
  CKaText t("ab");
  char* buffer = t.GetBuffer(100);
  ASSERT_NE(nullptr, buffer);
  EXPECT_STREQ("ab", buffer);
  for (int i = 2; i <= 100; ++i)
    ASSERT_EQ('\0', buffer[i]) << i;
  memcpy(buffer, "xyz", 3);
  t.ReleaseBuffer();
  EXPECT_EQ(3, t.GetLength());
  EXPECT_EQ("xyz", str(t));

  // A minimum below the length keeps the whole text.
  EXPECT_STREQ("xyz", t.GetBuffer(1));
}

TEST(KaText, FormatBasics) {
  CKaText t("old");
  t.Format("%ld", 5);
  EXPECT_EQ("5", str(t));
  t.Format("%s", "");
  EXPECT_EQ("", str(t));
  t.Format("100%%");
  EXPECT_EQ("100%", str(t));
  t.Format("");
  EXPECT_EQ(1, t.IsEmpty());
  t.Format("--%s", "AaB03x");
  EXPECT_EQ("--AaB03x", str(t));
  t.Format("%s=%d;%x|%5.2f|%c|%-4s|", "k", -12, 255u, 3.14159, 'Q', "ab");
  EXPECT_EQ("k=-12;ff| 3.14|Q|ab  |", str(t));
}

TEST(KaText, FormatWidthsAndPrecisionsAreNeverCut) {
  CKaText t;
  t.Format("%40d|", 7);
  EXPECT_EQ(std::string(39, ' ') + "7|", str(t));
  t.Format("%*d|", 50, 7);
  EXPECT_EQ(std::string(49, ' ') + "7|", str(t));
  t.Format("%.40d", 7);
  EXPECT_EQ(std::string(39, '0') + "7", str(t));
  t.Format("%#x %#o", 255, 8);
  EXPECT_EQ("0xff 010", str(t));
  t.Format("%.3s|%10s|", "abcdef", "ab");
  EXPECT_EQ("abc|        ab|", str(t));
  t.Format("%f", 1e300);
  EXPECT_EQ(308u, t.GetLength()) << "301 digits, point and six decimals";
  t.Format("%.*s", -5, "xyz");
  EXPECT_EQ("", str(t));
  std::string big(5000, 'k');
  t.Format("[%s]", big.c_str());
  EXPECT_EQ("[" + big + "]", str(t));
}

TEST(KaText, FormatFollowsThePlatformSizes) {
  CKaText t;
  // l is 32-bit as on the platform; ll and I64 are 64-bit.
  t.Format("%ld %lu %lx", static_cast<int32_t>(-1), static_cast<uint32_t>(4000000000u),
           static_cast<uint32_t>(0xABCDEF01u));
  EXPECT_EQ("-1 4000000000 abcdef01", str(t));
  t.Format("%lld %I64d %I64u", -9000000000LL, 1234567890123LL, 18446744073709551615ULL);
  EXPECT_EQ("-9000000000 1234567890123 18446744073709551615", str(t));
  t.Format("%hd %hhu", 70000, 300);
  EXPECT_EQ("4464 44", str(t));
  int written = 99;
  t.Format("a%nb", &written);
  EXPECT_EQ("ab", str(t));
  EXPECT_EQ(99, written) << "%n never writes";
  t.Format("%s", static_cast<const char*>(nullptr));
  EXPECT_EQ("", str(t)) << "a null string is given no room";
}

TEST(KaText, FormatWideTextInTheAnsiCodePage) {
  CKaText t;
  t.Format("%S|%ls|%C", u"\uD55C\uAE00", u"ab", u'\uD55C');
  EXPECT_EQ("\xC7\xD1\xB1\xDB|ab|\xC7\xD1", str(t));
  PlatformSetACP(CP_UTF8);
  t.Format("%S", u"\uD55C");
  PlatformSetACP(949);
  EXPECT_EQ("\xED\x95\x9C", str(t));
}

TEST(KaText, FormatOddFormatsStayInStep) {
  CKaText t;
  t.Format("%y%d", 5);
  EXPECT_EQ("%y5", str(t));
  t.Format("50%");
  EXPECT_EQ("50%", str(t));
  t.Format("%-*d|%s", -6, 1, "after");
  EXPECT_EQ("1     |after", str(t));
  // Arguments that point into the text itself are read before the block is renewed.
  t = "self";
  t.Format("<%s>", t.GetData());
  EXPECT_EQ("<self>", str(t));
}

// Every allocation of each operation fails in turn: the text stays valid (old value or, for a
// constructor, empty), nothing leaks, and the operation succeeds once no fault fires.
TEST(KaText, AllocationFailuresLeaveTheTextUsable) {
  for (BOOL persistent : {FALSE, TRUE}) {
    for (int n = 1;; ++n) {
      FaultSimConfig(n, persistent);
      CKaText fresh("fresh");
      CKaText t("start");
      t += "-more";
      t += t;
      t.Format("%s/%d", "fmt", n);
      CKaText mid = t.Mid(1, 3);
      char* buffer = t.GetBuffer(64);
      const int faults = FaultSimFaults();
      FaultSimConfig(0, FALSE);
      EXPECT_TRUE(fresh.IsEmpty() || str(fresh) == "fresh");
      EXPECT_LE(t.GetLength(), 64);
      EXPECT_TRUE(mid.IsEmpty() || mid.GetLength() == 3);
      if (buffer) {
        EXPECT_EQ(buffer, t.GetData());
      }
      t += "still-usable";
      EXPECT_NE(-1, t.Find("still-usable"));
      if (faults == 0) {
        EXPECT_EQ("fmt/" + std::to_string(n) + "still-usable", str(t));
        break;
      }
      ASSERT_LT(n, 100);
    }
  }
}

}  // namespace
