// Tests of identifiers, time stamps and temporary names.
#include "KaIdent.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "winsock2.h"

namespace {

bool IsLowerHex(const std::string& s) {
  return s.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// The host's first IPv4 address as the identifier prints it. The library started the socket
// layer when it was loaded, so the lookup works without a start-up of the test's own.
std::string ExpectedAddressDigits() {
  char name[80];
  if (gethostname(name, 80) != 0)
    return "00000000";
  hostent* host = gethostbyname(name);
  if (!host || !host->h_addr_list[0])
    return "00000000";
  const auto* b = reinterpret_cast<const unsigned char*>(host->h_addr_list[0]);
  char digits[9];
  std::snprintf(digits, sizeof digits, "%02x%02x%02x%02x", b[3], b[2], b[1], b[0]);
  return digits;
}

TEST(KaMakeUuid, TwentyTwoHexDigitsOfTimeCounterAddressAndProcess) {
  char out[40];
  std::memset(out, '#', sizeof out);
  auto before = static_cast<unsigned long>(std::time(nullptr));
  ASSERT_EQ(out, kaMakeUuid(out, 22));
  auto after = static_cast<unsigned long>(std::time(nullptr));
  std::string id = out;
  ASSERT_EQ(22u, id.size());
  EXPECT_TRUE(IsLowerHex(id)) << id;
  unsigned long seconds = std::stoul(id.substr(0, 8), nullptr, 16);
  EXPECT_GE(seconds, before);
  EXPECT_LE(seconds, after);
  EXPECT_EQ(ExpectedAddressDigits(), id.substr(10, 8));
  char pid[5];
  std::snprintf(pid, sizeof pid, "%04x", static_cast<unsigned>(getpid()) & 0xFFFF);
  EXPECT_EQ(pid, id.substr(18, 4));
  EXPECT_EQ('#', out[23]);
}

TEST(KaMakeUuid, LongerIdentifiersEndInDigitsZeroToEight) {
  char out[40];
  std::memset(out, '#', sizeof out);
  kaMakeUuid(out, 32);
  std::string id = out;
  ASSERT_EQ(32u, id.size());
  EXPECT_TRUE(IsLowerHex(id.substr(0, 22)));
  EXPECT_EQ(std::string::npos, id.substr(22).find_first_not_of("012345678")) << id;
  EXPECT_EQ('#', out[33]);

  kaMakeUuid(out, 8);
  EXPECT_EQ(8u, std::strlen(out));
  kaMakeUuid(out, 0);
  EXPECT_STREQ("", out);
  kaMakeUuid(out, -5);
  EXPECT_STREQ("", out);
}

TEST(KaMakeUuid, CallsInOneSecondDifferInTheCounter) {
  char a[23];
  char b[23];
  kaMakeUuid(a, 22);
  kaMakeUuid(b, 22);
  if (std::strncmp(a, b, 8) != 0)
    kaMakeUuid(a, 22), kaMakeUuid(b, 22);
  ASSERT_EQ(0, std::strncmp(a, b, 8));
  unsigned first = std::stoul(std::string(a + 8, 2), nullptr, 16);
  unsigned second = std::stoul(std::string(b + 8, 2), nullptr, 16);
  EXPECT_EQ((first + 1) & 0xFF, second);
  EXPECT_EQ(0, std::strcmp(a + 10, b + 10));
}

TEST(KaGetCurrentTime, FourteenDigitsOfLocalTime) {
  char out[16];
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::time_t before = std::time(nullptr);
    kaGetCurrentTime(out);
    if (std::time(nullptr) != before)
      continue;
    std::tm local{};
    localtime_r(&before, &local);
    char expected[16];
    std::strftime(expected, sizeof expected, "%Y%m%d%H%M%S", &local);
    EXPECT_STREQ(expected, out);
    return;
  }
  ADD_FAILURE() << "the clock never stood still for a call";
}

TEST(KaTempName, DirectoryIdentifierAndExtension) {
  char out[MAX_PATH + 40];
  const char* saved = getenv("TMPDIR");
  std::string saved_value = saved ? saved : "";
  unsetenv("TMPDIR");
  std::string name = kaTempName(nullptr, nullptr, out);
  if (saved)
    setenv("TMPDIR", saved_value.c_str(), 1);
  ASSERT_EQ(std::string("\\tmp\\").size() + 32 + 4, name.size()) << name;
  EXPECT_EQ("\\tmp\\", name.substr(0, 5));
  EXPECT_EQ(".tmp", name.substr(37));
  EXPECT_TRUE(IsLowerHex(name.substr(5, 22)));

  name = kaTempName("C:\\work\\", "dat", out);
  EXPECT_EQ("C:\\work\\\\", name.substr(0, 9));
  EXPECT_EQ(".dat", name.substr(name.size() - 4));
  EXPECT_EQ(9u + 32 + 4, name.size());
}

TEST(KaInitSocket, StartsVersionOneAndBalances) {
  EXPECT_EQ(1, kaInitSocket());
  EXPECT_EQ(0, WSACleanup());
}

}  // namespace
