// Whole-buffer deflate compression and decompression in the zlib stream and gzip file formats,
// over libdeflate, with output bounded by the library's output limit.
#pragma once

#include <stddef.h>

#include "kz_alloc.h"

enum class KzFormat {
  kZlib,  // RFC 1950: one stream that fills the input exactly
  kGzip,  // RFC 1952: one or more members, one after another
};

// Compresses size bytes at data (null allowed when size is 0). On success *out holds
// *out_size bytes; fails when the input or the output passes the output limit, or memory runs
// out.
KAZLIB_HIDDEN bool kz_compress(KzFormat format, const char* data, size_t size, KzBlock* out,
                               size_t* out_size);

// Decompresses size bytes at data, which must be exactly a zlib stream or a sequence of gzip
// members. On success *out holds *out_size bytes; fails on empty, corrupt or truncated input,
// trailing bytes, output past the output limit, or memory running out.
KAZLIB_HIDDEN bool kz_decompress(KzFormat format, const char* data, size_t size, KzBlock* out,
                                 size_t* out_size);
