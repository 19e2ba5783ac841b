// Scrambling of short texts (kaEncrypt, kaDecrypt). Each function copies its input into
// scratch space sized for its limit first, so that in and out may overlap.
#include "KaScramble.h"

#include <cstring>

#include "KaString.h"

namespace {

constexpr unsigned char kHighBase = 0x43;  // 'C'
constexpr unsigned char kLowBase = 0x44;   // 'D'

}  // namespace

char* kaEncrypt(const char* in, char* out) {
  int n = kaStringLen(in);
  if (n > kaEncryptMaxInput) {
    out[0] = '\0';
    return nullptr;
  }
  signed char plain[kaEncryptMaxInput];
  if (n > 0)
    std::memcpy(plain, in, static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    int v = plain[i];
    int high = v / 16;
    int low = v - 16 * high;
    out[2 * i] = static_cast<char>(static_cast<unsigned char>(kHighBase + high));
    out[2 * i + 1] = static_cast<char>(static_cast<unsigned char>(kLowBase + low));
  }
  out[2 * n] = '\0';
  return out;
}

char* kaDecrypt(const char* in, char* out) {
  int n = kaStringLen(in);
  if (n % 2 != 0)
    return const_cast<char*>(in);
  if (n > kaDecryptMaxInput) {
    out[0] = '\0';
    return nullptr;
  }
  unsigned char scrambled[kaDecryptMaxInput];
  if (n > 0)
    std::memcpy(scrambled, in, static_cast<size_t>(n));
  for (int i = 0; i < n / 2; ++i) {
    auto high = static_cast<unsigned char>(scrambled[2 * i] - kHighBase);
    auto low = static_cast<unsigned char>(scrambled[2 * i + 1] - kLowBase);
    out[i] = static_cast<char>(static_cast<unsigned char>(high * 16 + low));
  }
  out[n / 2] = '\0';
  return out;
}
