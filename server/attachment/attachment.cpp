// KaoAttachment: the properties of an uploaded file. The saves to disk are in save_file.cpp, the
// saves into a database in save_db.cpp.
#include "attachment.h"

#include <string.h>

#include <new>

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
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(record_->Size));
  // An array that cannot be made leaves the result empty; the property still succeeds.
  if (!array)
    return S_OK;
  if (record_->Data && record_->Size > 0) {
    void* bytes = nullptr;
    if (SUCCEEDED(SafeArrayAccessData(array, &bytes))) {
      memcpy(bytes, record_->Data, static_cast<size_t>(record_->Size));
      SafeArrayUnaccessData(array);
    }
  }
  pVal->vt = VT_ARRAY | VT_UI1;
  pVal->parray = array;
  return S_OK;
}
