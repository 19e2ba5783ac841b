// Tests of the scrambling of short texts.
#include "KaScramble.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(KaScramble, KnownForms) {
  char out[130];
  EXPECT_STREQ("GE", kaEncrypt("A", out));
  EXPECT_STREQ("IEIFIG", kaEncrypt("abc", out));
  EXPECT_STREQ("?5", kaEncrypt("\xB1", out));
  EXPECT_STREQ(";D", kaEncrypt("\x80", out));
  EXPECT_STREQ("CC", kaEncrypt("\xFF", out));
  EXPECT_STREQ("", kaEncrypt("", out));
  EXPECT_STREQ("", kaEncrypt(nullptr, out));
  EXPECT_STREQ("A", kaDecrypt("GE", out));
  EXPECT_STREQ("", kaDecrypt("", out));
}

TEST(KaScramble, OddLengthReturnsTheInputAndWritesNothing) {
  char out[8] = "keep";
  const char* in = "GEI";
  EXPECT_EQ(in, kaDecrypt(in, out));
  EXPECT_STREQ("keep", out);
}

TEST(KaScramble, EveryByteRoundTrips) {
  std::string text;
  text += "\x80\xB0\xFF\x01";
  while (text.size() < 32)
    text += static_cast<char>(0x41 + text.size());
  char scrambled[65];
  char plain[33];
  ASSERT_NE(nullptr, kaEncrypt(text.c_str(), scrambled));
  EXPECT_EQ(64u, std::string(scrambled).size());
  EXPECT_EQ(text, kaDecrypt(scrambled, plain));

  for (int start = 1; start < 256; start += 32) {
    std::string chunk;
    for (int b = start; b < start + 32 && b < 256; ++b)
      chunk += static_cast<char>(b);
    ASSERT_NE(nullptr, kaEncrypt(chunk.c_str(), scrambled));
    EXPECT_EQ(2 * chunk.size(), std::string(scrambled).size()) << start;
    EXPECT_EQ(chunk, kaDecrypt(scrambled, plain)) << start;
  }
}

TEST(KaScramble, InputsBeyondTheLimitsAreRefused) {
  char out[200] = "stale";
  std::string longest(kaEncryptMaxInput, 'z');
  ASSERT_NE(nullptr, kaEncrypt(longest.c_str(), out));
  EXPECT_EQ(128u, std::string(out).size());
  EXPECT_EQ(nullptr, kaEncrypt((longest + "z").c_str(), out));
  EXPECT_STREQ("", out);

  std::string scrambled(kaDecryptMaxInput, 'G');
  ASSERT_NE(nullptr, kaDecrypt(scrambled.c_str(), out));
  EXPECT_EQ(32u, std::string(out).size());
  EXPECT_EQ(nullptr, kaDecrypt((scrambled + "GE").c_str(), out));
  EXPECT_STREQ("", out);
}

TEST(KaScramble, InAndOutMayBeOneBuffer) {
  char buffer[20] = "abc";
  EXPECT_STREQ("IEIFIG", kaEncrypt(buffer, buffer));
  EXPECT_STREQ("abc", kaDecrypt(buffer, buffer));
}

}  // namespace
