// Tests of the string and byte-buffer functions of KaMsUtil.
#include "KaString.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <thread>

#include "faultsim.h"

namespace {

// Owns a library block for the length of a test.
class Block {
 public:
  explicit Block(char* p) : p_(p) {}
  ~Block() { kaFreeString(&p_); }
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;
  char* get() const { return p_; }
  char** address() { return &p_; }
  std::string str() const { return p_ ? std::string(p_) : std::string("<null>"); }

 private:
  char* p_;
};

TEST(KaString, BlocksAreZeroFilledAndOneByteLonger) {
  Block b(kaNewString(0));
  ASSERT_NE(nullptr, b.get());
  EXPECT_EQ('\0', b.get()[0]);

  Block big(kaNewString(1000));
  ASSERT_NE(nullptr, big.get());
  for (int i = 0; i <= 1000; ++i)
    ASSERT_EQ('\0', big.get()[i]) << i;

  const char data[] = {'a', '\0', 'b', '\xFF'};
  Block dup(kaDataDup(data, 4));
  ASSERT_NE(nullptr, dup.get());
  EXPECT_EQ(0, memcmp(dup.get(), data, 4));
  EXPECT_EQ('\0', dup.get()[4]);

  Block none(kaDataDup(nullptr, 3));
  ASSERT_NE(nullptr, none.get());
  EXPECT_EQ(0, memcmp(none.get(), "\0\0\0\0", 4));
}

// Freed blocks are handed out again (small ones by the thread that freed them, first); a block
// written full before it was freed is zero-filled again, every size class and the C heap's.
TEST(KaString, ReusedBlocksAreZeroFilledAgain) {
  for (unsigned n : {0u, 1u, 15u, 16u, 100u, 254u, 255u, 256u, 5000u}) {
    for (int round = 0; round < 3; ++round) {
      char* p = kaNewString(n);
      ASSERT_NE(nullptr, p);
      for (unsigned i = 0; i <= n; ++i)
        ASSERT_EQ('\0', p[i]) << n << " byte " << i << " round " << round;
      memset(p, 'x', n + 1);
      kaFreeString(&p);
    }
  }
}

TEST(KaString, DupSafeLengthAndEmptyTests) {
  EXPECT_EQ(nullptr, kaStringDup(nullptr));
  EXPECT_EQ(nullptr, kaStringDup(""));
  Block copy(kaStringDup("abc"));
  EXPECT_EQ("abc", copy.str());

  EXPECT_STREQ("", kaSafeString(nullptr));
  const char* s = "x";
  EXPECT_EQ(s, kaSafeString(s));

  EXPECT_EQ(0, kaStringLen(nullptr));
  EXPECT_EQ(0, kaStringLen(""));
  EXPECT_EQ(3, kaStringLen("a\xB0z"));

  EXPECT_EQ(-1, kaIsEmptyString("a"));
  EXPECT_EQ(-1, kaIsEmptyString("\xB0"));
  EXPECT_EQ(0, kaIsEmptyString(nullptr));
  EXPECT_EQ(0, kaIsEmptyString(""));
}

TEST(KaString, FreeForgetsNullAndTheLibraryEmptyString) {
  char* p = nullptr;
  kaFreeString(&p);
  EXPECT_EQ(nullptr, p);
  kaFreeString(nullptr);
  // The shared empty string is never released (the sanitizer run would catch a bad free).
  char* shared = const_cast<char*>(kaSafeString(nullptr));
  kaFreeString(&shared);
  EXPECT_EQ(nullptr, shared);
  EXPECT_STREQ("", kaSafeString(nullptr));
}

TEST(KaString, FindStringAndReverseFind) {
  EXPECT_EQ(-1, kaFindString("", ""));
  EXPECT_EQ(-1, kaFindString(nullptr, "a"));
  EXPECT_EQ(0, kaFindString("abc", ""));
  EXPECT_EQ(0, kaFindString("abc", nullptr));
  EXPECT_EQ(2, kaFindString("abcabc", "ca"));
  EXPECT_EQ(-1, kaFindString("abc", "abcd"));

  EXPECT_EQ(3, kaReverseFindStr("a/b/c", '/'));
  EXPECT_EQ(5, kaReverseFindStr("a/b/c", '\0'));
  EXPECT_EQ(-1, kaReverseFindStr("abc", 'z'));
  EXPECT_EQ(-1, kaReverseFindStr("", '\0'));
  EXPECT_EQ(1, kaReverseFindStr("a\xB0"
                                "b",
                                '\xB0'));
}

TEST(KaString, FindDataStartsWithinLenAndMayRunPastIt) {
  Block b(kaDataDup("xxab", 4));
  EXPECT_EQ(2, kaFindData(b.get(), 3, "ab"));
  EXPECT_EQ(-1, kaFindData(b.get(), 2, "ab"));
  EXPECT_EQ(0, kaFindData(b.get(), 0, ""));
  EXPECT_EQ(-1, kaFindData(b.get(), 0, "x"));
  EXPECT_EQ(-1, kaFindData(b.get(), -5, "x"));
  // The comparison stops at the block's terminating zero byte.
  EXPECT_EQ(-1, kaFindData(b.get(), 4, "abc"));
}

TEST(KaString, FindDataZeroBytesNeverMatch) {
  const char raw[] = {'-', '-', 'B', '\0', '-', '-', 'B', 'X'};
  Block b(kaDataDup(raw, sizeof raw));
  // The zero byte ends the first comparison; the match is the second delimiter.
  EXPECT_EQ(4, kaFindData(b.get(), sizeof raw, "--BX"));
  EXPECT_EQ(0, kaFindData(b.get(), sizeof raw, "--B"));
  // A zero byte never begins a match, even of a pattern that looks for what follows it.
  EXPECT_EQ(-1, kaFindData(b.get() + 3, 1, "-"));
}

TEST(KaString, FindDataInALargeBinaryBlock) {
  std::string body(1 << 20, '\0');
  for (size_t i = 0; i < body.size(); ++i)
    body[i] = static_cast<char>((i * 131 + 7) % 251);
  const std::string delimiter = "\r\n--Boundary42";
  body.replace(900000, delimiter.size(), delimiter);
  Block b(kaDataDup(body.data(), static_cast<unsigned>(body.size())));
  EXPECT_EQ(900000, kaFindData(b.get(), static_cast<int>(body.size()), delimiter.c_str()));
  EXPECT_EQ(-1, kaFindData(b.get(), 900000, delimiter.c_str()));
  // A match that starts in the last byte of the window runs past it; one that ends exactly at
  // the window's end lies inside it.
  EXPECT_EQ(900000, kaFindData(b.get(), 900001, delimiter.c_str()));
  EXPECT_EQ(900000,
            kaFindData(b.get(), 900000 + static_cast<int>(delimiter.size()), delimiter.c_str()));
  // Of two matches the first is found, whichever way each is searched.
  body.replace(899900, delimiter.size(), delimiter);
  Block two(kaDataDup(body.data(), static_cast<unsigned>(body.size())));
  EXPECT_EQ(899900, kaFindData(two.get(), 899901, delimiter.c_str()));
  EXPECT_EQ(899900, kaFindData(two.get(), 900020, delimiter.c_str()));
  EXPECT_EQ(900000, kaFindData(two.get() + 899901, 200, delimiter.c_str()) + 899901);
}

// kaFindData against a byte-by-byte search, on text of few letters where the pattern's first
// and last bytes match often without the rest: every window start and length near the 32-byte
// steps of the fast search, and matches that run past the window.
TEST(KaString, FindDataAgreesWithAPlainSearch) {
  std::string text(3000, '\0');
  uint32_t state = 12345;
  for (char& c : text) {
    state = state * 1103515245u + 12345u;
    c = "-Bx"[(state >> 16) % 3];
  }
  Block b(kaDataDup(text.data(), static_cast<unsigned>(text.size())));
  for (const char* pattern : {"--Bx-B", "-x", "xBx--B-x-B", "B"}) {
    const size_t n = strlen(pattern);
    for (int start = 0; start < 70; ++start) {
      for (int len = 1; len < 300; len += 7) {
        int expected = -1;
        for (int i = 0; i < len && start + i < static_cast<int>(text.size()); ++i) {
          if (text.compare(static_cast<size_t>(start + i), n, pattern) == 0) {
            expected = i;
            break;
          }
        }
        ASSERT_EQ(expected, kaFindData(b.get() + start, len, pattern))
            << pattern << " from " << start << ", " << len << " bytes";
      }
    }
  }
}

TEST(KaString, SubstringsClampToTheText) {
  EXPECT_EQ("ef", Block(kaMidString2("abcdef", 4, 10)).str());
  EXPECT_EQ("", Block(kaMidString2("abc", 5, 1)).str());
  EXPECT_EQ("ab", Block(kaMidString2("abc", -3, 2)).str());
  EXPECT_EQ("", Block(kaMidString2("abc", 1, -2)).str());
  EXPECT_EQ("bc", Block(kaMidString2("abc", 1, 0x7FFFFFFF)).str());
  EXPECT_EQ("cdef", Block(kaMidString("abcdef", 2)).str());
  EXPECT_EQ("abcdef", Block(kaMidString("abcdef", -1)).str());
  EXPECT_EQ("", Block(kaMidString("abc", 9)).str());
  EXPECT_EQ("", Block(kaLeftString("abc", -1)).str());
  EXPECT_EQ("abc", Block(kaLeftString("abc", 99)).str());
  EXPECT_EQ("ab", Block(kaLeftString("abc", 2)).str());
  EXPECT_EQ("bc", Block(kaRightString("abc", 2)).str());
  EXPECT_EQ("", Block(kaRightString("abc", -2)).str());
  EXPECT_EQ("abc", Block(kaRightString("abc", 7)).str());
}

TEST(KaString, StringCatAndPrepend) {
  Block dst(nullptr);
  EXPECT_STREQ("ab", kaStringCat(dst.address(), "ab"));
  EXPECT_EQ("ab", dst.str());
  EXPECT_STREQ("abcd", kaStringCat(dst.address(), "cd"));
  EXPECT_STREQ("xyabcd", kaStringCat2(dst.address(), "xy"));
  EXPECT_STREQ("xyabcd", kaStringCat(dst.address(), nullptr));

  // The library empty string may stand as the start value; it is not released.
  Block from_empty(const_cast<char*>(kaSafeString(nullptr)));
  EXPECT_STREQ("q", kaStringCat(from_empty.address(), "q"));
  EXPECT_STREQ("", kaSafeString(nullptr));
}

TEST(KaString, DataCatIsByteExact) {
  Block dst(nullptr);
  const char first[] = {'a', '\0', 'b'};
  const char second[] = {'\0', 'c', '\0'};
  ASSERT_NE(nullptr, kaDataCat(dst.address(), 0, first, 3));
  ASSERT_NE(nullptr, kaDataCat(dst.address(), 3, second, 3));
  const char joined[] = {'a', '\0', 'b', '\0', 'c', '\0', '\0'};
  EXPECT_EQ(0, memcmp(dst.get(), joined, 7));
  // A null source adds nothing but still renews the block.
  ASSERT_NE(nullptr, kaDataCat(dst.address(), 6, nullptr, 5));
  EXPECT_EQ(0, memcmp(dst.get(), joined, 7));
}

TEST(KaString, JoiningKeepsTheOldBlockWhenAllocationFails) {
  Block dst(kaStringDup("keep"));
  char* before = dst.get();
  FaultSimConfig(1, FALSE);
  EXPECT_EQ(nullptr, kaStringCat(dst.address(), "more"));
  FaultSimConfig(1, FALSE);
  EXPECT_EQ(nullptr, kaStringCat2(dst.address(), "more"));
  FaultSimConfig(1, FALSE);
  EXPECT_EQ(nullptr, kaDataCat(dst.address(), 4, "more", 4));
  FaultSimConfig(0, FALSE);
  EXPECT_EQ(before, dst.get());
  EXPECT_EQ("keep", dst.str());
}

TEST(KaString, AllocatingFunctionsReturnNullUnderFaults) {
  FaultSimConfig(1, TRUE);
  EXPECT_EQ(nullptr, kaNewString(4));
  EXPECT_EQ(nullptr, kaStringDup("abc"));
  EXPECT_EQ(nullptr, kaDataDup("abc", 3));
  EXPECT_EQ(nullptr, kaMidString2("abc", 0, 2));
  EXPECT_EQ(nullptr, kaLeftString("abc", 2));
  EXPECT_EQ(nullptr, kaRightString("abc", 2));
  EXPECT_EQ(6, FaultSimFaults());
  FaultSimConfig(0, FALSE);
  EXPECT_EQ("ab", Block(kaLeftString("abc", 2)).str());
}

TEST(KaString, TrimStopsAtHighBytes) {
  char spaces[] = " \t \t";
  EXPECT_STREQ("", kaTrimString(spaces));
  char controls[] = "\x01\t x y \x7F\r\n";
  EXPECT_STREQ("x y", kaTrimString(controls));
  char lead[] = "\xA1\xA1 text";
  EXPECT_STREQ("\xA1\xA1 text", kaTrimLeft(lead));
  char trail[] = "text\xB0 ";
  EXPECT_STREQ("text\xB0", kaTrimRight(trail));
  char high_end[] = " a\x80";
  EXPECT_STREQ(" a\x80", kaTrimRight(high_end));
  EXPECT_EQ(nullptr, kaTrimString(nullptr));
}

TEST(KaString, CaseChangesTouchAsciiLettersOnly) {
  char mixed[] = "aZ9\xB0z\xC7\x61";
  EXPECT_STREQ(
      "AZ9\xB0Z\xC7"
      "A",
      kaUpperString(mixed));
  EXPECT_STREQ(
      "az9\xB0z\xC7"
      "a",
      kaLowerString(mixed));
  EXPECT_EQ(nullptr, kaUpperString(nullptr));
}

TEST(KaString, SubStringFields) {
  char out[260];
  EXPECT_EQ(0, kaSubString("a/b/c", out, sizeof out, 1, "/"));
  EXPECT_STREQ("b", out);
  EXPECT_EQ(0, kaSubString("a/b/c", out, sizeof out, 2, "/"));
  EXPECT_STREQ("c", out);
  EXPECT_EQ(0, kaSubString("a/b/c", out, sizeof out, 0, "/"));
  EXPECT_STREQ("a", out);
  strcpy(out, "untouched");
  EXPECT_EQ(-1, kaSubString("a/b/c", out, sizeof out, 3, "/"));
  EXPECT_EQ(-1, kaSubString("a/b/", out, sizeof out, 2, "/"));
  EXPECT_EQ(-1, kaSubString("a/b/c", out, sizeof out, -1, "/"));
  EXPECT_EQ(-1, kaSubString("", out, sizeof out, 0, "/"));
  EXPECT_STREQ("untouched", out);
  EXPECT_EQ(0, kaSubString("a/b/", out, sizeof out, 1, "/"));
  EXPECT_STREQ("b", out);
  EXPECT_EQ(0, kaSubString("/a", out, sizeof out, 0, "/"));
  EXPECT_STREQ("", out);
  EXPECT_EQ(0, kaSubString("whole", out, sizeof out, 0, "/"));
  EXPECT_STREQ("whole", out);
  EXPECT_EQ(0, kaSubString("k=v&&x=y", out, sizeof out, 1, "&&"));
  EXPECT_STREQ("x=y", out);
}

TEST(KaString, SubStringCutsToTheBuffer) {
  char out[4] = {'?', '?', '?', '?'};
  char guard[4] = {'G', 'G', 'G', 'G'};
  EXPECT_EQ(0, kaSubString("abcdefgh,z", out, 4, 0, ","));
  EXPECT_STREQ("abc", out);
  EXPECT_EQ(0, kaSubString("z,abcdefgh", out, 4, 1, ","));
  EXPECT_STREQ("abc", out);
  EXPECT_EQ('G', guard[0]);
}

TEST(KaString, ExtractStr) {
  EXPECT_STREQ("b", kaExtractStr("a[b]c", "[", "]"));
  EXPECT_STREQ("b", kaExtractStr("axbxc", "x", nullptr));
  EXPECT_STREQ("name", kaExtractStr("form-data; name=\"name\"; x", "\"", "\""));
  EXPECT_STREQ("open", kaExtractStr("\"open", "\"", "\""));
  EXPECT_STREQ("", kaExtractStr(nullptr, "[", "]"));
  EXPECT_STREQ("", kaExtractStr("", "[", "]"));

  std::string longer(400, 'q');
  const char* whole = kaExtractStr(longer.c_str(), "[", "]");
  EXPECT_EQ(std::string(255, 'q'), whole);
  // A tag beyond the 255-byte window is not seen.
  std::string late = std::string(300, 'a') + "[b]";
  EXPECT_EQ(std::string(255, 'a'), kaExtractStr(late.c_str(), "[", "]"));
}

TEST(KaString, ExtractAreaIsPerThread) {
  const char* mine = kaExtractStr("<main>", "<", ">");
  std::string theirs;
  std::thread other([&] {
    const char* r = kaExtractStr("<other-thread>", "<", ">");
    theirs = r;
  });
  other.join();
  EXPECT_STREQ("main", mine);
  EXPECT_EQ("other-thread", theirs);

  // Many threads at once never see each other's results.
  std::vector<std::thread> threads;
  std::atomic<int> mismatches{0};
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([t, &mismatches] {
      const std::string want = "field" + std::to_string(t);
      const std::string src = "name=\"" + want + "\"";
      for (int i = 0; i < 2000; ++i)
        if (want != kaExtractStr(src.c_str(), "\"", "\""))
          ++mismatches;
    });
  }
  for (auto& t : threads)
    t.join();
  EXPECT_EQ(0, mismatches.load());
}

TEST(KaString, ReplaceStr) {
  char dst[64];
  EXPECT_STREQ("1X2X", kaReplaceStr("1ab2ab", dst, "ab", "X"));
  EXPECT_STREQ("a-b", kaReplaceStr("a/b", dst, "/", "-"));
  EXPECT_STREQ("XXX", kaReplaceStr("abc", dst, "", "X"));
  EXPECT_STREQ("abc", kaReplaceStr("abc", dst, "z", "X"));
  EXPECT_STREQ("bc", kaReplaceStr("abc", dst, "a", ""));
  EXPECT_STREQ("", kaReplaceStr("", dst, "a", "b"));
  EXPECT_STREQ("aaaa", kaReplaceStr("aa", dst, "a", "aa"));
}

}  // namespace
