// What the classes of VtrlSrv share: the module, the generated interfaces, the dual-object base
// (reference count, module lock, IDispatch through the type library) and text conversion
// between automation strings and the system's narrow text.
#pragma once

#include "windows.h"

#include "KaText.h"
#include "VtrlSrv.h"
#include "asptlb.h"
#include "atlcom.h"
#include "small_blocks.h"

extern _ATL_MODULE g_vtrl_module;

// A dual automation object of this module: plain reference count (apartment objects), the
// module lock taken for its life, QueryInterface for IUnknown, IDispatch and Itf only. Pages make
// and drop them by the thousand (an element per field), so small ones live in small blocks.
template <class Itf, const IID* piid>
class VtrlObject : public IDispatchImpl<Itf, piid, &LIBID_KAVANTRELLib, &g_vtrl_module>,
                   public PlatformSmallObject {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    static const _ATL_INTMAP_ENTRY entries[] = {{piid, 0, _ATL_SIMPLEMAPENTRY},
                                                {&IID_IDispatch, 0, _ATL_SIMPLEMAPENTRY},
                                                {nullptr, 0, nullptr}};
    return AtlInternalQueryInterface(static_cast<Itf*>(this), entries, riid, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG refs = --refs_;
    if (refs == 0)
      delete this;
    return refs;
  }

 protected:
  VtrlObject() { InterlockedIncrement(&g_vtrl_module.m_nLockCnt); }
  virtual ~VtrlObject() { InterlockedDecrement(&g_vtrl_module.m_nLockCnt); }

 private:
  ULONG refs_ = 0;
};

// Hands out a new object's interface: one reference to riid in *ppv, or the object is
// destroyed and the failure returned.
template <class T>
HRESULT hand_out(T* object, REFIID riid, void** ppv) {
  object->AddRef();
  const HRESULT hr = object->QueryInterface(riid, ppv);
  object->Release();
  return hr;
}

// A new automation string holding narrow text of the ANSI code page (empty text: an empty
// string, never null). E_OUTOFMEMORY when it cannot be made.
HRESULT AcpToBstr(const char* text, BSTR* out);

// The text of an automation string in the ANSI code page (a null string is empty).
// E_OUTOFMEMORY when it cannot be made.
HRESULT BstrToAcp(BSTR text, CKaText* out);

// Gives text the zero-terminated library block in place of its own block, which is released.
void ResetText(CKaText* text, char* block);
