// Tests of the code-page conversion: MultiByteToWideChar, WideCharToMultiByte, GetACP.
#include <gtest/gtest.h>

#include <string>

#include "errhandlingapi.h"
#include "platform_config.h"
#include "winnls.h"

namespace {

// "한국어 텍스트" in code page 949 and in UTF-8.
const char kKorean949[] = "\xC7\xD1\xB1\xB9\xBE\xEE \xC5\xD8\xBD\xBA\xC6\xAE";
const char kKoreanUtf8[] =
    "\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4 \xED\x85\x8D\xEC\x8A\xA4\xED\x8A\xB8";
const char16_t kKoreanUtf16[] = u"한국어 텍스트";

std::u16string to_wide(UINT cp, const std::string& s, DWORD flags = 0) {
  int n = MultiByteToWideChar(cp, flags, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::u16string out(static_cast<size_t>(n), u'\0');
  if (n > 0) {
    EXPECT_EQ(n,
              MultiByteToWideChar(cp, flags, s.data(), static_cast<int>(s.size()), out.data(), n));
  }
  return out;
}

std::string to_narrow(UINT cp, const std::u16string& s) {
  int n = WideCharToMultiByte(cp, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr,
                              nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  if (n > 0) {
    EXPECT_EQ(n, WideCharToMultiByte(cp, 0, s.data(), static_cast<int>(s.size()), out.data(), n,
                                     nullptr, nullptr));
  }
  return out;
}

class AcpGuard {
 public:
  explicit AcpGuard(UINT cp) : saved_(GetACP()) { EXPECT_TRUE(PlatformSetACP(cp)); }
  ~AcpGuard() { PlatformSetACP(saved_); }

 private:
  UINT saved_;
};

TEST(CodePage, DefaultAnsiCodePageIs949) {
  // The test runs without PLATFORM_ACP, so the default applies.
  ASSERT_EQ(nullptr, getenv("PLATFORM_ACP"));
  EXPECT_EQ(949u, GetACP());
}

TEST(CodePage, KoreanRoundTripsIn949AndUtf8) {
  EXPECT_EQ(kKoreanUtf16, to_wide(949, kKorean949));
  EXPECT_EQ(kKorean949, to_narrow(949, kKoreanUtf16));
  EXPECT_EQ(kKoreanUtf16, to_wide(CP_UTF8, kKoreanUtf8));
  EXPECT_EQ(kKoreanUtf8, to_narrow(CP_UTF8, kKoreanUtf16));
  {
    AcpGuard acp(949);
    EXPECT_EQ(kKoreanUtf16, to_wide(CP_ACP, kKorean949));
    EXPECT_EQ(kKorean949, to_narrow(CP_ACP, kKoreanUtf16));
  }
  {
    AcpGuard acp(CP_UTF8);
    EXPECT_EQ(kKoreanUtf16, to_wide(CP_ACP, kKoreanUtf8));
    EXPECT_EQ(kKoreanUtf8, to_narrow(CP_ACP, kKoreanUtf16));
  }
}

TEST(CodePage, SurrogatePairsRoundTripInUtf8) {
  const std::u16string wide = u"a\U0001F600b";
  EXPECT_EQ(
      "a\xF0\x9F\x98\x80"
      "b",
      to_narrow(CP_UTF8, wide));
  EXPECT_EQ(wide, to_wide(CP_UTF8,
                          "a\xF0\x9F\x98\x80"
                          "b"));
}

TEST(CodePage, MinusOneCountsTheTerminator) {
  char16_t out[16];
  EXPECT_EQ(3, MultiByteToWideChar(CP_UTF8, 0, "ab", -1, out, 16));
  EXPECT_EQ(u'\0', out[2]);
  char narrow[16];
  EXPECT_EQ(3, WideCharToMultiByte(949, 0, u"\uD55C", -1, narrow, 16, nullptr, nullptr));
  EXPECT_STREQ("\xC7\xD1", narrow);
}

TEST(CodePage, InvalidInputBecomesReplacementOrFailsWhenStrict) {
  EXPECT_EQ(u"a\uFFFDb", to_wide(CP_UTF8,
                                 "a\xFF"
                                 "b"));
  EXPECT_EQ(u"\uFFFD\uFFFD", to_wide(CP_UTF8, "\xC0\xAF"));             // overlong form of '/'
  EXPECT_EQ(u"\uFFFD", to_wide(CP_UTF8, "\xED\xA0\x80").substr(0, 1));  // encoded surrogate
  // A lead byte of 949 cut off at the end of the text.
  EXPECT_EQ(u"a\uFFFD", to_wide(949, "a\xC7"));

  char16_t out[8];
  SetLastError(0);
  EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "a\xFF", 2, out, 8));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION), GetLastError());
  SetLastError(0);
  EXPECT_EQ(0, MultiByteToWideChar(949, MB_ERR_INVALID_CHARS, "a\xC7", 2, out, 8));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION), GetLastError());
}

TEST(CodePage, UnmappableCharactersUseTheDefaultCharacter) {
  BOOL used = FALSE;
  char out[16] = {};
  // U+00E9 and an emoji have no code page 949 form.
  int n = WideCharToMultiByte(949, 0, u"a\u00E9\U0001F600b", 5, out, sizeof out, nullptr, &used);
  EXPECT_EQ(std::string("a?\?b"), std::string(out, static_cast<size_t>(n)));
  EXPECT_TRUE(used);
  n = WideCharToMultiByte(949, 0, u"x\U0001F600", 3, out, sizeof out, "#", &used);
  EXPECT_EQ("x#", std::string(out, static_cast<size_t>(n)));
  // A lone surrogate in UTF-8 output.
  EXPECT_EQ("\xEF\xBF\xBD", to_narrow(CP_UTF8, std::u16string(1, u'\xD800')));
}

TEST(CodePage, BadArgumentsAndShortBuffers) {
  char16_t wide[2];
  char narrow[2];
  SetLastError(0);
  EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, nullptr, 3, wide, 2));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, "abc", 0, wide, 2));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, "abc", 3, wide, 2));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
  EXPECT_EQ(0, WideCharToMultiByte(949, 0, u"\uD55C", 1, narrow, 1, nullptr, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
  EXPECT_EQ(0, MultiByteToWideChar(12345, 0, "a", 1, wide, 2));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  BOOL used;
  EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, 0, u"a", 1, narrow, 2, nullptr, &used));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  EXPECT_FALSE(PlatformSetACP(12345));
  EXPECT_FALSE(IsValidCodePage(12345));
  EXPECT_TRUE(IsValidCodePage(949));
}

// ASCII text is itself in the code pages built on ASCII, whether a text is ASCII alone or has
// one other character at its very end.
TEST(CodePage, AsciiTextIsItselfInCodePagesBuiltOnAscii) {
  std::string ascii;
  std::u16string wide_ascii;
  for (char c = 1; c < 0x7F; ++c) {
    ascii += c;
    wide_ascii += static_cast<char16_t>(c);
  }
  for (UINT cp : {static_cast<UINT>(CP_UTF8), 949u, 936u, 1252u, 932u}) {
    EXPECT_EQ(wide_ascii, to_wide(cp, ascii)) << cp;
    EXPECT_EQ(ascii, to_narrow(cp, wide_ascii)) << cp;
  }
  EXPECT_EQ(wide_ascii + u"\uD55C", to_wide(949, ascii + "\xC7\xD1"));
  EXPECT_EQ(ascii + "\xC7\xD1", to_narrow(949, wide_ascii + u"\uD55C"));

  char narrow[3];
  SetLastError(0);
  EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, 0, u"abc", 3, narrow, 2, nullptr, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
  EXPECT_EQ(4, WideCharToMultiByte(949, 0, u"abc", -1, nullptr, 0, nullptr, nullptr));
}

TEST(CodePage, LongTextsConvertWholly) {
  std::string big;
  for (int i = 0; i < 5000; ++i)
    big += kKorean949;
  std::u16string wide = to_wide(949, big);
  EXPECT_EQ(big, to_narrow(949, wide));
  EXPECT_EQ(wide, to_wide(CP_UTF8, to_narrow(CP_UTF8, wide)));
}

}  // namespace
