// KaFileDownLoad: the downloads of one long database field, sent as it is stored or
// decompressed.
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "KaZlibReader.h"
#include "adoint.h"
#include "byte_array.h"
#include "com_ptr.h"
#include "db_error.h"
#include "download.h"
#include "report_error.h"
#include "scoped_safearray.h"
#include "scoped_variant.h"

namespace {

// Fields of unreported size are read in chunks of this many bytes or characters.
constexpr LONG kChunk = 0x100000;

// The bytes collected from a field, growing as chunks arrive. The length sent is a signed
// 32-bit count, so the block never passes LONG_MAX bytes.
class Block {
 public:
  Block() = default;
  ~Block() { free(data_); }
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;

  char* data() const { return data_; }
  long size() const { return size_; }

  HRESULT Append(const void* bytes, size_t count) {
    if (count == 0)
      return S_OK;
    if (count > static_cast<size_t>(LONG_MAX - size_))
      return E_OUTOFMEMORY;
    const size_t needed = static_cast<size_t>(size_) + count;
    if (needed > capacity_) {
      // Doubling keeps a field read in many chunks from being copied once per chunk.
      size_t capacity = capacity_ ? capacity_ : count;
      while (capacity < needed)
        capacity = capacity > static_cast<size_t>(LONG_MAX) / 2 ? static_cast<size_t>(LONG_MAX)
                                                                : capacity * 2;
      char* grown = static_cast<char*>(realloc(data_, capacity));
      if (!grown)
        return E_OUTOFMEMORY;
      data_ = grown;
      capacity_ = capacity;
    }
    memcpy(data_ + size_, bytes, count);
    size_ = static_cast<long>(needed);
    return S_OK;
  }

 private:
  char* data_ = nullptr;
  long size_ = 0;
  size_t capacity_ = 0;
};

// Appends at most limit bytes of chunk to block when chunk is a byte array; *count is the
// number of bytes the array held (0 for anything else).
HRESULT append_bytes(const VARIANT& chunk, ULONG limit, Block* block, ULONG* count) {
  *count = 0;
  if (chunk.vt != (VT_ARRAY | VT_UI1) || !chunk.parray || SafeArrayGetDim(chunk.parray) != 1)
    return S_OK;
  *count = chunk.parray->rgsabound[0].cElements;
  const SafeArrayDataScope bytes(chunk.parray);
  if (FAILED(bytes.status()))
    return bytes.status();
  return block->Append(bytes.data<void>(), *count < limit ? *count : limit);
}

// Appends chunk, converted to a string and then to the ANSI code page, to block; *count is the
// number of characters of the string. A null chunk (the field's end) appends nothing.
HRESULT append_text(const VARIANT& chunk, Block* block, UINT* count) {
  *count = 0;
  if (chunk.vt == VT_NULL || chunk.vt == VT_EMPTY)
    return S_OK;
  ScopedVariant text;
  // Some system headers declare the source without const; VariantChangeType only reads it.
  HRESULT hr = VariantChangeType(text.Receive(), const_cast<VARIANT*>(&chunk), 0, VT_BSTR);
  if (FAILED(hr))
    return hr;
  *count = SysStringLen(text.Get().bstrVal);
  CKaText narrow;
  hr = BstrToAcp(text.Get().bstrVal, &narrow);
  if (FAILED(hr))
    return hr;
  return block->Append(static_cast<const char*>(narrow), static_cast<size_t>(narrow.GetLength()));
}

// True when chunk, read for a field of length bytes, can be sent as it came: a byte array of
// one dimension from 0 that holds no more than was asked.
bool sendable(const VARIANT& chunk, LONG length) {
  return chunk.vt == (VT_ARRAY | VT_UI1) && chunk.parray && SafeArrayGetDim(chunk.parray) == 1 &&
         chunk.parray->cbElements == 1 && chunk.parray->rgsabound[0].lLbound == 0 &&
         chunk.parray->rgsabound[0].cElements <= static_cast<ULONG>(length);
}

// Reads the whole field into block: one chunk of the reported size n, or, for a size that is
// not reported, chunks for as long as they come back full. With whole given, a byte field's one
// chunk that can be sent as it is goes there instead, which saves two copies of the bytes.
HRESULT read_field(Field20* field, LONGLONG n, bool binary, Block* block, ScopedVariant* whole) {
  if (n == 0)
    return S_OK;
  if (n > LONG_MAX)
    return E_OUTOFMEMORY;
  const LONG length = n > 0 ? static_cast<LONG>(n) : kChunk;
  for (;;) {
    ScopedVariant chunk;
    HRESULT hr = field->GetChunk(length, chunk.Receive());
    if (FAILED(hr))
      return hr;
    if (whole && binary && n > 0 && sendable(chunk.Get(), length)) {
      whole->Swap(chunk);
      return S_OK;
    }
    ULONG count = 0;
    if (binary) {
      hr = append_bytes(chunk.Get(), static_cast<ULONG>(length), block, &count);
    } else {
      UINT characters = 0;
      hr = append_text(chunk.Get(), block, &characters);
      count = characters;
    }
    if (FAILED(hr) || n > 0 || count != static_cast<ULONG>(kChunk))
      return hr;
  }
}

}  // namespace

HRESULT KaFileDownLoad::DownFromDb(IUnknown* pvField, BSTR bstrFname) {
  return DownFromField(pvField, bstrFname, false);
}

HRESULT KaFileDownLoad::DownFromUnzipDb(IUnknown* pvField, BSTR bstrFname) {
  return DownFromField(pvField, bstrFname, true);
}

HRESULT KaFileDownLoad::DownFromField(IUnknown* pvField, BSTR bstrFname, bool unzip) {
  if (!pvField)
    return E_POINTER;
  // Without a page nothing could be sent.
  if (!Response)
    return E_UNEXPECTED;
  CKaText name;
  HRESULT hr = RefuseEmbeddedNul(CLSID_KaFileDownLoad, bstrFname);
  if (SUCCEEDED(hr))
    hr = BstrToAcp(bstrFname, &name);
  AttachmentHeaders headers;
  if (SUCCEEDED(hr))
    hr = MakeAttachmentHeaders(CLSID_KaFileDownLoad, AttachmentFileName(name), &headers);
  if (FAILED(hr))
    return hr;

  ComPtr<Field20> field;
  hr = pvField->QueryInterface(IID_Field20, reinterpret_cast<void**>(field.Receive()));
  if (FAILED(hr))
    return hr;
  if (!field)
    return E_NOINTERFACE;
  LONG attributes = 0;
  hr = field->get_Attributes(&attributes);
  if (SUCCEEDED(hr) && !(attributes & adFldLong))
    return E_INVALIDARG;
  LONGLONG n = 0;
  if (SUCCEEDED(hr))
    hr = field->get_ActualSize(&n);
  DataTypeEnum type = adEmpty;
  if (SUCCEEDED(hr))
    hr = field->get_Type(&type);
  Block block;
  // A plain send may take the field's one chunk as it came; compressed bytes, a fraction of
  // what is sent, are always collected in the block.
  ScopedVariant whole;
  if (SUCCEEDED(hr))
    hr = read_field(field.Get(), n, type == adLongVarBinary, &block, unzip ? nullptr : &whole);
  if (FAILED(hr)) {
    ReportDbError(CLSID_KaFileDownLoad, field.Get(), IID_Field20);
    return hr;
  }

  if (unzip) {
    // The stored bytes, a fraction of what is sent, stay in the block while their output goes
    // out a piece at a time.
    CKaZlibReader reader;
    if (!reader.OpenStream(block.data(), static_cast<unsigned long>(block.size()))) {
      ReportError(CLSID_KaFileDownLoad, VtrlMessageText(VtrlMessage::kUncompressFailed), GUID_NULL,
                  0);
      return E_FAIL;
    }
    UnzippedBody body(&reader, VtrlMessage::kUncompressFailed);
    return SendAttachment(headers, &body);
  }
  if (whole.Type() == VT_EMPTY)
    hr = MakeByteArray(block.data(), block.size(), &whole);
  if (FAILED(hr))
    return hr;
  WholeBody body(&whole);
  return SendAttachment(headers, &body);
}
