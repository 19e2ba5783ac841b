// Windows Sockets: start-up and clean-up, the host's name and its IPv4 addresses. This platform's
// socket layer needs no start-up; WSAStartup still counts its callers, and the host functions
// refuse to work before it, as on the platform.
//
// gethostname and gethostbyname keep their names in source, but the C library owns those
// symbols on this system: the layer exports them as ws_gethostname and ws_gethostbyname, and
// C++ sources reach them through the inline forwarders at the end of this header. Pass the
// length of gethostname as an int, as the platform declares it: a size_t length picks the C
// library's own function when <unistd.h> is visible. A source file that includes this header
// must not include <netdb.h>, whose hostent differs.
#pragma once

#include "windef.h"

#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128

#define MAKEWORD(a, b) \
  ((WORD)(((BYTE)(((DWORD_PTR)(a)) & 0xff)) | ((WORD)((BYTE)(((DWORD_PTR)(b)) & 0xff))) << 8))
#define LOBYTE(w) ((BYTE)(((DWORD_PTR)(w)) & 0xff))
#define HIBYTE(w) ((BYTE)((((DWORD_PTR)(w)) >> 8) & 0xff))

#define SOCKET_ERROR (-1)
#ifndef AF_INET
#define AF_INET 2
#endif

#define WSAEFAULT 10014L
#define WSAEAFNOSUPPORT 10047L
#define WSASYSNOTREADY 10091L
#define WSAVERNOTSUPPORTED 10092L
#define WSANOTINITIALISED 10093L
#define WSAHOST_NOT_FOUND 11001L
#define WSANO_DATA 11004L

typedef struct WSAData {
  WORD wVersion;
  WORD wHighVersion;
  unsigned short iMaxSockets;
  unsigned short iMaxUdpDg;
  char* lpVendorInfo;
  char szDescription[WSADESCRIPTION_LEN + 1];
  char szSystemStatus[WSASYS_STATUS_LEN + 1];
} WSADATA, *LPWSADATA;

struct hostent {
  char* h_name;
  char** h_aliases;
  short h_addrtype;
  short h_length;
  char** h_addr_list;
};
#define h_addr h_addr_list[0]

// WSAStartup
// Starts the socket layer for the caller; each successful call needs one WSACleanup.
// Params:  wVersionRequested [I] MAKEWORD(major, minor); lpWSAData [O] required.
// Returns: 0, with lpWSAData->wVersion the lower of the request and 2.2; WSAVERNOTSUPPORTED for
//          a request below 1.0 (nothing started); WSAEFAULT for a null lpWSAData.
WINAPI_EXPORT int WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData);

// WSACleanup
// Ends one WSAStartup.
// Returns: 0; SOCKET_ERROR with WSAGetLastError WSANOTINITIALISED when nothing is started.
WINAPI_EXPORT int WSACleanup(void);

// WSAGetLastError
// Returns the calling thread's last socket error.
WINAPI_EXPORT int WSAGetLastError(void);

// gethostname (exported as ws_gethostname)
// Writes the host's name, zero-terminated, into name (namelen bytes).
// Returns: 0; SOCKET_ERROR with WSAGetLastError WSANOTINITIALISED, or WSAEFAULT when name is
//          null or too small for the name and its zero byte (nothing is written then).
WINAPI_EXPORT int ws_gethostname(char* name, int namelen);

// gethostbyname (exported as ws_gethostbyname)
// Resolves a host name to its IPv4 addresses.
// Returns: a record of the calling thread (overwritten by its next call), h_addr_list holding
//          4-byte addresses in network order and ending in null; null with WSAGetLastError
//          WSANOTINITIALISED, WSAHOST_NOT_FOUND, WSANO_DATA, WSAEFAULT (null name).
WINAPI_EXPORT struct hostent* ws_gethostbyname(const char* name);

#ifdef __cplusplus
inline int gethostname(char* name, int namelen) {
  return ws_gethostname(name, namelen);
}
inline struct hostent* gethostbyname(const char* name) {
  return ws_gethostbyname(name);
}
#endif
