// A socket layer that refuses to start: preloaded into a child by the test of the library's
// load, its WSAStartup stands in for the platform's.
#include "winsock2.h"

extern "C" __attribute__((visibility("default"))) int WSAStartup(WORD, LPWSADATA) {
  return WSASYSNOTREADY;
}
