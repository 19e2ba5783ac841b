// KaFileUpload: the page binding (OnStartPage, OnEndPage), the content-type check, the
// collections and the members that read the part records directly (MultiVal, IsItem). The file
// utilities are in file_utils.cpp, ViewParam in view_param.cpp.
#include "upload.h"

#include <utility>

#include "KaString.h"
#include "attachment.h"
#include "com_ptr.h"
#include "item.h"
#include "report_error.h"
#include "scoped_variant.h"

HRESULT KaFileUpload::CreateInstance(void* outer, REFIID riid, LPVOID* ppv) {
  if (!ppv)
    return E_POINTER;
  *ppv = nullptr;
  if (outer)
    return CLASS_E_NOAGGREGATION;
  ComPtr<UploadParts> parts;
  parts.Reset(UploadParts::Create());  // made with its one reference
  // The collections are made with no reference.
  ComPtr<ItemCollection> items;
  items.Set(ItemCollection::Create());
  ComPtr<AttachmentCollection> attachments;
  attachments.Set(AttachmentCollection::Create());
  if (!parts || !items || !attachments || FaultSimStep())
    return E_OUTOFMEMORY;
  // The arguments are moved only when the allocation succeeded.
  KaFileUpload* object =
      new (std::nothrow) KaFileUpload(std::move(parts), std::move(items), std::move(attachments));
  if (!object)
    return E_OUTOFMEMORY;
  return hand_out(object, riid, ppv);
}

KaFileUpload::KaFileUpload(ComPtr<UploadParts> parts, ComPtr<ItemCollection> items,
                           ComPtr<AttachmentCollection> attachments)
    : AttachmentsCollection(std::move(attachments)),
      ItemsCollection(std::move(items)),
      Parts(std::move(parts)) {}

// The records go with the last element that still shows one.
KaFileUpload::~KaFileUpload() {
  ReleaseIntrinsics();
}

void KaFileUpload::ReleaseIntrinsics() {
  Parts->Server = nullptr;
  ReleasePageObjects();
}

HRESULT KaFileUpload::InterfaceSupportsErrorInfo(REFIID riid) {
  return IsEqualGUID(riid, IID_IKaFileUpload) ? S_OK : S_FALSE;
}

HRESULT KaFileUpload::OnStartPage(IUnknown* piUnk) {
  Parts->Server = nullptr;
  HRESULT hr = TakePageObjects(piUnk);
  if (SUCCEEDED(hr)) {
    Parts->Server = Server.Get();
    hr = ParseRequest();
  }
  if (FAILED(hr)) {
    ReleaseIntrinsics();
    return hr;
  }
  OnStartPageCalled = 1;
  return S_OK;
}

HRESULT KaFileUpload::OnEndPage() {
  OnStartPageCalled = 0;
  ReleaseIntrinsics();
  return S_OK;
}

HRESULT KaFileUpload::ParseRequest() {
  if (!Request)
    return E_POINTER;
  ComPtr<IRequestDictionary> variables;
  HRESULT hr = Request->get_ServerVariables(variables.Receive());
  if (FAILED(hr))
    return hr;
  ScopedVariant key;
  ScopedVariant value;
  {
    VARIANT k;
    VariantInit(&k);
    k.vt = VT_BSTR;
    k.bstrVal = SysAllocString(OLESTR("CONTENT_TYPE"));
    if (!k.bstrVal)
      return E_OUTOFMEMORY;
    key.Reset(k);
  }
  const HRESULT read = variables->get_Item(key.Get(), value.Receive());
  // The message is made only when it is reported: a multipart request never needs it.
  const auto report_not_multipart = [] {
    ReportError(CLSID_KaFileUpload, VtrlMessageText(VtrlMessage::kNotMultipart), GUID_NULL, 0);
  };
  if (FAILED(read)) {
    report_not_multipart();
    return read;
  }
  // The host's string list converts to its text through the standard conversion.
  if (value.Type() != VT_BSTR) {
    hr = value.ChangeType(VT_BSTR);
    if (FAILED(hr)) {
      report_not_multipart();
      return S_OK;
    }
  }
  CKaText content_type;
  hr = BstrToAcp(value.Get().bstrVal, &content_type);
  if (FAILED(hr))
    return hr;
  if (content_type.FindNoCase("multipart/form-data") < 0) {
    report_not_multipart();
    return S_OK;
  }
  hr = ParseBody(content_type);
  if (hr == S_OK)
    hr = BuildCollections();
  return hr;
}

HRESULT KaFileUpload::BuildCollections() {
  if (!ItemsCollection->Reserve(Parts->Items.size()) ||
      !AttachmentsCollection->Reserve(Parts->Attachments.size()))
    return E_OUTOFMEMORY;
  for (FormPart* record : Parts->Items) {
    KaoItem* item = KaoItem::Create(Parts.Get(), record);
    if (!item)
      return E_OUTOFMEMORY;
    ScopedVariant entry;
    HRESULT hr =
        hand_out(item, IID_IDispatch, reinterpret_cast<void**>(&entry.Receive()->pdispVal));
    if (FAILED(hr))
      return hr;
    entry.Receive()->vt = VT_DISPATCH;
    hr = ItemsCollection->Add(std::move(entry));
    if (FAILED(hr))
      return hr;
  }
  for (FormPart* record : Parts->Attachments) {
    KaoAttachment* attachment = KaoAttachment::Create(Parts.Get(), record);
    if (!attachment)
      return E_OUTOFMEMORY;
    ScopedVariant entry;
    HRESULT hr = hand_out(static_cast<IKaoAttachment*>(attachment), IID_IDispatch,
                          reinterpret_cast<void**>(&entry.Receive()->pdispVal));
    if (FAILED(hr))
      return hr;
    entry.Receive()->vt = VT_DISPATCH;
    hr = AttachmentsCollection->Add(std::move(entry));
    if (FAILED(hr))
      return hr;
  }
  return S_OK;
}

HRESULT KaFileUpload::get_Items(IKaoItems** pVal) {
  if (!pVal)
    return E_POINTER;
  return ItemsCollection->QueryInterface(IID_IKaoItems, reinterpret_cast<void**>(pVal));
}

HRESULT KaFileUpload::get_Attachments(IKaoAttachments** pVal) {
  if (!pVal)
    return E_POINTER;
  return AttachmentsCollection->QueryInterface(IID_IKaoAttachments, reinterpret_cast<void**>(pVal));
}

HRESULT KaFileUpload::get_MultiVal(BSTR bstrName, VARIANT* ppsa) {
  if (!ppsa)
    return E_POINTER;
  CKaText name;
  HRESULT hr = BstrToAcp(bstrName, &name);
  if (FAILED(hr))
    return hr;
  ULONG count = 0;
  for (FormPart* record : Parts->Items)
    if (record->Name.CompareNoCase(name) == 0)
      ++count;
  SAFEARRAYBOUND bound{count, 1};
  SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 1, &bound);
  if (!array)
    return E_OUTOFMEMORY;
  LONG index = 1;
  for (FormPart* record : Parts->Items) {
    if (record->Name.CompareNoCase(name) != 0)
      continue;
    ScopedVariant value;
    VARIANT* v = value.Receive();
    hr = AcpToBstr(record->Data, &v->bstrVal);
    if (SUCCEEDED(hr)) {
      v->vt = VT_BSTR;
      hr = SafeArrayPutElement(array, &index, v);
    }
    if (FAILED(hr)) {
      SafeArrayDestroy(array);
      return hr;
    }
    ++index;
  }
  hr = VariantClear(ppsa);
  if (FAILED(hr)) {
    SafeArrayDestroy(array);
    return hr;
  }
  ppsa->vt = VT_ARRAY | VT_VARIANT;
  ppsa->parray = array;
  return S_OK;
}

HRESULT KaFileUpload::IsItem(BSTR bstrName, LONG* pVal) {
  if (!pVal)
    return E_POINTER;
  *pVal = 0;
  CKaText name;
  if (FAILED(BstrToAcp(bstrName, &name)))
    return S_OK;
  for (const PartIndex* list : {&Parts->Items, &Parts->Attachments})
    for (FormPart* record : *list)
      if (record->Name.Compare(name) == 0) {
        *pVal = 1;
        return S_OK;
      }
  return S_OK;
}
