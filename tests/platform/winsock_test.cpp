// Tests of socket start-up, host lookup and address text: the start-up count, the version
// answer, the refusals before start-up and for short buffers, and addresses to text and back.
#include <gtest/gtest.h>

#include <cstring>

#include "winsock2.h"
#include "ws2tcpip.h"

namespace {

TEST(WinSock, HostFunctionsNeedStartUp) {
  char name[256];
  EXPECT_EQ(SOCKET_ERROR, WSACleanup());
  EXPECT_EQ(WSANOTINITIALISED, WSAGetLastError());
  EXPECT_EQ(SOCKET_ERROR, gethostname(name, 256));
  EXPECT_EQ(WSANOTINITIALISED, WSAGetLastError());
  EXPECT_EQ(nullptr, gethostbyname("localhost"));
  EXPECT_EQ(WSANOTINITIALISED, WSAGetLastError());
}

TEST(WinSock, StartUpAnswersTheVersion) {
  WSADATA data;
  ASSERT_EQ(0, WSAStartup(MAKEWORD(1, 1), &data));
  EXPECT_EQ(MAKEWORD(1, 1), data.wVersion);
  EXPECT_EQ(MAKEWORD(2, 2), data.wHighVersion);
  ASSERT_EQ(0, WSAStartup(MAKEWORD(3, 0), &data));
  EXPECT_EQ(MAKEWORD(2, 2), data.wVersion);
  EXPECT_EQ(WSAVERNOTSUPPORTED, WSAStartup(MAKEWORD(0, 9), &data));
  EXPECT_EQ(WSAEFAULT, WSAStartup(MAKEWORD(2, 2), nullptr));
  EXPECT_EQ(0, WSACleanup());
  EXPECT_EQ(0, WSACleanup());
  EXPECT_EQ(SOCKET_ERROR, WSACleanup());
}

TEST(WinSock, HostNameAndAddresses) {
  WSADATA data;
  ASSERT_EQ(0, WSAStartup(MAKEWORD(1, 1), &data));
  char name[256];
  ASSERT_EQ(0, gethostname(name, 256));
  size_t len = std::strlen(name);
  EXPECT_GT(len, 0u);
  char tiny[2] = {'x', 'x'};
  if (len >= 2) {
    EXPECT_EQ(SOCKET_ERROR, gethostname(tiny, 2));
    EXPECT_EQ(WSAEFAULT, WSAGetLastError());
    EXPECT_EQ('x', tiny[0]);
  }
  hostent* host = gethostbyname("localhost");
  ASSERT_NE(nullptr, host);
  EXPECT_EQ(AF_INET, host->h_addrtype);
  EXPECT_EQ(4, host->h_length);
  ASSERT_NE(nullptr, host->h_addr_list[0]);
  const unsigned char loopback[4] = {127, 0, 0, 1};
  EXPECT_EQ(0, std::memcmp(loopback, host->h_addr_list[0], 4));
  EXPECT_EQ(nullptr, gethostbyname("no-such-host.invalid"));
  EXPECT_NE(0, WSAGetLastError());
  EXPECT_EQ(0, WSACleanup());
}

TEST(WinSock, AddressesToTextAndBack) {
  IN_ADDR address{};
  ASSERT_EQ(1, InetPtonA(AF_INET, "192.168.10.254", &address));
  const auto* bytes = reinterpret_cast<const unsigned char*>(&address.S_addr);
  EXPECT_EQ(192, bytes[0]);  // network byte order
  EXPECT_EQ(254, bytes[3]);
  char text[INET_ADDRSTRLEN];
  ASSERT_EQ(text, InetNtopA(AF_INET, &address, text, sizeof text));
  EXPECT_STREQ("192.168.10.254", text);
  for (const char* each : {"0.0.0.0", "10.0.99.7", "255.255.255.255", "1.20.100.9"}) {
    ASSERT_EQ(1, InetPtonA(AF_INET, each, &address)) << each;
    ASSERT_EQ(text, InetNtopA(AF_INET, &address, text, sizeof text)) << each;
    EXPECT_STREQ(each, text);
  }
  char exact[16];
  EXPECT_EQ(exact, InetNtopA(AF_INET, &address, exact, sizeof exact)) << "the longest, 15 and 0";
  EXPECT_EQ(nullptr, InetNtopA(AF_INET, &address, exact, 10));

  for (const char* bad : {"", "1.2.3", "1.2.3.256", "1.2.3.4 ", "localhost", "::1"})
    EXPECT_EQ(0, InetPtonA(AF_INET, bad, &address)) << bad;
  EXPECT_EQ(-1, InetPtonA(23, "::1", &address));  // another family
  EXPECT_EQ(WSAEAFNOSUPPORT, WSAGetLastError());
  char small[8];
  EXPECT_EQ(nullptr, InetNtopA(AF_INET, &address, small, sizeof small));
  EXPECT_EQ(nullptr, InetNtopA(23, &address, text, sizeof text));
  EXPECT_EQ(WSAEAFNOSUPPORT, WSAGetLastError());
  EXPECT_EQ(16u, sizeof(SOCKADDR_IN));  // what the system's socket calls take
}

}  // namespace
