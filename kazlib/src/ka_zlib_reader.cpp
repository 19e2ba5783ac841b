// CKaZlibReader over zlib's inflate, which, unlike libdeflate, decodes a piece at a time into
// whatever room it is given. Its allocations go through kz_alloc like the rest of the library.
#include "KaZlibReader.h"

#include <zlib.h>

#include <new>
#include <utility>

#include "kz_file.h"
#include "kz_limit.h"

namespace {

// zlib's own format, and gzip only (not the automatic choice of both).
constexpr int kZlibWindow = 15;
constexpr int kGzipWindow = 15 + 16;

voidpf zlib_alloc(voidpf, uInt items, uInt size) {
  if (size && items > static_cast<uInt>(-1) / size)
    return nullptr;
  return kz_alloc(static_cast<size_t>(items) * size);
}

void zlib_free(voidpf, voidpf block) {
  kz_free(block);
}

}  // namespace

struct CKaZlibReader::State {
  z_stream z{};
  KzBlock file;  // the compressed bytes of OpenFile; OpenStream's belong to the caller
  bool gzip = false;
  bool ended = false;
  size_t total = 0;
};

CKaZlibReader::CKaZlibReader() : state_(nullptr) {}

CKaZlibReader::~CKaZlibReader() {
  Close();
}

void CKaZlibReader::Close() {
  if (!state_)
    return;
  inflateEnd(&state_->z);
  state_->~State();
  kz_free(state_);
  state_ = nullptr;
}

int CKaZlibReader::Start(const char* data, size_t size, bool gzip) {
  if (!data || size == 0 || size > kz_output_limit())
    return 0;
  void* block = kz_alloc(sizeof(State));
  if (!block)
    return 0;
  auto* s = new (block) State();
  s->gzip = gzip;
  s->z.zalloc = zlib_alloc;
  s->z.zfree = zlib_free;
  s->z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
  s->z.avail_in = static_cast<uInt>(size);
  if (inflateInit2(&s->z, gzip ? kGzipWindow : kZlibWindow) != Z_OK) {
    s->~State();
    kz_free(block);
    return 0;
  }
  state_ = s;
  return 1;
}

int CKaZlibReader::OpenStream(const char* data, unsigned long size) {
  Close();
  return Start(data, size, /*gzip=*/false);
}

int CKaZlibReader::OpenFile(const char* path) {
  Close();
  KzBlock file;
  size_t size = 0;
  if (!kz_read_file(path, kz_output_limit(), &file, &size) ||
      !Start(file.Get(), size, /*gzip=*/true))
    return 0;
  state_->file = std::move(file);  // the bytes stay where the stream reads them
  return 1;
}

int CKaZlibReader::Read(char* out, DWORD capacity, DWORD* got) {
  if (got)
    *got = 0;
  if (!state_ || !out || !got || capacity == 0) {
    Close();
    return 0;
  }
  State& s = *state_;
  if (s.ended)
    return 1;
  const size_t limit = kz_output_limit();
  z_stream& z = s.z;
  z.next_out = reinterpret_cast<Bytef*>(out);
  z.avail_out = capacity;
  while (z.avail_out > 0) {
    const uInt room = z.avail_out;
    const int r = inflate(&z, Z_NO_FLUSH);
    s.total += room - z.avail_out;
    if (s.total > limit)
      break;
    if (r == Z_OK)
      continue;
    if (r != Z_STREAM_END)
      break;  // corrupt, truncated (no input left for the room there is) or out of memory
    if (z.avail_in == 0) {
      s.ended = true;
      break;
    }
    // A zlib stream is one member; whatever follows it is not ours to accept. A gzip file may
    // hold more members; bytes that do not start one fail in the next inflate.
    if (!s.gzip || inflateReset(&z) != Z_OK)
      break;
  }
  if ((!s.ended && z.avail_out > 0) || s.total > limit) {
    Close();
    return 0;
  }
  *got = capacity - z.avail_out;
  return 1;
}

DWORD CKaZlibReader::GetTotal() const {
  return state_ ? static_cast<DWORD>(state_->total) : 0;
}
