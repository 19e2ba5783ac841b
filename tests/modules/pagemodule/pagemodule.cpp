// A test in-process server whose object writes "[start]" through the scripting context's
// Response in OnStartPage and "[end]" in OnEndPage, so host tests can see both calls.
#include <new>

#include "asptlb.h"
#include "atlcom.h"
#include "com_ptr.h"
#include "dll_module.h"
#include "oleauto.h"
#include "pagemodule.h"

namespace {

_ATL_MODULE g_module;

HRESULT write(IResponse* response, const char16_t* text) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(text);
  HRESULT hr = response->Write(v);
  VariantClear(&v);
  return hr;
}

class PageEvents final
    : public IDispatchImpl<IPageEvents, &IID_IPageEvents, &LIBID_TESTPAGELib, &g_module> {
 public:
  static HRESULT CreateInstance(void* outer, REFIID riid, LPVOID* ppv) {
    if (outer)
      return CLASS_E_NOAGGREGATION;
    auto* object = new (std::nothrow) PageEvents();
    if (!object)
      return E_OUTOFMEMORY;
    object->AddRef();
    HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    static const _ATL_INTMAP_ENTRY entries[] = {{&IID_IPageEvents, 0, _ATL_SIMPLEMAPENTRY},
                                                {&IID_IDispatch, 0, _ATL_SIMPLEMAPENTRY},
                                                {nullptr, 0, nullptr}};
    return AtlInternalQueryInterface(this, entries, riid, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG refs = --refs_;
    if (refs == 0)
      delete this;
    return refs;
  }

  HRESULT STDMETHODCALLTYPE OnStartPage(IUnknown* pUnk) override {
    if (!pUnk)
      return E_POINTER;
    ComPtr<IScriptingContext> context;
    HRESULT hr =
        pUnk->QueryInterface(IID_IScriptingContext, reinterpret_cast<void**>(context.Receive()));
    if (SUCCEEDED(hr))
      hr = context->get_Response(response_.Receive());
    if (SUCCEEDED(hr))
      hr = write(response_.Get(), u"[start]");
    return hr;
  }
  HRESULT STDMETHODCALLTYPE OnEndPage() override {
    if (!response_)
      return E_UNEXPECTED;
    HRESULT hr = write(response_.Get(), u"[end]");
    response_.Reset();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE get_Started(VARIANT_BOOL* pVal) override {
    *pVal = response_ ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  // Leaves its error information on the thread, though the object reports no rich errors.
  HRESULT STDMETHODCALLTYPE Fail(BSTR description) override {
    return AtlSetErrorInfo(CLSID_PageEvents, description, 0, nullptr, IID_IPageEvents, E_FAIL,
                           nullptr);
  }

 private:
  PageEvents() { InterlockedIncrement(&g_module.m_nLockCnt); }
  ~PageEvents() { InterlockedDecrement(&g_module.m_nLockCnt); }
  ULONG refs_ = 0;
  ComPtr<IResponse> response_;
};

_ATL_OBJMAP_ENTRY g_object_map[] = {
    dll_module_class<&g_module, /*Script=*/101>(&CLSID_PageEvents, PageEvents::CreateInstance),
    kDllModuleTableEnd,
};

}  // namespace

DLL_MODULE_ENTRY_POINTS(g_module, g_object_map)
