// CKaZlib's decompression on arbitrary bytes: UnCompress as a zlib stream in memory and
// UnZip2Buffer as a gzip file on disk. Each succeeds with a result or fails with an empty
// object, and agrees with zlib: what zlib decodes in full it decodes to the same bytes, and what
// zlib refuses it refuses.
//
// The output limit is lowered to 1 MiB, so that a small input cannot ask for gigabytes.
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <zlib.h>

#include <string>

#include "KaZlib.h"
#include "KaZlibLimit.h"
#include "fuzz_check.h"
#include "scratch_dir.h"

namespace {

constexpr DWORD kLimit = 1 << 20;

// zlib's decoding of the whole input: windowBits 15 for a zlib stream, 31 for gzip members one
// after another. False when it fails, leaves bytes over, or passes the limit.
bool reference(const uint8_t* data, size_t size, int window_bits, std::string& out) {
  z_stream z{};
  if (inflateInit2(&z, window_bits) != Z_OK)
    return false;
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = static_cast<uInt>(size);
  unsigned char chunk[16384];
  bool ok = size > 0;
  while (ok) {
    z.next_out = chunk;
    z.avail_out = sizeof chunk;
    const int r = inflate(&z, Z_NO_FLUSH);
    out.append(reinterpret_cast<char*>(chunk), sizeof chunk - z.avail_out);
    if (out.size() > kLimit) {
      ok = false;
    } else if (r == Z_STREAM_END) {
      // gzip: another member may follow.
      if (z.avail_in == 0 || window_bits != 31)
        break;
      ok = inflateReset(&z) == Z_OK;
    } else if (r != Z_OK || (z.avail_in == 0 && z.avail_out != 0)) {
      ok = false;  // an error, or input that ended inside the stream
    }
  }
  ok = ok && z.avail_in == 0;
  inflateEnd(&z);
  return ok;
}

void compare(const CKaZlib& z, int ok, const uint8_t* data, size_t size, int window_bits) {
  std::string expected;
  const bool decoded = reference(data, size, window_bits, expected);
  if (!ok) {
    FUZZ_CHECK(z.m_pResultData == nullptr && z.m_dwResultSize == 0, "a failure leaves nothing");
    FUZZ_CHECK(!decoded, "what zlib decodes is decoded");
    return;
  }
  FUZZ_CHECK(z.m_pResultData != nullptr && z.m_dwResultSize <= kLimit,
             "a result is there and within the limit");
  FUZZ_CHECK(decoded, "what zlib refuses is refused");
  FUZZ_CHECK(expected.size() == z.m_dwResultSize &&
                 memcmp(expected.data(), z.m_pResultData, expected.size()) == 0,
             "the output is zlib's");
}

const std::string& gzip_file() {
  static const std::string path = fuzz::ScratchDir() + "/input.gz";
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  KaZlibSetOutputLimit(kLimit);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // UnCompress only reads its input (libFuzzer checks that it is left as it was), and the
  // input's block ends where it does, so a read past it is caught.
  {
    CKaZlib z;
    const int ok = z.UnCompress(const_cast<char*>(reinterpret_cast<const char*>(data)), size);
    compare(z, ok, data, size, 15);
  }
  fuzz::WriteFile(gzip_file(), data, size);
  CKaZlib z;
  const int ok = z.UnZip2Buffer(gzip_file().c_str());
  compare(z, ok, data, size, 31);
  return 0;
}
