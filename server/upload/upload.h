// KaFileUpload: the upload object of a page (IKaFileUpload). At the page's start it takes the
// intrinsic objects, reads a multipart/form-data body, cuts it into part records and offers
// them as the items and attachments collections.
#pragma once

#include "collection.h"
#include "form_part.h"
#include "header_params.h"
#include "page_objects.h"

// The most parts (fields and files) one upload takes; a body with more fails the page start.
constexpr size_t kMaxUploadParts = 100000;

class KaFileUpload final : public VtrlObject<IKaFileUpload, &IID_IKaFileUpload>,
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
  // S_OK for IKaFileUpload. QueryInterface does not hand this interface out.
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;

  HRESULT STDMETHODCALLTYPE OnStartPage(IUnknown* piUnk) override;
  HRESULT STDMETHODCALLTYPE OnEndPage() override;
  HRESULT STDMETHODCALLTYPE get_Items(IKaoItems** pVal) override;
  HRESULT STDMETHODCALLTYPE get_Attachments(IKaoAttachments** pVal) override;
  HRESULT STDMETHODCALLTYPE get_MultiVal(BSTR bstrName, VARIANT* ppsa) override;
  HRESULT STDMETHODCALLTYPE IsItem(BSTR bstrName, LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE IsFileExist(BSTR bstrFile, LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE ViewParam() override;
  HRESULT STDMETHODCALLTYPE DeleteFile(BSTR bstrPath) override;
  HRESULT STDMETHODCALLTYPE DeleteFiles(BSTR bstrPath, BSTR bstrPatern) override;
  HRESULT STDMETHODCALLTYPE CopyFile(BSTR bstrPath, BSTR bstrDestPath, LONG bFailIfExists) override;
  HRESULT STDMETHODCALLTYPE MoveFile(BSTR bstrPath, BSTR bstrDestPath) override;
  HRESULT STDMETHODCALLTYPE MakeDir(BSTR bstrDir) override;
  HRESULT STDMETHODCALLTYPE RemoveDir(BSTR bstrDir) override;

 private:
  KaFileUpload(ComPtr<UploadParts> parts, ComPtr<ItemCollection> items,
               ComPtr<AttachmentCollection> attachments);
  ~KaFileUpload() override;

  void ReleaseIntrinsics();
  HRESULT ParseRequest();
  HRESULT ParseBody(const char* contentType);
  // The request's body as the one-dimensional byte array BinaryRead hands out; data holds it.
  HRESULT ReadBody(VARIANT* data, SAFEARRAY** array, int* length);
  // The delimiters of one parse, zero-terminated: a boundary is never longer than a parameter's
  // window, so they are kept in place instead of in blocks of their own.
  struct PartDelimiters {
    explicit PartDelimiters(const CKaText& boundary);
    char delimiter[4 + kParameterWindow + 1];    // CR LF "--" boundary
    char closing[2 + kParameterWindow + 2 + 1];  // "--" boundary "--"
    int delimiter_length;
    int closing_length;
  };
  HRESULT CutParts(const PartDelimiters& marks);
  // Offset from the read position of the first whole occurrence of the length bytes of pattern
  // (zero-terminated) in the body, or -1.
  int FindInBody(const char* pattern, int length) const;
  int ReadHeaderLine(char* line);
  // Moves the read position past the first delimiter line; sets lastPart when that delimiter
  // is the closing one (a form without parts).
  HRESULT ReadFirstDelimiter(const PartDelimiters& marks, int* lastPart);
  bool StartsWithClosing(const PartDelimiters& marks) const;
  // Moves the read position past the line of the delimiter it stands on and sets lastPart when
  // that is the closing delimiter or the body ends without a line end (then false).
  bool PassDelimiterLine(const PartDelimiters& marks, int* lastPart);
  char* ReadPartData(const PartDelimiters& marks, int* size, int* lastPart);
  HRESULT BuildCollections();

  int OnStartPageCalled = 0;
  ComPtr<AttachmentCollection> AttachmentsCollection;
  ComPtr<ItemCollection> ItemsCollection;
  ComPtr<UploadParts> Parts;  // ItemList and AttachmentList, shared with the elements
  // The body during the parse: the request's own bytes, read in place and never past
  // BodyLength (no zero byte follows them).
  const char* Body = nullptr;
  int BodyLength = 0;
  int ParsePos = 0;
};
