// KaFileDownLoad: the page binding, the attachment response and the downloads from disk.
#include "download.h"

#include <limits.h>
#include <string.h>

#include <algorithm>
#include <new>

#include "attachment_headers.h"
#include "byte_array.h"
#include "com_ptr.h"
#include "compression.h"
#include "faultsim.h"
#include "map_path.h"
#include "scoped_bstr.h"
#include "scoped_variant.h"

namespace {

constexpr DWORD kMaxRead = DWORD{1} << 30;

// Owns a file handle.
class File {
 public:
  explicit File(HANDLE h) : h_(h) {}
  ~File() {
    if (h_ != INVALID_HANDLE_VALUE)
      CloseHandle(h_);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  HANDLE Get() const { return h_; }

 private:
  HANDLE h_;
};

// An automation string of text; null when memory is short (the call then gets none).
ScopedBstr wide(const char* text) {
  ScopedBstr out;
  if (FAILED(AcpToBstr(text, out.Receive())))
    out.Reset();
  return out;
}

}  // namespace

HRESULT KaFileDownLoad::CreateInstance(void* outer, REFIID riid, LPVOID* ppv) {
  if (!ppv)
    return E_POINTER;
  *ppv = nullptr;
  if (outer)
    return CLASS_E_NOAGGREGATION;
  KaFileDownLoad* object = FaultSimStep() ? nullptr : new (std::nothrow) KaFileDownLoad();
  if (!object)
    return E_OUTOFMEMORY;
  return hand_out(object, riid, ppv);
}

HRESULT KaFileDownLoad::InterfaceSupportsErrorInfo(REFIID riid) {
  return IsEqualGUID(riid, IID_IKaFileDownLoad) ? S_OK : S_FALSE;
}

HRESULT KaFileDownLoad::OnStartPage(IUnknown* piUnk) {
  return TakePageObjects(piUnk);
}

HRESULT KaFileDownLoad::OnEndPage() {
  ReleasePageObjects();
  return S_OK;
}

HRESULT KaFileDownLoad::ResolvePath(BSTR bstrPath, CKaText* path, AttachmentHeaders* headers) {
  if (!Response)
    return E_UNEXPECTED;
  HRESULT hr = RefuseEmbeddedNul(CLSID_KaFileDownLoad, bstrPath);
  if (SUCCEEDED(hr))
    hr = MapPathIfRelative(Server, bstrPath, path);
  if (SUCCEEDED(hr))
    hr = MakeAttachmentHeaders(CLSID_KaFileDownLoad, AttachmentFileName(*path), headers);
  return hr;
}

void KaFileDownLoad::WriteAttachment(const AttachmentHeaders& headers, const VARIANT& body) {
  const long size = static_cast<long>(body.parray->rgsabound[0].cElements);
  Response->put_Expires(0);
  Response->put_Buffer(1);
  Response->Clear();
  Response->put_ContentType(headers.content_type.Get());
  Response->AddHeader(wide("Content-Disposition").Get(), headers.disposition.Get());
  CKaText text;
  text.Format("%ld", size);
  Response->AddHeader(wide("Content-Length").Get(), wide(text).Get());
  Response->BinaryWrite(body);
}

HRESULT KaFileDownLoad::DownFromFile(BSTR bstrPath) {
  CKaText path;
  AttachmentHeaders headers;
  HRESULT hr = ResolvePath(bstrPath, &path, &headers);
  if (FAILED(hr))
    return hr;
  File file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.Get() == INVALID_HANDLE_VALUE)
    return E_INVALIDARG;
  DWORD high = 0;
  const DWORD low = GetFileSize(file.Get(), &high);
  // The length sent is a signed 32-bit count.
  if ((low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) || high != 0 ||
      low > static_cast<DWORD>(LONG_MAX))
    return E_INVALIDARG;
  // Read straight into the array that is sent: one block of the file's size, no second copy.
  ScopedVariant body;
  hr = MakeByteArray(nullptr, static_cast<long>(low), &body);
  if (FAILED(hr))
    return hr;
  char* bytes = nullptr;
  hr = SafeArrayAccessData(body.Get().parray, reinterpret_cast<void**>(&bytes));
  if (FAILED(hr))
    return hr;
  // A file that shrinks meanwhile is sent as far as it still goes, never with a made-up tail.
  DWORD done = 0;
  bool read_failed = false;
  while (done < low) {
    DWORD got = 0;
    if (!ReadFile(file.Get(), bytes + done, std::min(low - done, kMaxRead), &got, nullptr)) {
      read_failed = true;
      break;
    }
    if (got == 0)
      break;
    done += got;
  }
  ScopedVariant shorter;
  if (!read_failed && done < low)
    hr = MakeByteArray(bytes, static_cast<long>(done), &shorter);
  SafeArrayUnaccessData(body.Get().parray);
  if (read_failed)
    return E_INVALIDARG;
  if (FAILED(hr))
    return hr;
  if (done < low)
    body.Swap(shorter);
  WriteAttachment(headers, body.Get());
  return S_OK;
}

HRESULT KaFileDownLoad::DownFromUnzipFile(BSTR bstrPath) {
  CKaText path;
  AttachmentHeaders headers;
  HRESULT hr = ResolvePath(bstrPath, &path, &headers);
  if (FAILED(hr))
    return hr;
  ScopedVariant body;
  {
    CKaZlib zlib;
    hr = UnzipFromFile(CLSID_KaFileDownLoad, path, &zlib);
    if (FAILED(hr))
      return hr;
    hr = MakeByteArray(zlib.m_pResultData, static_cast<long>(zlib.m_dwResultSize), &body);
    if (FAILED(hr))
      return hr;
  }
  WriteAttachment(headers, body.Get());
  return S_OK;
}
