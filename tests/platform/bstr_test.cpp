// Tests of the BSTR functions: the length prefix and terminators, null and odd lengths,
// reallocation, and out-of-memory behaviour.
#include <gtest/gtest.h>

#include <string.h>

#include "automation_test_support.h"
#include "oleauto.h"

namespace {

using automation_test::ExpectOutOfMemorySafe;
using automation_test::Text;

DWORD PrefixOf(BSTR b) {
  DWORD len;
  memcpy(&len, reinterpret_cast<const char*>(b) - 4, sizeof(len));
  return len;
}

TEST(Bstr, LengthPrefixHoldsBytesAndTerminatorFollows) {
  BSTR b = SysAllocString(u"abc");
  ASSERT_NE(nullptr, b);
  EXPECT_EQ(6u, PrefixOf(b));
  EXPECT_EQ(3u, SysStringLen(b));
  EXPECT_EQ(6u, SysStringByteLen(b));
  EXPECT_EQ(u'\0', b[3]);
  EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(b) % 8) << "characters are 8-byte aligned";
  SysFreeString(b);
}

TEST(Bstr, OddByteLengthIsTerminatedByAByteAndACharacter) {
  BSTR b = SysAllocStringByteLen("abcde", 5);
  ASSERT_NE(nullptr, b);
  EXPECT_EQ(5u, PrefixOf(b));
  EXPECT_EQ(5u, SysStringByteLen(b));
  EXPECT_EQ(2u, SysStringLen(b)) << "characters are whole bytes / 2";
  const char* bytes = reinterpret_cast<const char*>(b);
  EXPECT_EQ(0, memcmp(bytes, "abcde", 5));
  EXPECT_EQ('\0', bytes[5]);
  EXPECT_EQ('\0', bytes[6]);
  EXPECT_EQ('\0', bytes[7]);
  SysFreeString(b);
}

TEST(Bstr, EmbeddedZerosCountAndTheLengthIsAuthoritative) {
  BSTR b = SysAllocStringLen(u"a\0b", 3);
  ASSERT_NE(nullptr, b);
  EXPECT_EQ(3u, SysStringLen(b));
  EXPECT_EQ(std::u16string(u"a\0b", 3), Text(b));
  SysFreeString(b);
}

TEST(Bstr, NullAndEmpty) {
  EXPECT_EQ(nullptr, SysAllocString(nullptr));
  EXPECT_EQ(0u, SysStringLen(nullptr));
  EXPECT_EQ(0u, SysStringByteLen(nullptr));
  SysFreeString(nullptr);

  BSTR empty = SysAllocString(u"");
  ASSERT_NE(nullptr, empty) << "an empty string is a real BSTR";
  EXPECT_EQ(0u, SysStringLen(empty));
  EXPECT_EQ(u'\0', empty[0]);
  SysFreeString(empty);

  BSTR zeros = SysAllocStringLen(nullptr, 4);
  ASSERT_NE(nullptr, zeros);
  EXPECT_EQ(std::u16string(4, u'\0'), Text(zeros));
  SysFreeString(zeros);

  BSTR zero_bytes = SysAllocStringByteLen(nullptr, 3);
  ASSERT_NE(nullptr, zero_bytes);
  EXPECT_EQ(0, memcmp(zero_bytes, "\0\0\0", 3));
  SysFreeString(zero_bytes);
}

TEST(Bstr, LengthsThatDoNotFitThePrefixAreRefused) {
  EXPECT_EQ(nullptr, SysAllocStringLen(nullptr, 0x80000000u));
  EXPECT_EQ(nullptr, SysAllocStringByteLen(nullptr, 0xFFFFFFFFu));
}

TEST(Bstr, ReAllocReplacesAndMayCopyFromItself) {
  BSTR b = SysAllocString(u"hello world");
  ASSERT_TRUE(SysReAllocString(&b, b + 6));
  EXPECT_EQ(u"world", Text(b));
  ASSERT_TRUE(SysReAllocStringLen(&b, b, 3));
  EXPECT_EQ(u"wor", Text(b));
  ASSERT_TRUE(SysReAllocString(&b, nullptr));
  EXPECT_EQ(nullptr, b);
  EXPECT_FALSE(SysReAllocString(nullptr, u"x"));
  EXPECT_FALSE(SysReAllocStringLen(nullptr, u"x", 1));
}

TEST(Bstr, ReAllocKeepsTheOldStringWhenMemoryIsShort) {
  BSTR b = SysAllocString(u"old");
  FaultSimConfig(1, FALSE);
  EXPECT_FALSE(SysReAllocString(&b, u"new"));
  FaultSimConfig(1, FALSE);
  EXPECT_FALSE(SysReAllocStringLen(&b, u"new", 3));
  FaultSimConfig(0, FALSE);
  EXPECT_EQ(u"old", Text(b));
  SysFreeString(b);
}

TEST(Bstr, EveryAllocatorReportsShortMemoryWithoutLeaking) {
  auto status = [](BSTR b) {
    HRESULT hr = b ? S_OK : E_OUTOFMEMORY;
    SysFreeString(b);
    return hr;
  };
  ExpectOutOfMemorySafe([&] { return status(SysAllocString(u"text")); });
  ExpectOutOfMemorySafe([&] { return status(SysAllocStringLen(u"text", 2)); });
  ExpectOutOfMemorySafe([&] { return status(SysAllocStringByteLen("odd", 3)); });
  ExpectOutOfMemorySafe([&] {
    BSTR b = nullptr;
    HRESULT hr = SysReAllocString(&b, u"x") ? S_OK : E_OUTOFMEMORY;
    SysFreeString(b);
    return hr;
  });
}

}  // namespace
