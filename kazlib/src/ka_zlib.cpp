// CKaZlib: the exported class, one whole-buffer operation per call over the library's codec
// and file helpers. Every result block comes from kz_alloc and is released by the object.
#include "KaZlib.h"

#include "kz_codec.h"
#include "kz_file.h"
#include "kz_limit.h"

namespace {

// Releases the result; the object is then empty.
void empty_result(CKaZlib* z) {
  kz_free(z->m_pResultData);
  z->m_pResultData = nullptr;
  z->m_dwResultSize = 0;
}

// Gives the object a result block; every size here is within the output limit, so a DWORD.
int adopt_result(CKaZlib* z, KzBlock* block, size_t size) {
  z->m_pResultData = block->Release();
  z->m_dwResultSize = static_cast<DWORD>(size);
  return 1;
}

}  // namespace

CKaZlib::CKaZlib() : m_pResultData(nullptr), m_dwResultSize(0) {}

CKaZlib::~CKaZlib() {
  empty_result(this);
}

int CKaZlib::Compress(char* data, unsigned long size) {
  empty_result(this);
  if (!data && size)
    return 0;
  KzBlock out;
  size_t n = 0;
  if (!kz_compress(KzFormat::kZlib, data, size, &out, &n))
    return 0;
  return adopt_result(this, &out, n);
}

int CKaZlib::UnCompress(char* data, unsigned long size) {
  empty_result(this);
  KzBlock out;
  size_t n = 0;
  if (!kz_decompress(KzFormat::kZlib, data, size, &out, &n))
    return 0;
  return adopt_result(this, &out, n);
}

int CKaZlib::Zip2File(char* data, unsigned long size, const char* path) {
  empty_result(this);
  if ((!data && size) || !path)
    return 0;
  KzBlock out;
  size_t n = 0;
  if (!kz_compress(KzFormat::kGzip, data, size, &out, &n))
    return 0;
  if (!kz_write_file(path, out.Get(), n))
    return 0;
  return adopt_result(this, &out, n);
}

int CKaZlib::UnZip2Buffer(const char* path) {
  empty_result(this);
  KzBlock file;
  size_t file_size = 0;
  if (!kz_read_file(path, kz_output_limit(), &file, &file_size))
    return 0;
  KzBlock out;
  size_t n = 0;
  if (!kz_decompress(KzFormat::kGzip, file.Get(), file_size, &out, &n))
    return 0;
  return adopt_result(this, &out, n);
}
