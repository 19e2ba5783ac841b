// Tests of the registry file: its exact text, round trips of every value type, hand-written
// files, and damaged or hostile files, which must give ERROR_BADDB with the line on standard
// error and never be overwritten.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "registry_test_support.h"

namespace {

class RegFileTest : public ::testing::Test {
 protected:
  HKEY Create(HKEY parent, const char16_t* sub) {
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(parent, sub, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    keys_.push_back(key);
    return key;
  }
  void Set(HKEY key, const char16_t* name, DWORD type, const std::string& data) {
    EXPECT_EQ(ERROR_SUCCESS,
              RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                             static_cast<DWORD>(data.size())));
  }
  void TearDown() override {
    for (HKEY key : keys_)
      RegCloseKey(key);
  }

  // The status of a read, with what went to standard error meanwhile.
  LONG ReadStatus(std::string& diagnostics) {
    ::testing::internal::CaptureStderr();
    HKEY key = nullptr;
    LONG status = RegOpenKeyExW(HKEY_CURRENT_USER, nullptr, 0, KEY_READ, &key);
    diagnostics = ::testing::internal::GetCapturedStderr();
    if (key)
      RegCloseKey(key);
    return status;
  }

  TempRegistry registry_;
  std::vector<HKEY> keys_;
};

std::string Bytes(std::initializer_list<int> bytes) {
  std::string out;
  for (int b : bytes)
    out.push_back(static_cast<char>(b));
  return out;
}

TEST_F(RegFileTest, TextOfASmallRegistry) {
  Set(Create(HKEY_CLASSES_ROOT, u".ext"), nullptr, REG_SZ,
      Utf16le(u"Text \"q\" \\ back", false) + Bytes({0, 0}));
  Create(HKEY_CURRENT_USER, u"Empty");
  HKEY vals = Create(HKEY_LOCAL_MACHINE, u"Software\\Vals");
  Set(vals, u"dw", REG_DWORD, Bytes({0x2a, 0, 0, 0}));
  std::string bin;
  for (int i = 0; i < 30; ++i)
    bin.push_back(static_cast<char>(i));
  Set(vals, u"bin", REG_BINARY, bin);
  Set(vals, u"exp", REG_EXPAND_SZ, Utf16le(u"%A%", false) + Bytes({0, 0}));
  Set(vals, u"multi", REG_MULTI_SZ, Utf16le(std::u16string(u"a\0b\0\0", 5), false));
  Set(vals, u"q", REG_QWORD, Bytes({1, 0, 0, 0, 0, 0, 0, 0}));
  Set(vals, u"none", REG_NONE, "");
  Set(vals, u"nl", REG_SZ, Utf16le(u"a\nb", false) + Bytes({0, 0}));

  const char16_t expected[] =
      u"Windows Registry Editor Version 5.00\r\n"
      u"\r\n[HKEY_CLASSES_ROOT\\.ext]\r\n"
      u"@=\"Text \\\"q\\\" \\\\ back\"\r\n"
      u"\r\n[HKEY_CURRENT_USER\\Empty]\r\n"
      u"\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n"
      u"\r\n[HKEY_LOCAL_MACHINE\\Software\\Vals]\r\n"
      u"\"dw\"=dword:0000002a\r\n"
      u"\"bin\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\r\n"
      u"  17,18,19,1a,1b,1c,1d\r\n"
      u"\"exp\"=hex(2):25,00,41,00,25,00,00,00\r\n"
      u"\"multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
      u"\"q\"=hex(b):01,00,00,00,00,00,00,00\r\n"
      u"\"none\"=hex(0):\r\n"
      u"\"nl\"=\"a\\nb\"\r\n";
  EXPECT_EQ(Utf16le(expected), registry_.ReadFile());
}

TEST_F(RegFileTest, EveryValueTypeRoundTrips) {
  HKEY key = Create(HKEY_CURRENT_USER, u"Round [trip] \"keys\"\\한국어 ]");
  std::string long_binary;
  for (int i = 0; i < 1000; ++i)
    long_binary.push_back(static_cast<char>(i * 7));
  Set(key, nullptr, REG_SZ, Utf16le(u"\\\"\r\n\t;# 한국어 𝄞", false) + Bytes({0, 0}));
  Set(key, u"no terminator", REG_SZ, Utf16le(u"abc", false));
  Set(key, u"inner NUL", REG_SZ, Utf16le(std::u16string(u"a\0b\0", 4), false));
  Set(key, u"odd", REG_SZ, Bytes({0x41}));
  Set(key, u"dword", REG_DWORD, Bytes({0xff, 0xfe, 0xfd, 0xfc}));
  Set(key, u"short dword", REG_DWORD, Bytes({1, 2, 3}));
  Set(key, u"qword", REG_QWORD, Bytes({1, 2, 3, 4, 5, 6, 7, 0x80}));
  Set(key, u"binary", REG_BINARY, long_binary);
  Set(key, u"empty binary", REG_BINARY, "");
  Set(key, u"expand", REG_EXPAND_SZ, Utf16le(u"%PATH%", false) + Bytes({0, 0}));
  Set(key, u"multi", REG_MULTI_SZ, Utf16le(std::u16string(u"x\0y z\0\0", 7), false));
  Set(key, u"none", REG_NONE, Bytes({9}));
  Set(key, u"odd type", 0x12345678, Bytes({1}));
  Set(key, u"name \"quoted\" \\ =\n", REG_SZ, Bytes({0, 0}));
  Create(key, u"sub\\deeper");

  std::string before = ListRegistry(HKEY_CURRENT_USER, "HKCU");
  std::string file = registry_.ReadFile();
  registry_.Reload();
  EXPECT_EQ(before, ListRegistry(HKEY_CURRENT_USER, "HKCU"));
  // Writing the reloaded tree gives the same file.
  Set(key, u"extra", REG_DWORD, Bytes({0, 0, 0, 0}));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueW(key, u"extra"));
  EXPECT_EQ(file, registry_.ReadFile());
}

TEST_F(RegFileTest, ReadsHandWrittenFiles) {
  registry_.ReplaceFile(
      Utf16le(u"Windows Registry Editor Version 5.00\n"
              u"; a comment\n"
              u"# another\n"
              u"\n"
              u"[hkey_current_user\\App]   \r\n"
              u"@ = \"default\" ; trailing comment\n"
              u"\"Short\"=DWORD:1\n"
              u"\"Gone\"=\"x\"\n"
              u"\"Gone\"=-\n"
              u"\"Bin\"=hex:01, 02,\\\n"
              u"  \t03,\\\n"
              u"    ff\n"
              u"\"Type\"=HEX(7):61,00,00,00,00,00\n"
              u"[HKEY_CURRENT_USER\\App\\Removed\\Deep]\n"
              u"[-HKEY_CURRENT_USER\\App\\Removed]\n"
              u"\"Ignored\"=\"value after a deleted section\"\n"
              u"[-HKEY_CURRENT_USER\\Never\\There]\n"));
  EXPECT_EQ(
      "HKCU\\App\n"
      "HKCU\\App\\@ = 1: \"default\"\n"
      "HKCU\\App\\Short = 4: 01000000\n"
      "HKCU\\App\\Bin = 3: 010203ff\n"
      "HKCU\\App\\Type = 7: 610000000000\n",
      ListRegistry(HKEY_CURRENT_USER, "HKCU"));
}

TEST_F(RegFileTest, DamagedFilesNameTheLine) {
  const std::u16string header = u"Windows Registry Editor Version 5.00\r\n";
  const std::u16string key = u"[HKEY_CURRENT_USER\\k]\r\n";
  struct Case {
    std::string bytes;
    const char* where;
  } cases[] = {
      {"Windows Registry Editor Version 5.00\r\n", "line 1:"},  // UTF-8, no byte order mark
      {Utf16le(u"REGEDIT4\r\n"), "line 1:"},
      {Utf16le(header + u"[HKEY_CURRENT_USER\\a\r\n"), "line 2:"},
      {Utf16le(header + u"[HKEY_NOWHERE\\a]\r\n"), "line 2:"},
      {Utf16le(header + u"[HKEY_CURRENT_USER\\a\\\\b]\r\n"), "line 2:"},
      {Utf16le(header + u"[HKEY_CURRENT_USER\\a] x\r\n"), "line 2:"},
      {Utf16le(header + u"[-HKEY_CURRENT_USER]\r\n"), "line 2:"},
      {Utf16le(header + key + u"\"a\"=\"unterminated\r\n"), "line 3:"},
      {Utf16le(header + key + u"\"a\"=\"bad \\t escape\"\r\n"), "line 3:"},
      {Utf16le(header + key + u"\"a\"=\"text\" junk\r\n"), "line 3:"},
      {Utf16le(header + key + u"\"a\"=dword:123456789\r\n"), "line 3:"},
      {Utf16le(header + key + u"\"a\"=dword:\r\n"), "line 3:"},
      {Utf16le(header + key + u"\"a\"=dword:12 34\r\n"), "line 3:"},
      {Utf16le(header + key + u"\"a\"=hex:0g\r\n"), "line 3:"},
      {Utf16le(header + key + u"\"a\"=hex:123\r\n"), "line 3:"},
      {Utf16le(header + key + u"\"a\"=hex:12;34\r\n"), ""},  // a comment after a byte: fine
      {Utf16le(header + key + u"\"a\"=hex:12 34\r\n"), "line 3:"},
      {Utf16le(header + key + u"\"a\"=hex(zz):00\r\n"), "line 3:"},
      {Utf16le(header + key + u"\"a\"=hex(123456789):00\r\n"), "line 3:"},
      {Utf16le(header + key + u"\"a\"=hex:01,\\\r\n"), "line 3:"},
      {Utf16le(header + key + u"\"a\"=-x\r\n"), "line 3:"},
      {Utf16le(header + key + u"\"a\"=something\r\n"), "line 3:"},
      {Utf16le(header + key + u"\"a\" \"b\"\r\n"), "line 3:"},
      {Utf16le(header + key + u"garbage\r\n"), "line 3:"},
      {Utf16le(header + key + std::u16string(u"\"a\"=\"nul\0\"\r\n", 12)), "line 3:"},
      // Names the API could never pass: a NUL in a key or value name, a CR in a key name.
      {Utf16le(header + std::u16string(u"[HKEY_CURRENT_USER\\a\0b]\r\n", 25)), "line 2:"},
      {Utf16le(header + u"[HKEY_CURRENT_USER\\a]\r[-HKEY_CURRENT_USER\\b]\r\n"), "line 2:"},
      {Utf16le(header + key + std::u16string(u"\"a\0b\"=\"x\"\r\n", 11)), "line 3:"},
      {Utf16le(header + u"\"a\"=\"outside any key\"\r\n"), "line 2:"},
      {Utf16le(header + key) + "x", "line 3:"},  // half a UTF-16 character at the end
  };
  for (const Case& c : cases) {
    registry_.ReplaceFile(c.bytes);
    std::string diagnostics;
    LONG status = ReadStatus(diagnostics);
    if (!*c.where) {
      EXPECT_EQ(ERROR_SUCCESS, status) << diagnostics;
      continue;
    }
    EXPECT_EQ(ERROR_BADDB, status) << c.where;
    EXPECT_NE(std::string::npos, diagnostics.find(registry_.path() + ": " + c.where))
        << "expected " << c.where << ", got " << diagnostics;
  }
}

TEST_F(RegFileTest, DamagedFileIsReportedOnceAndNeverOverwritten) {
  std::string damaged = Utf16le(u"Windows Registry Editor Version 5.00\r\n[HKEY_USERS\\a\r\n");
  registry_.ReplaceFile(damaged);
  std::string diagnostics;
  EXPECT_EQ(ERROR_BADDB, ReadStatus(diagnostics));
  EXPECT_NE(std::string::npos, diagnostics.find("line 2: key section without its closing ']'"))
      << diagnostics;
  EXPECT_EQ(ERROR_BADDB, ReadStatus(diagnostics));
  EXPECT_EQ("", diagnostics);

  HKEY key = nullptr;
  EXPECT_EQ(ERROR_BADDB, RegCreateKeyExW(HKEY_USERS, u"b", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                         &key, nullptr));
  EXPECT_EQ(ERROR_BADDB, RegDeleteTreeW(HKEY_USERS, nullptr));
  EXPECT_EQ(damaged, registry_.ReadFile());

  // Once repaired, the registry works again.
  registry_.ReplaceFile(Utf16le(u"Windows Registry Editor Version 5.00\r\n"));
  EXPECT_EQ(ERROR_SUCCESS, ReadStatus(diagnostics));
  Create(HKEY_USERS, u"b");
}

TEST_F(RegFileTest, HostileFilesFailCleanly) {
  const std::u16string header = u"Windows Registry Editor Version 5.00\r\n";
  std::string diagnostics;

  // 512 levels below a root are allowed, 513 are not.
  std::u16string path = u"[HKEY_CURRENT_USER";
  for (int i = 0; i < 512; ++i)
    path += u"\\k";
  registry_.ReplaceFile(Utf16le(header + path + u"]\r\n"));
  EXPECT_EQ(ERROR_SUCCESS, ReadStatus(diagnostics)) << diagnostics;
  registry_.ReplaceFile(Utf16le(header + path + u"\\k]\r\n"));
  EXPECT_EQ(ERROR_BADDB, ReadStatus(diagnostics));
  EXPECT_NE(std::string::npos, diagnostics.find("deeper than 512")) << diagnostics;

  // A key name too long for the registry.
  registry_.ReplaceFile(
      Utf16le(header + u"[HKEY_CURRENT_USER\\" + std::u16string(256, u'n') + u"]\r\n"));
  EXPECT_EQ(ERROR_BADDB, ReadStatus(diagnostics));

  // A very long line is just a long value.
  registry_.ReplaceFile(Utf16le(header + u"[HKEY_CURRENT_USER\\long]\r\n@=\"" +
                                std::u16string(1 << 20, u'x') + u"\"\r\n"));
  EXPECT_EQ(ERROR_SUCCESS, ReadStatus(diagnostics));
  DWORD size = 0;
  HKEY key = Create(HKEY_CURRENT_USER, u"long");
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, nullptr, nullptr, nullptr, nullptr, &size));
  EXPECT_EQ((1u << 21) + 2, size);

  // A file larger than the registry reads is refused without being read.
  registry_.ReplaceFile(Utf16le(header));
  std::filesystem::resize_file(registry_.path(), (64u << 20) + 1);
  EXPECT_EQ(ERROR_BADDB, ReadStatus(diagnostics));
  EXPECT_NE(std::string::npos, diagnostics.find("larger than 64 MiB")) << diagnostics;

  // Random bytes, alone or after a valid start: a status, never a crash.
  std::mt19937 random(12345);
  std::string start = Utf16le(header + u"[HKEY_CURRENT_USER\\r]\r\n");
  for (int round = 0; round < 300; ++round) {
    std::string bytes = round % 2 ? start : std::string();
    size_t length = random() % 400;
    for (size_t i = 0; i < length; ++i) {
      // Mostly characters the grammar cares about, to get past the first checks.
      static const char kAlphabet[] = "[]\\\"@=-,:;hexdword(0129af\r\n \t";
      if (random() % 4)
        bytes += std::string{kAlphabet[random() % (sizeof kAlphabet - 1)], '\0'};
      else
        bytes.push_back(static_cast<char>(random()));
    }
    registry_.ReplaceFile(bytes);
    LONG status = ReadStatus(diagnostics);
    EXPECT_TRUE(status == ERROR_SUCCESS || status == ERROR_BADDB) << status;
  }
}

}  // namespace
