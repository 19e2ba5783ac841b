// The module services of the platform's ATL library: module start and end, class objects,
// registration from registry-script resources and of the type library, clean-up functions,
// interface tables, pointer assignment, error information and type-information holders.
#include "atlbase.h"

#include <atomic>
#include <new>
#include <string>
#include <vector>

#include "com_ptr.h"
#include "errhandlingapi.h"
#include "faultsim.h"
#include "oleaut_private.h"
#include "regscript.h"
#include "scoped_bstr.h"
#include "winnls.h"

namespace {

using OleString = std::basic_string<OLECHAR>;

// The module's own path (null module: the program), in the system's namespace.
bool module_path(HINSTANCE module, OleString* path) {
  OLECHAR buffer[4 * MAX_PATH];
  const DWORD n = GetModuleFileNameW(module, buffer, 4 * MAX_PATH);
  if (n == 0 || n >= 4 * MAX_PATH)
    return false;
  path->assign(buffer, n);
  return true;
}

// The type-library path of the module: "<module>" or "<module>\<index>".
bool typelib_path(_ATL_MODULE* pM, LPCOLESTR lpszIndex, OleString* path) {
  if (!module_path(pM->m_hInstTypeLib, path))
    return false;
  if (lpszIndex && *lpszIndex)
    *path += OLESTR("\\") + OleString(lpszIndex);
  return true;
}

// The type library in the module's own resource 1.
HRESULT load_module_type_lib(_ATL_MODULE* pM, ITypeLib** lib) {
  try {
    OleString path;
    if (!typelib_path(pM, nullptr, &path))
      return E_FAIL;
    return LoadTypeLib(path.c_str(), lib);
  } catch (const std::bad_alloc&) {
    return oom_fault();
  }
}

// A holder's type information is set once, under the module's lock, and read without it by
// the calls that find it set.
std::atomic_ref<ITypeInfo*> info_of(CComTypeInfoHolder* holder) {
  return std::atomic_ref<ITypeInfo*>(holder->m_pInfo);
}

void term_type_info_holder(DWORD_PTR dw) {
  auto* holder = reinterpret_cast<CComTypeInfoHolder*>(dw);
  if (ITypeInfo* info = info_of(holder).exchange(nullptr, std::memory_order_acq_rel))
    info->Release();
}

}  // namespace

HRESULT AtlModuleInit(_ATL_MODULE* pM, _ATL_OBJMAP_ENTRY* p, HINSTANCE h) {
  if (!pM)
    return E_INVALIDARG;
  pM->cbSize = sizeof(_ATL_MODULE);
  pM->m_hInst = pM->m_hInstResource = pM->m_hInstTypeLib = h;
  pM->m_pObjMap = p;
  pM->m_nLockCnt = 0;
  pM->m_hHeap = nullptr;
  pM->m_pTermFuncs = nullptr;
  InitializeCriticalSection(&pM->m_csTypeInfoHolder);
  InitializeCriticalSection(&pM->m_csObjMap);
  for (_ATL_OBJMAP_ENTRY* e = p; e && e->pclsid; ++e) {
    e->pCF = nullptr;
    if (e->pfnObjectMain)
      e->pfnObjectMain(true);
  }
  return S_OK;
}

HRESULT AtlModuleTerm(_ATL_MODULE* pM) {
  if (!pM)
    return E_INVALIDARG;
  for (_ATL_OBJMAP_ENTRY* e = pM->m_pObjMap; e && e->pclsid; ++e) {
    if (e->pCF)
      e->pCF->Release();
    e->pCF = nullptr;
    if (e->pfnObjectMain)
      e->pfnObjectMain(false);
  }
  // Added last, run first.
  while (_ATL_TERMFUNC_ELEM* elem = pM->m_pTermFuncs) {
    pM->m_pTermFuncs = elem->pNext;
    elem->pFunc(elem->dw);
    delete elem;
  }
  DeleteCriticalSection(&pM->m_csTypeInfoHolder);
  DeleteCriticalSection(&pM->m_csObjMap);
  return S_OK;
}

HRESULT AtlModuleAddTermFunc(_ATL_MODULE* pM, _ATL_TERMFUNC* pFunc, DWORD_PTR dw) {
  if (!pM || !pFunc)
    return E_INVALIDARG;
  if (FaultSimStep())
    return oom_fault();
  auto* elem = new (std::nothrow) _ATL_TERMFUNC_ELEM{pFunc, dw, nullptr};
  if (!elem)
    return oom_fault();
  EnterCriticalSection(&pM->m_csObjMap);
  elem->pNext = pM->m_pTermFuncs;
  pM->m_pTermFuncs = elem;
  LeaveCriticalSection(&pM->m_csObjMap);
  return S_OK;
}

HRESULT AtlModuleGetClassObject(_ATL_MODULE* pM, REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (!ppv)
    return E_POINTER;
  *ppv = nullptr;
  if (!pM)
    return E_INVALIDARG;
  for (_ATL_OBJMAP_ENTRY* e = pM->m_pObjMap; e && e->pclsid; ++e) {
    if (!IsEqualGUID(*e->pclsid, rclsid))
      continue;
    HRESULT hr = S_OK;
    EnterCriticalSection(&pM->m_csObjMap);
    if (!e->pCF && e->pfnGetClassObject)
      hr = e->pfnGetClassObject(reinterpret_cast<void*>(e->pfnCreateInstance), IID_IUnknown,
                                reinterpret_cast<void**>(&e->pCF));
    IUnknown* factory = e->pCF;
    if (factory)
      factory->AddRef();
    LeaveCriticalSection(&pM->m_csObjMap);
    if (FAILED(hr))
      return hr;
    if (!factory)
      return CLASS_E_CLASSNOTAVAILABLE;
    hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT AtlModuleRegisterServer(_ATL_MODULE* pM, BOOL bRegTypeLib, const CLSID* pCLSID) {
  if (!pM)
    return E_INVALIDARG;
  for (_ATL_OBJMAP_ENTRY* e = pM->m_pObjMap; e && e->pclsid; ++e) {
    if (pCLSID && !IsEqualGUID(*pCLSID, *e->pclsid))
      continue;
    HRESULT hr = e->pfnUpdateRegistry ? e->pfnUpdateRegistry(TRUE) : S_OK;
    if (FAILED(hr))
      return hr;
  }
  return bRegTypeLib ? AtlModuleRegisterTypeLib(pM, nullptr) : S_OK;
}

HRESULT AtlModuleUnregisterServerEx(_ATL_MODULE* pM, BOOL bUnRegTypeLib, const CLSID* pCLSID) {
  if (!pM)
    return E_INVALIDARG;
  HRESULT result = S_OK;
  for (_ATL_OBJMAP_ENTRY* e = pM->m_pObjMap; e && e->pclsid; ++e) {
    if (pCLSID && !IsEqualGUID(*pCLSID, *e->pclsid))
      continue;
    HRESULT hr = e->pfnUpdateRegistry ? e->pfnUpdateRegistry(FALSE) : S_OK;
    if (FAILED(hr) && SUCCEEDED(result))
      result = hr;
  }
  if (bUnRegTypeLib) {
    HRESULT hr = AtlModuleUnRegisterTypeLib(pM, nullptr);
    if (FAILED(hr) && SUCCEEDED(result))
      result = hr;
  }
  return result;
}

HRESULT AtlModuleRegisterTypeLib(_ATL_MODULE* pM, LPCOLESTR lpszIndex) {
  if (!pM)
    return E_INVALIDARG;
  try {
    OleString path;
    if (!typelib_path(pM, lpszIndex, &path))
      return E_FAIL;
    ComPtr<ITypeLib> lib;
    HRESULT hr = LoadTypeLib(path.c_str(), lib.Receive());
    if (FAILED(hr))
      return hr;
    OleString module;
    module_path(pM->m_hInstTypeLib, &module);
    const size_t slash = module.find_last_of(OLESTR('\\'));
    const OleString help_dir = slash == OleString::npos ? OLESTR("") : module.substr(0, slash);
    // Some system headers declare the paths without const; RegisterTypeLib only reads them.
    return RegisterTypeLib(lib.Get(), const_cast<LPOLESTR>(path.c_str()),
                           const_cast<LPOLESTR>(help_dir.c_str()));
  } catch (const std::bad_alloc&) {
    return oom_fault();
  }
}

HRESULT AtlModuleUnRegisterTypeLib(_ATL_MODULE* pM, LPCOLESTR lpszIndex) {
  if (!pM)
    return E_INVALIDARG;
  try {
    OleString path;
    if (!typelib_path(pM, lpszIndex, &path))
      return E_FAIL;
    ComPtr<ITypeLib> lib;
    HRESULT hr = LoadTypeLib(path.c_str(), lib.Receive());
    if (FAILED(hr))
      return hr;
    TLIBATTR* attr = nullptr;
    hr = lib->GetLibAttr(&attr);
    if (FAILED(hr))
      return hr;
    const TLIBATTR a = *attr;
    lib->ReleaseTLibAttr(attr);
    return UnRegisterTypeLib(a.guid, a.wMajorVerNum, a.wMinorVerNum, a.lcid, a.syskind);
  } catch (const std::bad_alloc&) {
    return oom_fault();
  }
}

HRESULT AtlModuleUpdateRegistryFromResourceD(_ATL_MODULE* pM, LPCOLESTR lpszRes, BOOL bRegister,
                                             _ATL_REGMAP_ENTRY* pMapEntries, IRegistrar*) {
  if (!pM || !lpszRes)
    return E_INVALIDARG;
  try {
    HRSRC resource = FindResourceW(pM->m_hInstResource, lpszRes, OLESTR("REGISTRY"));
    if (!resource)
      return HRESULT_FROM_WIN32(GetLastError());
    const char* text =
        static_cast<const char*>(LockResource(LoadResource(pM->m_hInstResource, resource)));
    const DWORD size = SizeofResource(pM->m_hInstResource, resource);
    if (!text)
      return HRESULT_FROM_WIN32(GetLastError());
    // The script is narrow text of the ANSI code page.
    OleString script;
    if (size) {
      const int n = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(size), nullptr, 0);
      if (n <= 0)
        return HRESULT_FROM_WIN32(GetLastError());
      script.resize(static_cast<size_t>(n));
      MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(size), script.data(), n);
    }
    OleString module;
    if (!module_path(pM->m_hInst, &module))
      return E_FAIL;
    std::vector<REGSCRIPT_REPLACEMENTW> replacements{{OLESTR("MODULE"), module.c_str()}};
    for (_ATL_REGMAP_ENTRY* e = pMapEntries; e && e->szKey; ++e)
      replacements.push_back({e->szKey, e->szData});
    OLECHAR error[256];
    HRESULT hr =
        PlatformRunRegScriptW(script.c_str(), replacements.data(),
                              static_cast<DWORD>(replacements.size()), bRegister, error, 256);
    if (FAILED(hr)) {
      std::string narrow(error, error + std::char_traits<OLECHAR>::length(error));
      OLEAUT_TRACE("registry script: " + narrow);
    }
    return hr;
  } catch (const std::bad_alloc&) {
    return oom_fault();
  }
}

HRESULT AtlInternalQueryInterface(void* pThis, const _ATL_INTMAP_ENTRY* pEntries, REFIID iid,
                                  void** ppvObject) {
  if (!ppvObject)
    return E_POINTER;
  *ppvObject = nullptr;
  if (!pThis || !pEntries || !pEntries->piid)
    return E_INVALIDARG;
  char* base = static_cast<char*>(pThis);
  // IUnknown is the identity: the first entry of the table.
  if (IsEqualGUID(iid, IID_IUnknown)) {
    auto* unk = reinterpret_cast<IUnknown*>(base + pEntries->dw);
    unk->AddRef();
    *ppvObject = unk;
    return S_OK;
  }
  for (const _ATL_INTMAP_ENTRY* e = pEntries; e->pFunc; ++e) {
    if (e->piid && !IsEqualGUID(*e->piid, iid))
      continue;
    if (e->pFunc == _ATL_SIMPLEMAPENTRY) {
      auto* unk = reinterpret_cast<IUnknown*>(base + e->dw);
      unk->AddRef();
      *ppvObject = unk;
      return S_OK;
    }
    HRESULT hr = e->pFunc(pThis, iid, ppvObject, e->dw);
    if (hr == S_OK || (FAILED(hr) && e->piid))
      return hr;
  }
  return E_NOINTERFACE;
}

IUnknown* AtlComPtrAssign(IUnknown** pp, IUnknown* lp) {
  if (!pp)
    return nullptr;
  if (lp)
    lp->AddRef();
  if (*pp)
    (*pp)->Release();
  *pp = lp;
  return lp;
}

HRESULT AtlSetErrorInfo(const CLSID& clsid, LPCOLESTR lpszDesc, DWORD dwHelpID,
                        LPCOLESTR lpszHelpFile, const IID& iid, HRESULT hRes, HINSTANCE) {
  ComPtr<ICreateErrorInfo> create;
  HRESULT hr = CreateErrorInfo(create.Receive());
  if (FAILED(hr))
    return hr;
  LPOLESTR source = nullptr;
  if (FAILED(ProgIDFromCLSID(clsid, &source)))
    StringFromCLSID(clsid, &source);
  create->SetGUID(iid);
  create->SetSource(source);
  create->SetDescription(const_cast<LPOLESTR>(lpszDesc));
  create->SetHelpFile(const_cast<LPOLESTR>(lpszHelpFile));
  create->SetHelpContext(dwHelpID);
  CoTaskMemFree(source);
  ComPtr<IErrorInfo> info;
  hr = create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(info.Receive()));
  if (FAILED(hr))
    return hr;
  SetErrorInfo(0, info.Get());
  return hRes == 0 ? DISP_E_EXCEPTION : hRes;
}

HRESULT AtlTypeInfoHolderGetTI(_ATL_MODULE* pM, CComTypeInfoHolder* pHolder, ITypeInfo** ppInfo) {
  if (!ppInfo)
    return E_POINTER;
  *ppInfo = nullptr;
  if (!pM || !pHolder)
    return E_INVALIDARG;
  // Once loaded it stays until the module ends, when no object is left to ask for it.
  if (ITypeInfo* loaded = info_of(pHolder).load(std::memory_order_acquire)) {
    loaded->AddRef();
    *ppInfo = loaded;
    return S_OK;
  }
  HRESULT hr = S_OK;
  EnterCriticalSection(&pM->m_csTypeInfoHolder);
  if (!info_of(pHolder).load(std::memory_order_relaxed)) {
    ComPtr<ITypeLib> lib;
    hr = LoadRegTypeLib(*pHolder->m_plibid, pHolder->m_wMajor, pHolder->m_wMinor, 0, lib.Receive());
    // A library registered under a locale of its own is not found for the neutral one: then
    // the module's own type library serves, as the platform's ATL does.
    if (FAILED(hr))
      hr = load_module_type_lib(pM, lib.Receive());
    ComPtr<ITypeInfo> info;
    if (SUCCEEDED(hr))
      hr = lib->GetTypeInfoOfGuid(*pHolder->m_pguid, info.Receive());
    // Only a holder that will be cleaned up keeps what it loaded.
    if (SUCCEEDED(hr))
      hr = AtlModuleAddTermFunc(pM, term_type_info_holder, reinterpret_cast<DWORD_PTR>(pHolder));
    if (SUCCEEDED(hr))
      info_of(pHolder).store(info.Release(), std::memory_order_release);
  }
  if (ITypeInfo* info = info_of(pHolder).load(std::memory_order_relaxed)) {
    info->AddRef();
    *ppInfo = info;
  }
  LeaveCriticalSection(&pM->m_csTypeInfoHolder);
  return hr;
}

namespace {

// The holder's type information without a reference of the caller's own: the holder keeps it
// until the module ends, and a module does not end while one of its objects is called. Every
// call of an object used to count a reference on the type library, which all the threads
// share.
HRESULT borrowed_type_info(_ATL_MODULE* pM, CComTypeInfoHolder* pHolder, ITypeInfo** info) {
  *info = pHolder ? info_of(pHolder).load(std::memory_order_acquire) : nullptr;
  if (*info)
    return S_OK;
  ComPtr<ITypeInfo> loaded;
  const HRESULT hr = AtlTypeInfoHolderGetTI(pM, pHolder, loaded.Receive());
  *info = loaded.Get();
  return hr;
}

}  // namespace

HRESULT AtlTypeInfoHolderInvoke(_ATL_MODULE* pM, CComTypeInfoHolder* pHolder, IDispatch* pThis,
                                DISPID dispidMember, REFIID riid, LCID, WORD wFlags,
                                DISPPARAMS* pdispparams, VARIANT* pvarResult, EXCEPINFO* pexcepinfo,
                                UINT* puArgErr) {
  if (!IsEqualGUID(riid, GUID_NULL))
    return DISP_E_UNKNOWNINTERFACE;
  ITypeInfo* info = nullptr;
  const HRESULT hr = borrowed_type_info(pM, pHolder, &info);
  if (FAILED(hr))
    return hr;
  return info->Invoke(pThis, dispidMember, wFlags, pdispparams, pvarResult, pexcepinfo, puArgErr);
}

HRESULT AtlTypeInfoHolderGetIDsOfNames(_ATL_MODULE* pM, CComTypeInfoHolder* pHolder, REFIID riid,
                                       LPOLESTR* rgszNames, UINT cNames, LCID, DISPID* rgdispid) {
  if (!IsEqualGUID(riid, GUID_NULL))
    return DISP_E_UNKNOWNINTERFACE;
  ITypeInfo* info = nullptr;
  const HRESULT hr = borrowed_type_info(pM, pHolder, &info);
  if (FAILED(hr))
    return hr;
  return info->GetIDsOfNames(rgszNames, cNames, rgdispid);
}
