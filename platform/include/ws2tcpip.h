// IPv4 socket addresses and their text: the parts of Windows Sockets' TCP/IP helpers that the
// script host needs to name its clients and to bind its port. The address types carry tags of
// their own, so that they never meet the C library's in one source file.
#pragma once

#include <stddef.h>

#include "winsock2.h"

#define INET_ADDRSTRLEN 22

typedef USHORT ADDRESS_FAMILY;

typedef struct platform_in_addr {
  ULONG S_addr;  // network byte order
} IN_ADDR;

typedef struct platform_sockaddr_in {
  ADDRESS_FAMILY sin_family;
  USHORT sin_port;  // network byte order
  IN_ADDR sin_addr;
  CHAR sin_zero[8];
} SOCKADDR_IN;

// InetNtopA
// Writes an address as text.
// Params:  Family [I] AF_INET; pAddr [I] an IN_ADDR; pStringBuf [O]; StringBufSize [I] chars.
// Returns: pStringBuf; null with WSAEAFNOSUPPORT (another family) or ERROR_INVALID_PARAMETER
//          (a buffer too small) from WSAGetLastError.
WINAPI_EXPORT PCSTR InetNtopA(INT Family, const VOID* pAddr, PSTR pStringBuf, size_t StringBufSize);

// InetPtonA
// Reads the dotted text of an IPv4 address.
// Params:  Family [I] AF_INET; pszAddrString [I]; pAddrBuf [O] an IN_ADDR.
// Returns: 1; 0 when the text is no address; -1 with WSAEAFNOSUPPORT for another family.
WINAPI_EXPORT INT InetPtonA(INT Family, PCSTR pszAddrString, PVOID pAddrBuf);
