// Large gzip files as a sequence of independent members, compressed on several threads. A gzip
// file may hold any number of members (gunzip and kz_decompress join them), and deflate of one
// member never looks into another, so the members are compressed at once, each into its own
// slot of one output block, and then moved together.
#include "kz_members.h"

#include <libdeflate.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include "kz_limit.h"

namespace {

struct CompressorDeleter {
  void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};
using Compressor = std::unique_ptr<libdeflate_compressor, CompressorDeleter>;

// One member of the file: its input range, its slot in the output block and what it filled.
struct Member {
  const char* in;
  size_t in_size;
  size_t slot;
  size_t slot_size;
  size_t written;
};

constexpr size_t kGzipHeaderBytes = 10;
constexpr unsigned char kFlagExtra = 0x04;
// XLEN, then the subfield: its id, its length and the size.
constexpr size_t kSizeFieldTotal = 2 + 2 + 2 + kKzSizeFieldBytes;

void put_le(unsigned char* p, uint64_t v, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i)
    p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// Turns the header of the member compressed kSizeFieldTotal bytes into its slot into one with
// the size field, closing the gap. Returns the bytes the member now takes from the slot start.
size_t add_size_field(unsigned char* slot, size_t written, uint64_t total) {
  memmove(slot, slot + kSizeFieldTotal, kGzipHeaderBytes);
  slot[3] |= kFlagExtra;
  unsigned char* field = slot + kGzipHeaderBytes;
  put_le(field, kSizeFieldTotal - 2, 2);
  field[2] = kKzSizeFieldId[0];
  field[3] = kKzSizeFieldId[1];
  put_le(field + 4, kKzSizeFieldBytes, 2);
  put_le(field + 6, total, kKzSizeFieldBytes);
  return written + kSizeFieldTotal;
}

// Compresses members until none is left; each claims the next one by index.
void compress_members(libdeflate_compressor* c, std::vector<Member>* members,
                      std::atomic<size_t>* next, char* out) {
  for (size_t i = (*next)++; i < members->size(); i = (*next)++) {
    Member& m = (*members)[i];
    m.written = libdeflate_gzip_compress(c, m.in, m.in_size, out + m.slot, m.slot_size);
  }
}

}  // namespace

size_t kz_member_threads() {
  const unsigned cores = std::thread::hardware_concurrency();
  return std::clamp<size_t>(cores, 1, kKzMaxMemberThreads);
}

bool kz_compress_gzip_members(const char* data, size_t size, size_t threads, KzBlock* out,
                              size_t* out_size) {
  const size_t limit = kz_output_limit();
  if (size > limit)
    return false;
  kz_use_library_allocator();

  const size_t count = std::max<size_t>(1, (size + kKzMemberSize - 1) / kKzMemberSize);
  threads = std::clamp<size_t>(threads, 1, count);
  // Every allocation happens here, before any worker starts, so a failure is reported the same
  // way whatever the number of threads.
  std::vector<Compressor> compressors;
  compressors.reserve(threads);
  for (size_t t = 0; t < threads; ++t) {
    compressors.emplace_back(libdeflate_alloc_compressor(kKzMemberLevel));
    if (!compressors.back())
      return false;
  }
  std::vector<Member> members(count);
  // The first member of several leaves room in front for the size field.
  size_t total_bound = count > 1 ? kSizeFieldTotal : 0;
  for (size_t i = 0; i < count; ++i) {
    Member& m = members[i];
    m.in = data + i * kKzMemberSize;
    m.in_size = std::min(kKzMemberSize, size - i * kKzMemberSize);
    m.slot = total_bound;
    m.slot_size = libdeflate_gzip_compress_bound(compressors[0].get(), m.in_size);
    m.written = 0;
    total_bound += m.slot_size;
  }
  KzBlock buf(kz_alloc(total_bound));
  if (!buf.Get())
    return false;

  std::atomic<size_t> next{0};
  std::vector<std::thread> workers;
  workers.reserve(threads - 1);
  for (size_t t = 1; t < threads; ++t) {
    try {
      workers.emplace_back(compress_members, compressors[t].get(), &members, &next, buf.Get());
    } catch (const std::system_error&) {
      break;  // the threads already started and this one share the work
    }
  }
  compress_members(compressors[0].get(), &members, &next, buf.Get());
  for (std::thread& w : workers)
    w.join();

  size_t n = 0;
  for (size_t i = 0; i < count; ++i) {
    const Member& m = members[i];
    if (m.written < kGzipHeaderBytes)
      return false;
    size_t start = m.slot;
    size_t bytes = m.written;
    if (i == 0 && count > 1) {
      start = 0;
      bytes = add_size_field(reinterpret_cast<unsigned char*>(buf.Get()), m.written, size);
    }
    if (bytes > limit - n)
      return false;
    memmove(buf.Get() + n, buf.Get() + start, bytes);
    n += bytes;
  }
  buf.Reset(kz_shrink(buf.Release(), n));
  *out = std::move(buf);
  *out_size = n;
  return true;
}
