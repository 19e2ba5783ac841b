// Deflate through libdeflate. libdeflate works on whole buffers and needs the output buffer up
// front, so decompression guesses a size, and when the output does not fit grows the buffer
// (doubling, up to the output limit) and decodes the member again.
#include "kz_codec.h"

#include <libdeflate.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <utility>

#include "kz_limit.h"
#include "kz_members.h"

namespace {

// zlib streams (one member, one thread) at libdeflate level 6: within about 2% of the size of
// zlib's default level at 2.5 to 3.5 times its speed; level 7 is smaller than zlib's but only
// 1.5 times as fast (bench/kazlib_bench.cpp). Gzip files go through kz_compress_gzip_members.
constexpr int kCompressionLevel = 6;
// Deflate expands at most 1032:1 (a 258-byte match in two bits), so a size hint beyond that is
// a lie and is not allocated.
constexpr size_t kMaxExpansion = 1032;
// A gzip member is at least a 10-byte header, an empty deflate block and an 8-byte trailer.
constexpr size_t kGzipMinMember = 18;
constexpr size_t kFirstGuessFactor = 4;
constexpr size_t kMinCapacity = 4096;

struct CompressorDeleter {
  void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};
struct DecompressorDeleter {
  void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};
using Compressor = std::unique_ptr<libdeflate_compressor, CompressorDeleter>;
using Decompressor = std::unique_ptr<libdeflate_decompressor, DecompressorDeleter>;

uint32_t read_le32(const unsigned char* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// size * factor, or limit when that is more.
size_t scaled_up_to(size_t size, size_t factor, size_t limit) {
  return size > limit / factor ? limit : std::min(size * factor, limit);
}

// The whole size a file of several members of ours names in its first header, or 0.
uint64_t named_size(const unsigned char* in, size_t size) {
  constexpr size_t kHeader = 10;
  if (size < kHeader + 2 || in[0] != 0x1f || in[1] != 0x8b || !(in[3] & 0x04))
    return 0;
  const size_t xlen = in[kHeader] | size_t{in[kHeader + 1]} << 8;
  const unsigned char* field = in + kHeader + 2;
  const unsigned char* end = field + std::min(xlen, size - kHeader - 2);
  while (end - field >= 4) {
    const size_t len = field[2] | size_t{field[3]} << 8;
    if (static_cast<size_t>(end - field - 4) < len)
      break;
    if (field[0] == kKzSizeFieldId[0] && field[1] == kKzSizeFieldId[1] &&
        len == kKzSizeFieldBytes) {
      uint64_t v = 0;
      for (size_t i = 0; i < kKzSizeFieldBytes; ++i)
        v |= uint64_t{field[4 + i]} << (8 * i);
      return v;
    }
    field += 4 + len;
  }
  return 0;
}

// The first output buffer size: the whole size a file of several members names, or the last
// gzip member's recorded size (exact for the usual single member, modulo 2^32), otherwise a few
// times the input; never more than the input can expand to, nor more than the limit. Either
// record is a hint only.
size_t first_capacity(KzFormat format, const unsigned char* in, size_t size, size_t limit) {
  size_t guess = scaled_up_to(size, kFirstGuessFactor, limit);
  if (format == KzFormat::kGzip && size >= kGzipMinMember) {
    const uint64_t named = named_size(in, size);
    const uint32_t recorded = read_le32(in + size - 4);
    if (named)
      guess = static_cast<size_t>(std::min<uint64_t>(named, limit));
    else if (recorded)
      guess = recorded;
  }
  guess =
      std::min({std::max(guess, kMinCapacity), scaled_up_to(size, kMaxExpansion, limit), limit});
  return std::max<size_t>(guess, 1);
}

// The buffer size after a member did not fit: twice the old one, or more when the members
// decoded so far say the whole file expands further (a file of many members records only the
// last one's size), with an eighth to spare.
size_t next_capacity(size_t capacity, size_t in_pos, size_t out_pos, size_t size, size_t limit) {
  size_t next = capacity > limit / 2 ? limit : capacity * 2;
  if (in_pos && out_pos) {
    const double projected = static_cast<double>(out_pos) / static_cast<double>(in_pos) *
                             static_cast<double>(size) * 1.125;
    if (projected >= static_cast<double>(limit))
      return limit;
    next = std::max(next, static_cast<size_t>(projected));
  }
  return next;
}

// libdeflate skips a gzip member's header CRC (FHCRC) unchecked; zlib and gunzip refuse a
// member whose header does not match it, and so does this. A header cut short is left to
// libdeflate, which refuses it.
bool header_crc_matches(const unsigned char* in, size_t size) {
  constexpr size_t kFixedHeader = 10;
  constexpr unsigned char kHeaderCrc = 0x02;
  constexpr unsigned char kExtra = 0x04;
  constexpr unsigned char kName = 0x08;
  constexpr unsigned char kComment = 0x10;
  if (size < kFixedHeader || !(in[3] & kHeaderCrc))
    return true;
  size_t pos = kFixedHeader;
  if (in[3] & kExtra) {
    if (size - pos < 2)
      return true;
    pos += 2 + (in[pos] | size_t{in[pos + 1]} << 8);
  }
  for (unsigned char text : {kName, kComment}) {
    if (!(in[3] & text) || pos >= size)
      continue;
    const void* end = memchr(in + pos, 0, size - pos);
    if (!end)
      return true;
    pos = static_cast<size_t>(static_cast<const unsigned char*>(end) - in) + 1;
  }
  if (pos > size || size - pos < 2)
    return true;
  const uint32_t crc = libdeflate_crc32(0, in, pos);
  return (crc & 0xFFFF) == (in[pos] | uint32_t{in[pos + 1]} << 8);
}

libdeflate_result decode_member(libdeflate_decompressor* d, KzFormat format,
                                const unsigned char* in, size_t in_size, char* out,
                                size_t out_avail, size_t* in_used, size_t* out_used) {
  if (format == KzFormat::kZlib)
    return libdeflate_zlib_decompress_ex(d, in, in_size, out, out_avail, in_used, out_used);
  return libdeflate_gzip_decompress_ex(d, in, in_size, out, out_avail, in_used, out_used);
}

}  // namespace

bool kz_compress(KzFormat format, const char* data, size_t size, KzBlock* out, size_t* out_size) {
  static const char kNothing[1] = {0};
  const size_t limit = kz_output_limit();
  if (size > limit)
    return false;
  if (!data)
    data = kNothing;
  if (format == KzFormat::kGzip)
    return kz_compress_gzip_members(data, size, kz_member_threads(), out, out_size);
  kz_use_library_allocator();
  Compressor c(libdeflate_alloc_compressor(kCompressionLevel));
  if (!c)
    return false;
  const size_t bound = libdeflate_zlib_compress_bound(c.get(), size);
  KzBlock buf(kz_alloc(bound));
  if (!buf.Get())
    return false;
  const size_t n = libdeflate_zlib_compress(c.get(), data, size, buf.Get(), bound);
  if (n == 0 || n > limit)
    return false;
  buf.Reset(kz_shrink(buf.Release(), n));
  *out = std::move(buf);
  *out_size = n;
  return true;
}

bool kz_decompress(KzFormat format, const char* data, size_t size, KzBlock* out, size_t* out_size) {
  if (!data || size == 0)
    return false;
  const size_t limit = kz_output_limit();
  const auto* in = reinterpret_cast<const unsigned char*>(data);
  kz_use_library_allocator();
  Decompressor d(libdeflate_alloc_decompressor());
  if (!d)
    return false;
  size_t capacity = first_capacity(format, in, size, limit);
  KzBlock buf(kz_alloc(capacity));
  if (!buf.Get())
    return false;

  size_t in_pos = 0;
  size_t out_pos = 0;
  while (in_pos < size) {
    if (format == KzFormat::kGzip && !header_crc_matches(in + in_pos, size - in_pos))
      return false;
    size_t in_used = 0;
    size_t out_used = 0;
    libdeflate_result r =
        decode_member(d.get(), format, in + in_pos, size - in_pos, buf.Get() + out_pos,
                      capacity - out_pos, &in_used, &out_used);
    if (r == LIBDEFLATE_INSUFFICIENT_SPACE) {
      if (capacity >= limit)
        return false;
      capacity = next_capacity(capacity, in_pos, out_pos, size, limit);
      buf.Reset(kz_grow_or_free(buf.Release(), out_pos, capacity));
      if (!buf.Get())
        return false;
      continue;
    }
    if (r != LIBDEFLATE_SUCCESS)
      return false;
    in_pos += in_used;
    out_pos += out_used;
    // A zlib stream is one member; whatever follows it is not ours to accept.
    if (format == KzFormat::kZlib)
      break;
  }
  if (in_pos != size)
    return false;
  if (out_pos < capacity)
    buf.Reset(kz_shrink(buf.Release(), out_pos));
  *out = std::move(buf);
  *out_size = out_pos;
  return true;
}
