// Object templates of the platform's ATL library for in-process servers: the class object
// (CComClassFactory) and IDispatch through the type library (IDispatchImpl). Header code, as
// the platform gives it; each module instantiates them on its own _ATL_MODULE.
#pragma once

#include <new>

#include "atlbase.h"

// The class object of one class of module Module. Its reference count is guarded by a
// critical section of its own; the class table's reference does not count as a module lock:
// the lock count rises when a client's reference brings the count to 2 and falls when it
// returns to 1.
template <_ATL_MODULE* Module>
class CComClassFactory final : public IClassFactory {
 public:
  // The class table's class-object creator: pv is the class's instance creator.
  static HRESULT CreateClassObject(void* pv, REFIID riid, LPVOID* ppv) {
    if (!ppv)
      return E_POINTER;
    *ppv = nullptr;
    auto* factory = new (std::nothrow) CComClassFactory(reinterpret_cast<_ATL_CREATORFUNC*>(pv));
    if (!factory)
      return E_OUTOFMEMORY;
    factory->AddRef();
    HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv)
      return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualGUID(riid, IID_IUnknown) && !IsEqualGUID(riid, IID_IClassFactory))
      return E_NOINTERFACE;
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    EnterCriticalSection(&cs_);
    const ULONG refs = ++refs_;
    if (refs == 2)
      InterlockedIncrement(&Module->m_nLockCnt);
    LeaveCriticalSection(&cs_);
    return refs;
  }
  ULONG STDMETHODCALLTYPE Release() override {
    EnterCriticalSection(&cs_);
    const ULONG refs = --refs_;
    if (refs == 1)
      InterlockedDecrement(&Module->m_nLockCnt);
    LeaveCriticalSection(&cs_);
    if (refs == 0)
      delete this;
    return refs;
  }

  // A null ppv gives E_POINTER; an outer object with an interface other than IUnknown gives
  // CLASS_E_NOAGGREGATION; otherwise the class's instance creator decides.
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override {
    if (!ppv)
      return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter && !IsEqualGUID(riid, IID_IUnknown))
      return CLASS_E_NOAGGREGATION;
    return creator_(pUnkOuter, riid, ppv);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override {
    if (fLock)
      InterlockedIncrement(&Module->m_nLockCnt);
    else
      InterlockedDecrement(&Module->m_nLockCnt);
    return S_OK;
  }

 private:
  explicit CComClassFactory(_ATL_CREATORFUNC* creator) : creator_(creator) {
    InitializeCriticalSection(&cs_);
  }
  ~CComClassFactory() { DeleteCriticalSection(&cs_); }

  _ATL_CREATORFUNC* creator_;
  CRITICAL_SECTION cs_;
  ULONG refs_ = 0;
};

// IDispatch of a dual interface Itf (derived from IDispatch) through the registered type
// library plibid (version Major.Minor) of module Module: GetTypeInfoCount gives 1; the other
// members work on the type information of *piid, loaded on first use and kept until
// AtlModuleTerm.
template <class Itf, const IID* piid, const GUID* plibid, _ATL_MODULE* Module, WORD Major = 1,
          WORD Minor = 0>
class IDispatchImpl : public Itf {
 public:
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override {
    if (!pctinfo)
      return E_POINTER;
    *pctinfo = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID, ITypeInfo** ppTInfo) override {
    if (!ppTInfo)
      return E_POINTER;
    *ppTInfo = nullptr;
    if (iTInfo != 0)
      return DISP_E_BADINDEX;
    return AtlTypeInfoHolderGetTI(Module, &holder_, ppTInfo);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                          DISPID* rgDispId) override {
    return AtlTypeInfoHolderGetIDsOfNames(Module, &holder_, riid, rgszNames, cNames, lcid,
                                          rgDispId);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                                   DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                   EXCEPINFO* pExcepInfo, UINT* puArgErr) override {
    return AtlTypeInfoHolderInvoke(Module, &holder_, static_cast<Itf*>(this), dispIdMember, riid,
                                   lcid, wFlags, pDispParams, pVarResult, pExcepInfo, puArgErr);
  }

 protected:
  ~IDispatchImpl() = default;

 private:
  static inline CComTypeInfoHolder holder_ = {piid, plibid, Major, Minor, nullptr, 0};
};
