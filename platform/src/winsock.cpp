// Windows Sockets start-up, host lookup and address text (winsock2.h, ws2tcpip.h): WSAStartup,
// WSACleanup, WSAGetLastError, gethostname, gethostbyname, InetNtopA, InetPtonA. The lookups
// themselves are in hostlookup.cpp.
#include "winsock2.h"

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "hostlookup.h"
#include "winerror.h"
#include "ws2tcpip.h"

namespace {

std::atomic<int> startups{0};
thread_local int last_socket_error = 0;

int fail(int error) {
  last_socket_error = error;
  return SOCKET_ERROR;
}

// The record that gethostbyname hands out, one per thread as on the platform.
struct HostRecord {
  std::string name;
  std::vector<uint32_t> addresses;
  std::vector<char*> address_list;
  char* aliases[1] = {nullptr};
  hostent entry{};
};
thread_local HostRecord host_record;

}  // namespace

int WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData) {
  if (!lpWSAData)
    return WSAEFAULT;
  BYTE major = LOBYTE(wVersionRequested);
  BYTE minor = HIBYTE(wVersionRequested);
  if (major < 1)
    return WSAVERNOTSUPPORTED;
  std::memset(lpWSAData, 0, sizeof *lpWSAData);
  lpWSAData->wVersion =
      (major > 2 || (major == 2 && minor > 2)) ? MAKEWORD(2, 2) : wVersionRequested;
  lpWSAData->wHighVersion = MAKEWORD(2, 2);
  std::strcpy(lpWSAData->szDescription, "Sockets of the Linux platform layer");
  std::strcpy(lpWSAData->szSystemStatus, "Running");
  startups.fetch_add(1);
  return 0;
}

int WSACleanup(void) {
  int count = startups.load();
  while (count > 0 && !startups.compare_exchange_weak(count, count - 1)) {
  }
  if (count <= 0)
    return fail(WSANOTINITIALISED);
  return 0;
}

int WSAGetLastError(void) {
  return last_socket_error;
}

int ws_gethostname(char* name, int namelen) {
  if (startups.load() <= 0)
    return fail(WSANOTINITIALISED);
  std::string host;
  if (!name || namelen <= 0 || !host_name(&host) || host.size() + 1 > static_cast<size_t>(namelen))
    return fail(WSAEFAULT);
  std::memcpy(name, host.c_str(), host.size() + 1);
  return 0;
}

hostent* ws_gethostbyname(const char* name) {
  if (startups.load() <= 0) {
    fail(WSANOTINITIALISED);
    return nullptr;
  }
  if (!name) {
    fail(WSAEFAULT);
    return nullptr;
  }
  HostRecord& record = host_record;
  std::vector<uint32_t> addresses;
  HostLookup found = resolve_ipv4(name, &addresses);
  if (found != HostLookup::kFound) {
    fail(found == HostLookup::kNoAddress ? WSANO_DATA : WSAHOST_NOT_FOUND);
    return nullptr;
  }
  record.name = name;
  record.addresses = std::move(addresses);
  record.address_list.clear();
  for (uint32_t& a : record.addresses)
    record.address_list.push_back(reinterpret_cast<char*>(&a));
  record.address_list.push_back(nullptr);
  record.entry.h_name = record.name.data();
  record.entry.h_aliases = record.aliases;
  record.entry.h_addrtype = AF_INET;
  record.entry.h_length = 4;
  record.entry.h_addr_list = record.address_list.data();
  return &record.entry;
}

PCSTR InetNtopA(INT Family, const VOID* pAddr, PSTR pStringBuf, size_t StringBufSize) {
  if (Family != AF_INET) {
    fail(WSAEAFNOSUPPORT);
    return nullptr;
  }
  if (!pAddr || !pStringBuf || !os_address_text(pAddr, pStringBuf, StringBufSize)) {
    fail(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return pStringBuf;
}

INT InetPtonA(INT Family, PCSTR pszAddrString, PVOID pAddrBuf) {
  if (Family != AF_INET)
    return fail(WSAEAFNOSUPPORT);
  return pszAddrString && pAddrBuf && os_address_of_text(pszAddrString, pAddrBuf) ? 1 : 0;
}
