// The base of the host's automation objects: reference counting, QueryInterface, rich error
// information, and IDispatch through the type information of the host's interface
// descriptions (asptlb.idl, loaded once at start-up), so that GetIDsOfNames and Invoke work the
// way they do for any component: by type information.
#pragma once

#include <atomic>
#include <string>

#include "asptlb.h"
#include "com_ptr.h"
#include "oleauto.h"

namespace vhost {

// Loads the host's type library from path (UTF-8). Returns the LoadTypeLib status.
HRESULT load_host_type_library(const std::string& path);
void release_host_type_library();
// The type information of interface iid of the host's library, or null.
ITypeInfo* host_type_info(REFIID iid);

// Sets the thread's error information (source "vhost") and returns hr, so a failing member is
// one line: `return set_error(E_INVALIDARG, u"...")`.
HRESULT set_error(HRESULT hr, const std::u16string& description);

// Takes the thread's error information and gives its description; empty when there is none.
std::u16string take_error_description();

template <class Itf, const IID* piid>
class DispatchObject : public Itf, public ISupportErrorInfo {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv)
      return E_POINTER;
    *ppv = nullptr;
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IDispatch) ||
        IsEqualGUID(riid, *piid))
      *ppv = static_cast<Itf*>(this);
    else if (IsEqualGUID(riid, IID_ISupportErrorInfo))
      *ppv = static_cast<ISupportErrorInfo*>(this);
    else
      return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG refs = --refs_;
    if (refs == 0)
      delete this;
    return refs;
  }
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
    return IsEqualGUID(riid, *piid) ? S_OK : S_FALSE;
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override {
    if (!pctinfo)
      return E_POINTER;
    *pctinfo = host_type_info(*piid) ? 1 : 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID, ITypeInfo** ppTInfo) override {
    if (!ppTInfo)
      return E_POINTER;
    *ppTInfo = nullptr;
    ITypeInfo* info = host_type_info(*piid);
    if (iTInfo != 0 || !info)
      return DISP_E_BADINDEX;
    info->AddRef();
    *ppTInfo = info;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID,
                                          DISPID* rgDispId) override {
    ITypeInfo* info = host_type_info(*piid);
    if (!info)
      return E_UNEXPECTED;
    return DispGetIDsOfNames(info, rgszNames, cNames, rgDispId);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID, LCID, WORD wFlags,
                                   DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                   EXCEPINFO* pExcepInfo, UINT* puArgErr) override {
    ITypeInfo* info = host_type_info(*piid);
    if (!info)
      return E_UNEXPECTED;
    return DispInvoke(static_cast<Itf*>(this), info, dispIdMember, wFlags, pDispParams, pVarResult,
                      pExcepInfo, puArgErr);
  }

 protected:
  DispatchObject() = default;
  virtual ~DispatchObject() = default;

 private:
  std::atomic<ULONG> refs_{0};
};

// Hands a new object out through an interface pointer with one reference.
template <class T, class Itf>
HRESULT hand_out(T* object, Itf** out) {
  if (!out)
    return E_POINTER;
  if (!object)
    return E_OUTOFMEMORY;
  object->AddRef();
  *out = object;
  return S_OK;
}

}  // namespace vhost
