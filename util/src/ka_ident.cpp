// Socket start-up, identifiers, time stamps and temporary names.
#include "KaIdent.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "fileapi.h"
#include "minwinbase.h"
#include "processthreadsapi.h"
#include "synchapi.h"
#include "sysinfoapi.h"
#include "winsock2.h"

namespace {

constexpr int kFixedDigits = 22;
constexpr int kHostNameSize = 80;
constexpr int kTempNameDigits = 32;

// Calls of kaMakeUuid in this process; atomic so that two threads never read the same value.
std::atomic<uint32_t> call_counter{0};

// The host's first IPv4 address, its four bytes read as a little-endian number; 0 when the
// host has no name or no address.
uint32_t host_address() {
  char name[kHostNameSize];
  if (gethostname(name, kHostNameSize) != 0)
    return 0;
  hostent* host = gethostbyname(name);
  if (!host || host->h_length != 4 || !host->h_addr_list[0])
    return 0;
  const auto* b = reinterpret_cast<const unsigned char*>(host->h_addr_list[0]);
  return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
         static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
}

// One draw of a run-time-library style generator (0 to 32767) freshly seeded with seed. Local,
// so that the caller's own generator is never disturbed.
unsigned draw(uint32_t seed) {
  uint32_t state = seed * 214013u + 2531011u;
  return (state >> 16) & 0x7FFF;
}

}  // namespace

int kaInitSocket(void) {
  WSADATA data;
  if (WSAStartup(MAKEWORD(1, 1), &data) != 0)
    return 0;
  if (LOBYTE(data.wVersion) != 1) {
    WSACleanup();
    return 0;
  }
  return 1;
}

char* kaMakeUuid(char* out, int length) {
  if (length < 0)
    length = 0;
  uint32_t address = host_address();
  uint32_t pid = GetCurrentProcessId() & 0xFFFF;
  auto now = static_cast<uint32_t>(std::time(nullptr));
  Sleep(1);
  uint32_t count = call_counter.fetch_add(1) & 0xFF;
  char fixed[kFixedDigits + 1];
  std::snprintf(fixed, sizeof fixed, "%08x%02x%08x%04x", now, count, address, pid);
  int printed = length < kFixedDigits ? length : kFixedDigits;
  std::memcpy(out, fixed, static_cast<size_t>(printed));
  for (int p = printed; p < length; ++p) {
    uint32_t seed = GetTickCount() * static_cast<uint32_t>(p + 1) * static_cast<uint32_t>(length);
    out[p] = static_cast<char>('0' + draw(seed) % 9);
  }
  out[length] = '\0';
  return out;
}

char* kaGetCurrentTime(char* out) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  // Room for any field values; the clock gives 14 digits.
  char stamp[48];
  std::snprintf(stamp, sizeof stamp, "%04d%02d%02d%02d%02d%02d", now.wYear % 10000, now.wMonth,
                now.wDay, now.wHour, now.wMinute, now.wSecond);
  std::memcpy(out, stamp, 14);
  out[14] = '\0';
  return out;
}

char* kaTempName(const char* dir, const char* ext, char* out) {
  char temp[MAX_PATH];
  if (!dir) {
    DWORD len = GetTempPathA(MAX_PATH, temp);
    if (len == 0 || len >= MAX_PATH) {
      temp[0] = '.';
      len = 1;
    } else if (temp[len - 1] == '\\') {
      --len;
    }
    temp[len] = '\0';
    dir = temp;
  }
  char id[kTempNameDigits + 1];
  kaMakeUuid(id, kTempNameDigits);
  const char* extension = ext ? ext : "tmp";
  size_t dir_len = std::strlen(dir);
  size_t ext_len = std::strlen(extension);
  std::memmove(out, dir, dir_len);
  char* w = out + dir_len;
  *w++ = '\\';
  std::memcpy(w, id, kTempNameDigits);
  w += kTempNameDigits;
  *w++ = '.';
  std::memcpy(w, extension, ext_len + 1);
  return out;
}
