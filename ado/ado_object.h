// The frame that every object of the database module shares: the module, reference counting
// that holds the module loaded, QueryInterface over the object's interface chain, rich error
// information for every interface of that chain, and creation that the fault simulator can
// fail like any other allocation of ours.
#pragma once

#include <new>

#include "adoint.h"
#include "atlcom.h"
#include "com_ptr.h"
#include "faultsim.h"

extern _ATL_MODULE g_ado_module;

// Private identities through which the module recognises its own objects behind an interface
// pointer (a connection given as ActiveConnection, a parameter given to Append).
inline constexpr IID kConnectionIdentity = {
    0xcc73fd08, 0x0ce2, 0x4e78, {0x93, 0x13, 0xf9, 0xf6, 0x10, 0xdd, 0x87, 0xb5}};
inline constexpr IID kParameterIdentity = {
    0x6028f732, 0x0355, 0x4bfb, {0xb9, 0xe5, 0xdb, 0xbb, 0xb7, 0x94, 0x58, 0x4c}};
inline constexpr IID kRecordsetIdentity = {
    0xd69f2a73, 0x3562, 0x4ee3, {0xaf, 0xbe, 0xa4, 0xf0, 0x17, 0x3c, 0x55, 0x8c}};

// The status of a failure code of the data access library (ErrorValueEnum), as it reports them.
constexpr HRESULT AdoErrorStatus(ErrorValueEnum code) {
  return static_cast<HRESULT>(0x800A0000u | static_cast<uint32_t>(code));
}

// Sets the thread's error information (source: the class clsid, interface iid) and returns hr.
HRESULT ReportAdoError(REFCLSID clsid, REFIID iid, HRESULT hr, const char16_t* description);

// As ReportAdoError, for a description in UTF-8 (SQLite's messages).
HRESULT ReportAdoErrorUtf8(REFCLSID clsid, REFIID iid, HRESULT hr, const char* description);

// Derived implements Itf (whose identifier is *ItfIid); Bases are the identifiers of every
// interface Itf derives from below IDispatch. Derived::kIdentity, when FromUnknown is used, is
// one of them.
template <class Derived, class Itf, const IID* ItfIid, const IID*... Bases>
class AdoObject : public IDispatchImpl<Itf, ItfIid, &LIBID_ADODB, &g_ado_module, 2, 8>,
                  public ISupportErrorInfo {
 public:
  AdoObject(const AdoObject&) = delete;
  AdoObject& operator=(const AdoObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv)
      return E_POINTER;
    *ppv = nullptr;
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IDispatch) || InChain(riid))
      *ppv = static_cast<Itf*>(this);
    else if (IsEqualGUID(riid, IID_ISupportErrorInfo))
      *ppv = static_cast<ISupportErrorInfo*>(this);
    else
      return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    return static_cast<ULONG>(InterlockedIncrement(&refs_));
  }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG refs = InterlockedDecrement(&refs_);
    if (refs == 0)
      delete static_cast<Derived*>(this);
    return static_cast<ULONG>(refs);
  }
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
    return InChain(riid) ? S_OK : S_FALSE;
  }

  // The object of this class behind unknown, with a reference, or null when it is none of
  // ours.
  static ComPtr<Derived> FromUnknown(IUnknown* unknown) {
    ComPtr<Derived> object;
    void* itf = nullptr;
    if (unknown && SUCCEEDED(unknown->QueryInterface(Derived::kIdentity, &itf)))
      object.Reset(static_cast<Derived*>(static_cast<Itf*>(itf)));
    return object;
  }

  // A new object with one reference in *out; E_OUTOFMEMORY when allocation fails.
  template <class... Args>
  static HRESULT Create(ComPtr<Derived>* out, Args&&... args) {
    if (FaultSimStep())
      return E_OUTOFMEMORY;
    Derived* object = new (std::nothrow) Derived(static_cast<Args&&>(args)...);
    if (!object)
      return E_OUTOFMEMORY;
    out->Set(object);
    return S_OK;
  }

  // The class table's instance creator for the creatable classes.
  static HRESULT CreateInstance(void* outer, REFIID riid, LPVOID* ppv) {
    if (outer)
      return CLASS_E_NOAGGREGATION;
    ComPtr<Derived> object;
    HRESULT hr = Create(&object);
    return FAILED(hr) ? hr : object->QueryInterface(riid, ppv);
  }

 protected:
  AdoObject() { InterlockedIncrement(&g_ado_module.m_nLockCnt); }
  ~AdoObject() { InterlockedDecrement(&g_ado_module.m_nLockCnt); }

 private:
  static bool InChain(REFIID riid) {
    return IsEqualGUID(riid, *ItfIid) || (IsEqualGUID(riid, *Bases) || ...);
  }

  LONG refs_ = 0;
};
