// A test in-process server built the way our modules are: a class table, a class object,
// registration from its registry script and type library, IDispatch through the type library,
// error information. Tests load it through the registry only.
#include <initializer_list>
#include <new>

#include "atlcom.h"
#include "dispmodule.h"
#include "dll_module.h"
#include "oleauto.h"

namespace {

_ATL_MODULE g_module;
LONG g_live_calcs = 0;

class Calc final : public IDispatchImpl<ICalc, &IID_ICalc, &LIBID_TESTDISPLib, &g_module>,
                   public ISupportErrorInfo {
 public:
  static HRESULT CreateInstance(void* outer, REFIID riid, LPVOID* ppv) {
    if (outer)
      return CLASS_E_NOAGGREGATION;
    auto* object = new (std::nothrow) Calc();
    if (!object)
      return E_OUTOFMEMORY;
    object->AddRef();
    HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    static const _ATL_INTMAP_ENTRY entries[] = {
        {&IID_ICalc, 0, _ATL_SIMPLEMAPENTRY},
        {&IID_IDispatch, 0, _ATL_SIMPLEMAPENTRY},
        {&IID_ISupportErrorInfo, offsetofclass(ISupportErrorInfo, Calc), _ATL_SIMPLEMAPENTRY},
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

  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
    return IsEqualGUID(riid, IID_ICalc) ? S_OK : S_FALSE;
  }

  HRESULT STDMETHODCALLTYPE Add(LONG a, LONG b, LONG* pResult) override {
    *pResult = a + b;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Concat(BSTR first, VARIANT second, BSTR* pResult) override {
    if (second.vt == VT_ERROR && second.scode == DISP_E_PARAMNOTFOUND) {
      *pResult = SysAllocStringLen(first, SysStringLen(first));
      return *pResult ? S_OK : E_OUTOFMEMORY;
    }
    VARIANT text;
    VariantInit(&text);
    HRESULT hr = VariantChangeType(&text, &second, 0, VT_BSTR);
    if (FAILED(hr))
      return hr;
    const UINT n1 = SysStringLen(first);
    const UINT n2 = SysStringLen(text.bstrVal);
    *pResult = SysAllocStringLen(nullptr, n1 + n2);
    if (*pResult) {
      for (UINT i = 0; i < n1; ++i)
        (*pResult)[i] = first[i];
      for (UINT i = 0; i < n2; ++i)
        (*pResult)[n1 + i] = text.bstrVal[i];
    }
    VariantClear(&text);
    return *pResult ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE get_Name(BSTR* pVal) override {
    *pVal = SysAllocStringLen(name_, SysStringLen(name_));
    return *pVal ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE put_Name(BSTR newVal) override {
    return SysReAllocStringLen(&name_, newVal, SysStringLen(newVal)) ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE Twice(LONG* pValue) override {
    *pValue *= 2;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Fail(BSTR description) override {
    return AtlSetErrorInfo(CLSID_Calc, description, 0, nullptr, IID_ICalc, E_FAIL, nullptr);
  }
  HRESULT STDMETHODCALLTYPE get_Item(LONG index, VARIANT* pVal) override {
    if (index < 1 || index > 3)
      return E_INVALIDARG;
    pVal->vt = VT_I4;
    pVal->lVal = index * 100;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Scale(DOUBLE factor, VARIANT_BOOL negate, DOUBLE* pResult) override {
    *pResult = negate ? -factor * 2.5 : factor * 2.5;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Echo(VARIANT value, VARIANT* pResult) override {
    return VariantCopy(pResult, &value);
  }
  HRESULT STDMETHODCALLTYPE get_Self(ICalc** ppSelf) override {
    AddRef();
    *ppSelf = this;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Bytes(LONG count, VARIANT* pData) override {
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(count));
    if (!array)
      return E_OUTOFMEMORY;
    BYTE* data = nullptr;
    SafeArrayAccessData(array, reinterpret_cast<void**>(&data));
    for (LONG i = 0; i < count; ++i)
      data[i] = static_cast<BYTE>(i);
    SafeArrayUnaccessData(array);
    pData->vt = VT_ARRAY | VT_UI1;
    pData->parray = array;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE NoId(LONG* pResult) override {
    *pResult = 7;
    return S_OK;
  }
  // The Calc objects that exist now, this one among them.
  HRESULT STDMETHODCALLTYPE get_Live(LONG* pCount) override {
    *pCount = g_live_calcs;
    return S_OK;
  }
  // Returns status itself, success or failure, with no error information; 1 as the result.
  HRESULT STDMETHODCALLTYPE Status(LONG status, LONG* pResult) override {
    *pResult = 1;
    return static_cast<HRESULT>(status);
  }
  // The number whose decimal digits are d1 to d10, d1 first: every argument in its place.
  HRESULT STDMETHODCALLTYPE Digits(LONG d1, LONG d2, LONG d3, LONG d4, LONG d5, LONG d6, LONG d7,
                                   LONG d8, LONG d9, LONG d10, LONG* pResult) override {
    LONG n = 0;
    for (LONG d : {d1, d2, d3, d4, d5, d6, d7, d8, d9, d10})
      n = n * 10 + d;
    *pResult = n;
    return S_OK;
  }
  // 10 * (other given) + (any given); other's own NoId is added when it is given.
  HRESULT STDMETHODCALLTYPE Peer(ICalc* other, IUnknown* any, LONG* pResult) override {
    LONG seven = 0;
    if (other)
      other->NoId(&seven);
    *pResult = (other ? 10 + seven : 0) + (any ? 1 : 0);
    return S_OK;
  }

 private:
  Calc() {
    InterlockedIncrement(&g_module.m_nLockCnt);
    InterlockedIncrement(&g_live_calcs);
  }
  ~Calc() {
    SysFreeString(name_);
    InterlockedDecrement(&g_live_calcs);
    InterlockedDecrement(&g_module.m_nLockCnt);
  }
  ULONG refs_ = 0;
  BSTR name_ = nullptr;
};

_ATL_OBJMAP_ENTRY g_object_map[] = {
    dll_module_class<&g_module, /*Script=*/101>(&CLSID_Calc, Calc::CreateInstance),
    kDllModuleTableEnd,
};

}  // namespace

DLL_MODULE_ENTRY_POINTS(g_module, g_object_map)
