// KaFileDownLoad: the download object of a page (IKaFileDownLoad). It sends one file or one
// long database field, either of them possibly saved compressed by the attachment, to the
// browser as an attachment of the page's response.
#pragma once

#include "attachment_body.h"
#include "attachment_headers.h"
#include "page_objects.h"
#include "vtrl_module.h"

class KaFileDownLoad final : public VtrlObject<IKaFileDownLoad, &IID_IKaFileDownLoad>,
                             public ISupportErrorInfo,
                             private PageObjects {
 public:
  // The class's instance creator (class table): a new object queried for riid.
  static HRESULT CreateInstance(void* outer, REFIID riid, LPVOID* ppv);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    return VtrlObject::QueryInterface(riid, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return VtrlObject::AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return VtrlObject::Release(); }
  // S_OK for IKaFileDownLoad. QueryInterface does not hand this interface out.
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;

  HRESULT STDMETHODCALLTYPE OnStartPage(IUnknown* piUnk) override;
  HRESULT STDMETHODCALLTYPE OnEndPage() override;
  HRESULT STDMETHODCALLTYPE DownFromFile(BSTR bstrPath) override;
  HRESULT STDMETHODCALLTYPE DownFromUnzipFile(BSTR bstrPath) override;
  HRESULT STDMETHODCALLTYPE DownFromDb(IUnknown* pvField, BSTR bstrFname) override;
  HRESULT STDMETHODCALLTYPE DownFromUnzipDb(IUnknown* pvField, BSTR bstrFname) override;

 private:
  KaFileDownLoad() = default;
  ~KaFileDownLoad() override = default;

  // The physical path of bstrPath in *path and the header values for its file name in
  // *headers; E_UNEXPECTED when no page is bound, since nothing could be sent, and
  // E_INVALIDARG (reported) for a path with a NUL or a file name with a control character.
  HRESULT ResolvePath(BSTR bstrPath, CKaText* path, AttachmentHeaders* headers);
  // Writes the attachment response of body with the file name of headers: Expires 0, Buffer,
  // Clear, BinaryWrite of every piece of the body as it comes, then the content type, the
  // content disposition and the length of the pieces written. Returns S_OK; the failure of
  // the body's first piece, or of making what the calls need, before any response call; or
  // the first failure after that (of the body or of a call), after a Clear that takes back
  // what was written, with the failure's error information kept.
  HRESULT SendAttachment(const AttachmentHeaders& headers, AttachmentBody* body);
  // DownFromDb and, with unzip, DownFromUnzipDb.
  HRESULT DownFromField(IUnknown* pvField, BSTR bstrFname, bool unzip);
};
