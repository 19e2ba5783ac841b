// The bodies of attachment responses (see attachment_body.h).
#include "attachment_body.h"

#include <algorithm>

#include "byte_array.h"
#include "scoped_safearray.h"

namespace {

// Single reads stay well inside a DWORD count.
constexpr DWORD kMaxRead = DWORD{1} << 30;

}  // namespace

HRESULT WholeBody::Next(const VARIANT** piece) {
  *piece = nullptr;
  if (given_)
    return S_FALSE;
  given_ = true;
  *piece = &bytes_.Get();
  return S_OK;
}

HRESULT ReadBody::Next(const VARIANT** piece) {
  *piece = nullptr;
  if (ended_)
    return S_FALSE;
  const bool first = full_.Type() == VT_EMPTY;
  if (first) {
    const HRESULT hr = MakeByteArray(nullptr, static_cast<long>(PieceSize()), &full_);
    if (FAILED(hr))
      return hr;
  }
  SAFEARRAY* array = full_.Get().parray;
  const DWORD size = array->rgsabound[0].cElements;
  if (size == 0) {  // an empty body: its one piece is empty
    ended_ = true;
    *piece = &full_.Get();
    return S_OK;
  }
  DWORD got = 0;
  bool full = false;
  {
    const SafeArrayDataScope data(array);
    if (FAILED(data.status()))
      return data.status();
    const HRESULT hr = Fill(data.data<char>(), size, &got);
    if (FAILED(hr))
      return hr;
    full = got == size;
    if (!full) {
      ended_ = true;
      if (got > 0 || first) {
        const HRESULT made = MakeByteArray(data.data<char>(), static_cast<long>(got), &last_);
        if (FAILED(made))
          return made;
      }
    }
  }
  if (full) {
    *piece = &full_.Get();
    return S_OK;
  }
  if (got == 0 && !first)
    return S_FALSE;
  *piece = &last_.Get();
  return S_OK;
}

DWORD FileBody::PieceSize() const {
  return std::min(left_, kAttachmentPiece);
}

HRESULT FileBody::Fill(char* data, DWORD capacity, DWORD* got) {
  *got = 0;
  const DWORD wanted = std::min(capacity, left_);
  while (*got < wanted) {
    DWORD read = 0;
    if (!ReadFile(file_, data + *got, std::min(wanted - *got, kMaxRead), &read, nullptr))
      return E_INVALIDARG;
    if (read == 0) {
      left_ = 0;  // the file ended before its status said: what it held is all it sends
      return S_OK;
    }
    *got += read;
  }
  left_ -= *got;
  return S_OK;
}

HRESULT UnzippedBody::Fill(char* data, DWORD capacity, DWORD* got) {
  if (reader_->Read(data, capacity, got))
    return S_OK;
  ReportError(CLSID_KaFileDownLoad, VtrlMessageText(failure_), GUID_NULL, 0);
  return E_FAIL;
}
