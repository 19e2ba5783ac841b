// Tests of socket start-up and host lookup: the start-up count, the version answer and the
// refusals before start-up and for short buffers.
#include <gtest/gtest.h>

#include <cstring>

#include "winsock2.h"

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

}  // namespace
