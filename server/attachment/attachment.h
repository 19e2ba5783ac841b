// KaoAttachment: one uploaded file, as scripts see it (IKaoAttachment): its field name, file
// name, content type, size and bytes, and the saves to disk and into a database.
#pragma once

#include "form_part.h"

class KaoAttachment final : public VtrlObject<IKaoAttachment, &IID_IKaoAttachment>,
                            public ISupportErrorInfo {
 public:
  // A new attachment over record, keeping parts alive; null when memory is short.
  static KaoAttachment* Create(UploadParts* parts, FormPart* record);

  // IUnknown lives in the dual base; the error-information base only forwards.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    return VtrlObject::QueryInterface(riid, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return VtrlObject::AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return VtrlObject::Release(); }
  // S_OK for IKaoAttachment. QueryInterface does not hand this interface out.
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;

  HRESULT STDMETHODCALLTYPE get_FileName(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE get_Name(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE get_Size(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE get_ZipSize(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE get_MimeType(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE get_Data(VARIANT* pVal) override;
  HRESULT STDMETHODCALLTYPE SaveFile(BSTR bstrPath, LONG bAutoTag) override;
  HRESULT STDMETHODCALLTYPE SaveFileByZip(BSTR bstrPath, LONG bAutoTag) override;
  HRESULT STDMETHODCALLTYPE SaveDb(IUnknown* pvConnect, BSTR bstrQuery) override;
  HRESULT STDMETHODCALLTYPE SaveDbByZip(IUnknown* pvConnect, BSTR bstrQuery) override;

 private:
  KaoAttachment(UploadParts* parts, FormPart* record);
  ~KaoAttachment() override;

  // Resolves bstrPath into *target and, with bAutoTag nonzero, picks its free numbered name
  // and sets FileName from it. *claimed is then an empty file created for the name (the caller
  // writes or removes it), INVALID_HANDLE_VALUE otherwise.
  HRESULT ResolveTarget(BSTR bstrPath, LONG bAutoTag, CKaText* target, HANDLE* claimed);

  UploadParts* parts_;  // Owner's shared records and page server
  FormPart* record_;
};
