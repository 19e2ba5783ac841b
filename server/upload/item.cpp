// KaoItem: the script's view of one form field.
#include "item.h"

#include <new>

#include "faultsim.h"

KaoItem* KaoItem::Create(UploadParts* parts, FormPart* record) {
  if (FaultSimStep())
    return nullptr;
  return new (std::nothrow) KaoItem(parts, record);
}

KaoItem::KaoItem(UploadParts* parts, FormPart* record) : parts_(parts), record_(record) {
  parts_->AddRef();
}

KaoItem::~KaoItem() {
  parts_->Release();
}

HRESULT KaoItem::get_Value(BSTR* pVal) {
  if (!pVal)
    return E_POINTER;
  return AcpToBstr(record_->Data, pVal);
}

HRESULT KaoItem::get_Name(BSTR* pVal) {
  if (!pVal)
    return E_POINTER;
  return AcpToBstr(record_->Name, pVal);
}
