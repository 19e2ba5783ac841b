// Thread error information: SetErrorInfo, GetErrorInfo, CreateErrorInfo, and the error object
// that CreateErrorInfo makes (ICreateErrorInfo to fill it, IErrorInfo to read it).
//
// Each thread has one slot. It holds a reference until GetErrorInfo hands it over, the next
// SetErrorInfo replaces it, or the thread ends.
#include "oleauto.h"

#include <atomic>
#include <new>

#include "objbase.h"
#include "oleaut_private.h"

namespace {

// The string fields keep BSTR copies of what was set; a null field reads back as null.
class ErrorObject final : public IErrorInfo, public ICreateErrorInfo {
 public:
  // IUnknown (through IErrorInfo; ICreateErrorInfo's thunks forward here)
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IErrorInfo)
      *ppv = static_cast<IErrorInfo*>(this);
    else if (riid == IID_ICreateErrorInfo)
      *ppv = static_cast<ICreateErrorInfo*>(this);
    else
      return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --refs_;
    if (left == 0) {
      this->~ErrorObject();
      CoTaskMemFree(this);
    }
    return left;
  }

  // IErrorInfo
  HRESULT STDMETHODCALLTYPE GetGUID(GUID* pGUID) override {
    if (!pGUID) return E_INVALIDARG;
    *pGUID = guid_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetSource(BSTR* out) override { return copy_out(source_, out); }
  HRESULT STDMETHODCALLTYPE GetDescription(BSTR* out) override {
    return copy_out(description_, out);
  }
  HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* out) override { return copy_out(help_file_, out); }
  HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* out) override {
    if (!out) return E_INVALIDARG;
    *out = help_context_;
    return S_OK;
  }

  // ICreateErrorInfo
  HRESULT STDMETHODCALLTYPE SetGUID(REFGUID rguid) override {
    guid_ = rguid;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSource(LPOLESTR text) override { return store(&source_, text); }
  HRESULT STDMETHODCALLTYPE SetDescription(LPOLESTR text) override {
    return store(&description_, text);
  }
  HRESULT STDMETHODCALLTYPE SetHelpFile(LPOLESTR text) override {
    return store(&help_file_, text);
  }
  HRESULT STDMETHODCALLTYPE SetHelpContext(DWORD context) override {
    help_context_ = context;
    return S_OK;
  }

 private:
  // Only Release destroys the object.
  ~ErrorObject() {
    SysFreeString(source_);
    SysFreeString(description_);
    SysFreeString(help_file_);
  }

  static HRESULT copy_out(BSTR field, BSTR* out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (!field) return S_OK;
    *out = SysAllocStringLen(field, SysStringLen(field));
    return *out ? S_OK : oom_fault();
  }

  // Replaces *field with a copy of text; on failure the old value stays.
  static HRESULT store(BSTR* field, LPOLESTR text) {
    BSTR copy = nullptr;
    if (text && !(copy = SysAllocString(text))) return oom_fault();
    SysFreeString(*field);
    *field = copy;
    return S_OK;
  }

  std::atomic<ULONG> refs_{1};
  GUID guid_ = GUID_NULL;
  BSTR source_ = nullptr;
  BSTR description_ = nullptr;
  BSTR help_file_ = nullptr;
  DWORD help_context_ = 0;
};

// The thread's slot; the reference it holds is released when the thread ends.
class ThreadSlot {
 public:
  constexpr ThreadSlot() = default;
  ~ThreadSlot() {
    if (info_) info_->Release();
  }
  IErrorInfo* Exchange(IErrorInfo* info) {
    IErrorInfo* old = info_;
    info_ = info;
    return old;
  }

 private:
  IErrorInfo* info_ = nullptr;
};

thread_local ThreadSlot slot;

}  // namespace

HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo) {
  if (dwReserved != 0) return E_INVALIDARG;
  // AddRef before releasing the old one: they may be the same object.
  if (perrinfo) perrinfo->AddRef();
  IErrorInfo* old = slot.Exchange(perrinfo);
  if (old) old->Release();
  return S_OK;
}

HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo) {
  if (dwReserved != 0 || !pperrinfo) return E_INVALIDARG;
  *pperrinfo = slot.Exchange(nullptr);
  return *pperrinfo ? S_OK : S_FALSE;
}

HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo) {
  if (!pperrinfo) return E_INVALIDARG;
  *pperrinfo = nullptr;
  void* memory = CoTaskMemAlloc(sizeof(ErrorObject));
  if (!memory) return oom_fault();
  *pperrinfo = static_cast<ICreateErrorInfo*>(new (memory) ErrorObject());
  return S_OK;
}
