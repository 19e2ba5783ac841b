// KaFileDownLoad: the page binding, the attachment response and the downloads from disk.
#include "download.h"

#include <limits.h>

#include <new>

#include "KaZlibReader.h"
#include "attachment_body.h"
#include "attachment_headers.h"
#include "com_ptr.h"
#include "faultsim.h"
#include "map_path.h"
#include "report_error.h"
#include "scoped_bstr.h"

namespace {

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

// The decimal digits of n >= 0 as an automation string.
HRESULT decimal(long n, ScopedBstr* out) {
  OLECHAR digits[24];
  UINT count = 0;
  do {
    digits[sizeof digits / sizeof digits[0] - 1 - count++] = static_cast<OLECHAR>(u'0' + n % 10);
    n /= 10;
  } while (n > 0);
  out->Reset(SysAllocStringLen(digits + sizeof digits / sizeof digits[0] - count, count));
  return out->Get() ? S_OK : E_OUTOFMEMORY;
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
    hr = MapPathIfRelative(Server.Get(), bstrPath, path);
  if (SUCCEEDED(hr))
    hr = MakeAttachmentHeaders(CLSID_KaFileDownLoad, AttachmentFileName(*path), headers);
  return hr;
}

HRESULT KaFileDownLoad::SendAttachment(const AttachmentHeaders& headers, AttachmentBody* body) {
  // The first piece, and what the calls need, are made before the response is touched: a
  // download that cannot start fails with the response as it was.
  const VARIANT* piece = nullptr;
  HRESULT hr = body->Next(&piece);
  const ScopedBstr disposition_name = wide("Content-Disposition");
  const ScopedBstr length_name = wide("Content-Length");
  if (SUCCEEDED(hr) && (!disposition_name.Get() || !length_name.Get()))
    hr = E_OUTOFMEMORY;
  if (FAILED(hr))
    return hr;
  hr = Response->put_Expires(0);
  if (SUCCEEDED(hr))
    hr = Response->put_Buffer(1);
  if (SUCCEEDED(hr))
    hr = Response->Clear();
  // The body goes first and the headers after it: a body that fails on the way (damaged
  // input past its first piece, a read error, the response's size limit) leaves a cleared
  // response without a single attachment header, never part of a file sent as the whole.
  long length = 0;
  while (SUCCEEDED(hr) && piece) {
    hr = Response->BinaryWrite(*piece);
    if (SUCCEEDED(hr)) {
      length += static_cast<long>(piece->parray->rgsabound[0].cElements);
      hr = body->Next(&piece);
    }
  }
  ScopedBstr length_value;
  if (SUCCEEDED(hr))
    hr = decimal(length, &length_value);
  if (SUCCEEDED(hr))
    hr = Response->put_ContentType(headers.content_type.Get());
  if (SUCCEEDED(hr))
    hr = Response->AddHeader(disposition_name.Get(), headers.disposition.Get());
  if (SUCCEEDED(hr))
    hr = Response->AddHeader(length_name.Get(), length_value.Get());
  if (FAILED(hr)) {
    // The failure's description is the one the script sees, not that of the clean-up.
    ComPtr<IErrorInfo> error;
    GetErrorInfo(0, error.Receive());
    Response->Clear();
    SetErrorInfo(0, error.Get());
    return hr;
  }
  return S_OK;
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
  // A file that shrinks meanwhile is sent as far as it still goes, never with a made-up tail.
  FileBody body(file.Get(), low);
  return SendAttachment(headers, &body);
}

HRESULT KaFileDownLoad::DownFromUnzipFile(BSTR bstrPath) {
  CKaText path;
  AttachmentHeaders headers;
  HRESULT hr = ResolvePath(bstrPath, &path, &headers);
  if (FAILED(hr))
    return hr;
  CKaZlibReader reader;
  if (!reader.OpenFile(path)) {
    ReportError(CLSID_KaFileDownLoad, VtrlMessageText(VtrlMessage::kUnzipFileFailed), GUID_NULL, 0);
    return E_FAIL;
  }
  UnzippedBody body(&reader, VtrlMessage::kUnzipFileFailed);
  return SendAttachment(headers, &body);
}
