// KaoAttachment: the properties of an uploaded file. The saves to disk are in save_file.cpp, the
// saves into a database in save_db.cpp.
#include "attachment.h"

#include <string.h>

#include <new>

#include "byte_array.h"
#include "faultsim.h"

KaoAttachment* KaoAttachment::Create(UploadParts* parts, FormPart* record) {
  if (FaultSimStep())
    return nullptr;
  return new (std::nothrow) KaoAttachment(parts, record);
}

KaoAttachment::KaoAttachment(UploadParts* parts, FormPart* record)
    : parts_(parts), record_(record) {
  parts_->AddRef();
}

KaoAttachment::~KaoAttachment() {
  parts_->Release();
}

HRESULT KaoAttachment::InterfaceSupportsErrorInfo(REFIID riid) {
  return IsEqualGUID(riid, IID_IKaoAttachment) ? S_OK : S_FALSE;
}

HRESULT KaoAttachment::get_FileName(BSTR* pVal) {
  if (!pVal)
    return E_POINTER;
  return AcpToBstr(record_->FileName, pVal);
}

HRESULT KaoAttachment::get_Name(BSTR* pVal) {
  if (!pVal)
    return E_POINTER;
  return AcpToBstr(record_->Name, pVal);
}

HRESULT KaoAttachment::get_Size(LONG* pVal) {
  if (!pVal)
    return E_POINTER;
  *pVal = record_->Size;
  return S_OK;
}

HRESULT KaoAttachment::get_ZipSize(LONG* pVal) {
  if (!pVal)
    return E_POINTER;
  *pVal = record_->ZipSize;
  return S_OK;
}

HRESULT KaoAttachment::get_MimeType(BSTR* pVal) {
  if (!pVal)
    return E_POINTER;
  return AcpToBstr(record_->MimeType, pVal);
}

HRESULT KaoAttachment::get_Data(VARIANT* pVal) {
  if (!pVal)
    return E_POINTER;
  VariantInit(pVal);
  // An array that cannot be made is a failure: an empty result would pass for empty content.
  ScopedVariant data;
  const HRESULT hr = MakeByteArray(record_->Data, record_->Size, &data);
  if (FAILED(hr))
    return hr;
  *pVal = data.Release();
  return S_OK;
}
