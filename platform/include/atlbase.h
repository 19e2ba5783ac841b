// Module services of the platform's ATL library, as an in-process server's frame uses them: the
// module and its class table, class objects, registration from registry-script resources and
// of the type library, clean-up functions, interface-table lookup, interface pointer
// assignment, error information, and the type-information holder behind dual interfaces.
#pragma once

// The system's headers below need windows.h first.
#include "windows.h"

#include "libloaderapi.h"
#include "objbase.h"
#include "oleauto.h"
#include "platform_export.h"
#include "synchapi.h"

typedef HRESULT(_ATL_CREATORFUNC)(void* pv, REFIID riid, LPVOID* ppv);
typedef HRESULT(_ATL_CREATORARGFUNC)(void* pv, REFIID riid, LPVOID* ppv, DWORD_PTR dw);
typedef LPCSTR(_ATL_DESCRIPTIONFUNC)();
struct _ATL_CATMAP_ENTRY;
typedef const struct _ATL_CATMAP_ENTRY*(_ATL_CATMAPFUNC)();
typedef void(_ATL_TERMFUNC)(DWORD_PTR dw);

// One class of the class table; the table ends with an entry whose pclsid is null.
struct _ATL_OBJMAP_ENTRY {
  const CLSID* pclsid;
  HRESULT (*pfnUpdateRegistry)(BOOL bRegister);
  _ATL_CREATORFUNC* pfnGetClassObject;  // makes the class object from pfnCreateInstance
  _ATL_CREATORFUNC* pfnCreateInstance;
  IUnknown* pCF;  // the class object, cached from its first request until AtlModuleTerm
  DWORD dwRegister;
  _ATL_DESCRIPTIONFUNC* pfnGetObjectDescription;
  _ATL_CATMAPFUNC* pfnGetCategoryMap;
  void (*pfnObjectMain)(bool bStarting);
};

struct _ATL_TERMFUNC_ELEM {
  _ATL_TERMFUNC* pFunc;
  DWORD_PTR dw;
  _ATL_TERMFUNC_ELEM* pNext;
};

struct _ATL_MODULE {
  UINT cbSize;
  HINSTANCE m_hInst;
  HINSTANCE m_hInstResource;
  HINSTANCE m_hInstTypeLib;
  _ATL_OBJMAP_ENTRY* m_pObjMap;
  LONG m_nLockCnt;
  HANDLE m_hHeap;
  CRITICAL_SECTION m_csTypeInfoHolder;  // serialises loading of type information
  CRITICAL_SECTION m_csObjMap;          // guards the cached class objects
  GUID* pguidVer;
  _ATL_TERMFUNC_ELEM* m_pTermFuncs;
};

// One interface of an object's interface table: at byte offset dw from the object when pFunc
// is _ATL_SIMPLEMAPENTRY, else found by calling pFunc. The table ends with a null piid; its
// first entry is the object's identity (IUnknown).
struct _ATL_INTMAP_ENTRY {
  const IID* piid;
  DWORD_PTR dw;
  _ATL_CREATORARGFUNC* pFunc;
};
#define _ATL_SIMPLEMAPENTRY ((_ATL_CREATORARGFUNC*)1)

// The byte offset of base class base inside class derived, for interface tables.
#define _ATL_PACKING 8
#define offsetofclass(base, derived) \
  ((DWORD_PTR)(static_cast<base*>((derived*)_ATL_PACKING)) - _ATL_PACKING)

// A %NAME% replacement for a registry script; the list ends with a null szKey.
struct _ATL_REGMAP_ENTRY {
  LPCOLESTR szKey;
  LPCOLESTR szData;
};

class IRegistrar;

// AtlModuleInit
// Initialises the module: class table p, module handle h (also used for resources and the
// type library), a zero lock count, the critical sections.
// Returns: S_OK; E_INVALIDARG for a null pM.
WINAPI_EXPORT HRESULT AtlModuleInit(_ATL_MODULE* pM, _ATL_OBJMAP_ENTRY* p, HINSTANCE h);

// AtlModuleTerm
// Releases the cached class objects and runs the clean-up functions, last added first.
WINAPI_EXPORT HRESULT AtlModuleTerm(_ATL_MODULE* pM);

// AtlModuleAddTermFunc
// Registers a clean-up function that AtlModuleTerm calls with dw.
// Returns: S_OK; E_OUTOFMEMORY.
WINAPI_EXPORT HRESULT AtlModuleAddTermFunc(_ATL_MODULE* pM, _ATL_TERMFUNC* pFunc, DWORD_PTR dw);

// AtlModuleGetClassObject
// The class object of rclsid from the class table, queried for riid; created on the first
// request and cached in the table.
// Returns: S_OK; E_POINTER for a null ppv; CLASS_E_CLASSNOTAVAILABLE for a class not in the
//          table; the status of the creator or of QueryInterface.
WINAPI_EXPORT HRESULT AtlModuleGetClassObject(_ATL_MODULE* pM, REFCLSID rclsid, REFIID riid,
                                              LPVOID* ppv);

// AtlModuleRegisterServer
// Runs the registration function of every class of the table (or of pCLSID only) and, with
// bRegTypeLib, registers the type library of the module (resource 1).
WINAPI_EXPORT HRESULT AtlModuleRegisterServer(_ATL_MODULE* pM, BOOL bRegTypeLib,
                                              const CLSID* pCLSID);

// AtlModuleUnregisterServerEx
// Runs the registration functions in removal mode and, with bUnRegTypeLib, removes the type
// library registration.
WINAPI_EXPORT HRESULT AtlModuleUnregisterServerEx(_ATL_MODULE* pM, BOOL bUnRegTypeLib,
                                                  const CLSID* pCLSID);

// AtlModuleRegisterTypeLib / AtlModuleUnRegisterTypeLib
// Registers (removes) the type library in the module's TYPELIB resource lpszIndex (null for 1).
WINAPI_EXPORT HRESULT AtlModuleRegisterTypeLib(_ATL_MODULE* pM, LPCOLESTR lpszIndex);
WINAPI_EXPORT HRESULT AtlModuleUnRegisterTypeLib(_ATL_MODULE* pM, LPCOLESTR lpszIndex);

// AtlModuleUpdateRegistryFromResourceD
// Runs the registry script in the module's REGISTRY resource lpszRes (text, or a number from
// MAKEINTRESOURCEW), registering or removing, with %MODULE% replaced by the module's full path
// and the extra replacements of pMapEntries. pReg is not used.
// Returns: S_OK; E_INVALIDARG; HRESULT_FROM_WIN32 of the resource lookup; the status of the
//          script (DISP_E_EXCEPTION for a malformed script, whose line goes to the trace
//          channel).
WINAPI_EXPORT HRESULT AtlModuleUpdateRegistryFromResourceD(_ATL_MODULE* pM, LPCOLESTR lpszRes,
                                                           BOOL bRegister,
                                                           _ATL_REGMAP_ENTRY* pMapEntries,
                                                           IRegistrar* pReg);

// AtlInternalQueryInterface
// Looks iid up in the interface table of the object pThis and hands out an AddRef'd pointer.
// IUnknown is the table's first entry.
// Returns: S_OK; E_POINTER for a null ppvObject; E_NOINTERFACE (with *ppvObject null).
WINAPI_EXPORT HRESULT AtlInternalQueryInterface(void* pThis, const _ATL_INTMAP_ENTRY* pEntries,
                                                REFIID iid, void** ppvObject);

// AtlComPtrAssign
// *pp = lp with the reference counts kept right (lp AddRef'd first, the old one released).
// Returns: lp.
WINAPI_EXPORT IUnknown* AtlComPtrAssign(IUnknown** pp, IUnknown* lp);

// AtlSetErrorInfo
// Sets the calling thread's error information: the description lpszDesc, the ProgID of clsid
// as source (the class identifier's text when it has none), interface iid, help file and
// context.
// Returns: hRes; DISP_E_EXCEPTION when hRes is 0; E_OUTOFMEMORY when the error object cannot
//          be made.
WINAPI_EXPORT HRESULT AtlSetErrorInfo(const CLSID& clsid, LPCOLESTR lpszDesc, DWORD dwHelpID,
                                      LPCOLESTR lpszHelpFile, const IID& iid, HRESULT hRes,
                                      HINSTANCE hInst);

// The type information of one dual interface for the objects of a module: loaded from the
// registered type library on first use under the module's m_csTypeInfoHolder, kept until
// AtlModuleTerm, and used for IDispatch's GetTypeInfo, GetIDsOfNames and Invoke.
struct CComTypeInfoHolder {
  const GUID* m_pguid;
  const GUID* m_plibid;
  WORD m_wMajor;
  WORD m_wMinor;
  ITypeInfo* m_pInfo;
  LONG m_dwRef;
};

// AtlTypeInfoHolderGetTI
// The holder's type information (AddRef'd into *ppInfo), loading it on first use.
// Returns: S_OK; E_POINTER; the loader's status (nothing is cached then, so the next call
//          tries again).
WINAPI_EXPORT HRESULT AtlTypeInfoHolderGetTI(_ATL_MODULE* pM, CComTypeInfoHolder* pHolder,
                                             ITypeInfo** ppInfo);

// AtlTypeInfoHolderInvoke / AtlTypeInfoHolderGetIDsOfNames
// IDispatch::Invoke and GetIDsOfNames of an object pThis (the interface pointer of the
// holder's interface) through the holder's type information.
WINAPI_EXPORT HRESULT AtlTypeInfoHolderInvoke(_ATL_MODULE* pM, CComTypeInfoHolder* pHolder,
                                              IDispatch* pThis, DISPID dispidMember, REFIID riid,
                                              LCID lcid, WORD wFlags, DISPPARAMS* pdispparams,
                                              VARIANT* pvarResult, EXCEPINFO* pexcepinfo,
                                              UINT* puArgErr);
WINAPI_EXPORT HRESULT AtlTypeInfoHolderGetIDsOfNames(_ATL_MODULE* pM, CComTypeInfoHolder* pHolder,
                                                     REFIID riid, LPOLESTR* rgszNames, UINT cNames,
                                                     LCID lcid, DISPID* rgdispid);
