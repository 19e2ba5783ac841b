// The root interfaces of the component object model: IUnknown and IClassFactory, the calling
// convention macros of interface methods, and the identifier-plus-pointer helper for queries.
//
// Interfaces are abstract classes whose vtables have the platform's layout: members in the
// platform's order and no virtual destructor (it would add slots and shift every member). The
// destructor is protected, so nobody deletes an interface pointer instead of releasing it.
#pragma once

#include "guiddef.h"
#include "winerror.h"

// The platform's calling convention for interface methods is the default one on this ABI.
#define STDMETHODCALLTYPE
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE

PLATFORM_EXTERN_C PLATFORM_API const IID IID_IUnknown;
PLATFORM_EXTERN_C PLATFORM_API const IID IID_IClassFactory;

// The identifier of interface T, the way the platform's __uuidof gives it. Each interface
// declares its own with PLATFORM_DECLARE_IID; naming an interface without one does not compile.
template <typename T>
struct platform_interface_id;

#define PLATFORM_DECLARE_IID(type, iid)                  \
  template <>                                            \
  struct platform_interface_id<type> {                   \
    static const IID& get() { return iid; }              \
  }

#define __uuidof(x) (platform_interface_id<__typeof__(x)>::get())

class IUnknown;

// Used by IID_PPV_ARGS: only a pointer to an interface pointer may be passed as void**.
template <typename T>
void** IID_PPV_ARGS_Helper(T** pp) {
  static_assert(__is_base_of(IUnknown, T), "IID_PPV_ARGS needs an interface pointer");
  return reinterpret_cast<void**>(pp);
}

// Expands to the two arguments riid, ppv of a query for the type that pp points to.
#define IID_PPV_ARGS(pp) __uuidof(**(pp)), IID_PPV_ARGS_Helper(pp)

class IUnknown {
 public:
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;

  // Typed query, as the platform's headers give it: p->QueryInterface(&pDispatch).
  template <typename Q>
  HRESULT STDMETHODCALLTYPE QueryInterface(Q** pp) {
    return QueryInterface(__uuidof(Q), IID_PPV_ARGS_Helper(pp));
  }

 protected:
  ~IUnknown() = default;
};
typedef IUnknown* LPUNKNOWN;
PLATFORM_DECLARE_IID(IUnknown, IID_IUnknown);

class IClassFactory : public IUnknown {
 public:
  virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                                   void** ppvObject) = 0;
  virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) = 0;

 protected:
  ~IClassFactory() = default;
};
typedef IClassFactory* LPCLASSFACTORY;
PLATFORM_DECLARE_IID(IClassFactory, IID_IClassFactory);
