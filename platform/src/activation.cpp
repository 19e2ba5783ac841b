// Activation of registered in-process classes: CoInitialize(Ex), CoUninitialize,
// CoGetClassObject, CoCreateInstance, CLSIDFromProgID, ProgIDFromCLSID, StringFromCLSID and
// CoFreeUnusedLibraries. Servers are found through the registry and loaded with LoadLibrary.
// Class objects and ProgID lookups are kept while the registry is unchanged, so creating an
// object of a class already used costs a lookup, not a registry walk and a DllGetClassObject.
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <string>

#include "com_ptr.h"
#include "libloaderapi.h"
#include "objbase.h"
#include "oleaut_private.h"
#include "reg_key_holder.h"
#include "registry_private.h"
#include "winnls.h"
#include "winreg.h"

namespace {

typedef HRESULT (*DllGetClassObjectProc)(REFCLSID, REFIID, LPVOID*);
typedef HRESULT (*DllCanUnloadNowProc)();

thread_local int apartment_depth = 0;

struct GuidLess {
  bool operator()(const GUID& a, const GUID& b) const { return std::memcmp(&a, &b, sizeof a) < 0; }
};

// A class object as its server gave it, with the registry generation it was found under.
struct CachedClass {
  ComPtr<IUnknown> factory;
  uint64_t generation = 0;
};

struct CachedProgID {
  CLSID clsid{};
  uint64_t generation = 0;
};

// The servers activation loaded, by the path the registry gave (each is loaded once), and what
// activation keeps of them: their class objects and the ProgIDs that named their classes.
struct LoadedServers {
  std::mutex mutex;
  std::map<std::string, HMODULE> modules;
  std::map<CLSID, CachedClass, GuidLess> classes;
  std::map<std::u16string, CachedProgID> progids;
};

LoadedServers& servers() {
  static LoadedServers* s = new LoadedServers();
  return *s;
}

std::u16string guid_text(REFGUID guid) {
  OLECHAR text[CHARS_IN_GUID];
  StringFromGUID2(guid, text, CHARS_IN_GUID);
  return text;
}

// The server module of a class: loaded once, kept until CoFreeUnusedLibraries.
HRESULT server_of(REFCLSID rclsid, HMODULE* module) {
  RegKeyHolder key;
  std::u16string path;
  if (!key.Open(HKEY_CLASSES_ROOT, u"CLSID\\" + guid_text(rclsid) + u"\\InprocServer32") ||
      !key.ReadString(nullptr, &path) || path.empty())
    return REGDB_E_CLASSNOTREG;
  const int n = WideCharToMultiByte(CP_ACP, 0, path.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1)
    return REGDB_E_CLASSNOTREG;
  std::string narrow(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, path.c_str(), -1, narrow.data(), n, nullptr, nullptr);
  narrow.resize(static_cast<size_t>(n - 1));

  LoadedServers& s = servers();
  std::lock_guard<std::mutex> lock(s.mutex);
  auto it = s.modules.find(narrow);
  if (it != s.modules.end()) {
    *module = it->second;
    return S_OK;
  }
  HMODULE loaded = LoadLibraryA(narrow.c_str());
  if (!loaded) {
    OLEAUT_TRACE("cannot load " + narrow);
    return CO_E_DLLNOTFOUND;
  }
  s.modules.emplace(narrow, loaded);
  *module = loaded;
  return S_OK;
}

template <typename Proc>
Proc export_of(HMODULE module, const char* name) {
  return reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

}  // namespace

HRESULT CoInitializeEx(LPVOID, DWORD) {
  return apartment_depth++ == 0 ? S_OK : S_FALSE;
}

HRESULT CoInitialize(LPVOID pvReserved) {
  return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED);
}

void CoUninitialize(void) {
  if (apartment_depth > 0)
    --apartment_depth;
}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, COSERVERINFO*, REFIID riid,
                         LPVOID* ppv) {
  if (!ppv)
    return E_INVALIDARG;
  *ppv = nullptr;
  if (apartment_depth == 0)
    return CO_E_NOTINITIALIZED;
  if (!(dwClsContext & CLSCTX_INPROC_SERVER))
    return REGDB_E_CLASSNOTREG;
  try {
    const uint64_t generation = reg_generation();
    LoadedServers& s = servers();
    ComPtr<IUnknown> kept;
    if (generation != 0) {
      std::lock_guard<std::mutex> lock(s.mutex);
      auto it = s.classes.find(rclsid);
      if (it != s.classes.end() && it->second.generation == generation)
        kept.Set(it->second.factory.Get());
    }
    if (kept)
      return kept->QueryInterface(riid, ppv);
    HMODULE module = nullptr;
    HRESULT hr = server_of(rclsid, &module);
    if (FAILED(hr))
      return hr;
    auto get_class_object = export_of<DllGetClassObjectProc>(module, "DllGetClassObject");
    if (!get_class_object)
      return CO_E_ERRORINDLL;
    // A server that hands out its class object only by another interface is asked each time.
    if (FAILED(get_class_object(rclsid, IID_IUnknown, reinterpret_cast<void**>(kept.Receive()))) ||
        !kept)
      return get_class_object(rclsid, riid, ppv);
    if (generation != 0) {
      std::lock_guard<std::mutex> lock(s.mutex);
      CachedClass& entry = s.classes[rclsid];
      entry.factory.Set(kept.Get());
      entry.generation = generation;
    }
    return kept->QueryInterface(riid, ppv);
  } catch (const std::bad_alloc&) {
    return oom_fault();
  }
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID* ppv) {
  if (!ppv)
    return E_POINTER;
  *ppv = nullptr;
  ComPtr<IClassFactory> factory;
  HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory,
                                reinterpret_cast<void**>(factory.Receive()));
  if (FAILED(hr))
    return hr;
  return factory->CreateInstance(pUnkOuter, riid, ppv);
}

HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid) {
  if (!lpszProgID || !lpclsid)
    return E_INVALIDARG;
  *lpclsid = GUID_NULL;
  try {
    const uint64_t generation = reg_generation();
    // The thread's last answer, while the registry is unchanged: a page makes the same class
    // on every request, and this skips the lock every thread shares.
    thread_local struct {
      uint64_t generation = 0;
      std::u16string progid;
      CLSID clsid{};
    } last;
    if (generation != 0 && last.generation == generation && last.progid == lpszProgID) {
      *lpclsid = last.clsid;
      return S_OK;
    }
    // Without memory for the copy the thread keeps no answer, which is as right.
    const auto remember = [generation](const std::u16string& progid, const CLSID& clsid) {
      last.generation = 0;
      try {
        last.progid = progid;
      } catch (const std::bad_alloc&) {
        return;
      }
      last.clsid = clsid;
      last.generation = generation;
    };
    const std::u16string progid(lpszProgID);
    LoadedServers& s = servers();
    if (generation != 0) {
      std::lock_guard<std::mutex> lock(s.mutex);
      auto it = s.progids.find(progid);
      if (it != s.progids.end() && it->second.generation == generation) {
        *lpclsid = it->second.clsid;
        remember(progid, it->second.clsid);
        return S_OK;
      }
    }
    RegKeyHolder key;
    std::u16string text;
    CLSID clsid{};
    if (progid.empty() || !key.Open(HKEY_CLASSES_ROOT, progid + u"\\CLSID") ||
        !key.ReadString(nullptr, &text) || FAILED(CLSIDFromString(text.c_str(), &clsid)))
      return CO_E_CLASSSTRING;
    if (generation != 0) {
      std::lock_guard<std::mutex> lock(s.mutex);
      s.progids[progid] = CachedProgID{clsid, generation};
    }
    *lpclsid = clsid;
    if (generation != 0)
      remember(progid, clsid);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return oom_fault();
  }
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID) {
  if (!lplpszProgID)
    return E_INVALIDARG;
  *lplpszProgID = nullptr;
  try {
    RegKeyHolder key;
    std::u16string text;
    if (!key.Open(HKEY_CLASSES_ROOT, u"CLSID\\" + guid_text(clsid) + u"\\ProgID") ||
        !key.ReadString(nullptr, &text))
      return REGDB_E_CLASSNOTREG;
    auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
    if (!out)
      return oom_fault();
    std::memcpy(out, text.c_str(), (text.size() + 1) * sizeof(OLECHAR));
    *lplpszProgID = out;
    return S_OK;
  } catch (const std::bad_alloc&) {
    return oom_fault();
  }
}

HRESULT StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz) {
  if (!lplpsz)
    return E_INVALIDARG;
  *lplpsz = static_cast<LPOLESTR>(CoTaskMemAlloc(CHARS_IN_GUID * sizeof(OLECHAR)));
  if (!*lplpsz)
    return oom_fault();
  StringFromGUID2(rclsid, *lplpsz, CHARS_IN_GUID);
  return S_OK;
}

void CoFreeUnusedLibraries(void) {
  LoadedServers& s = servers();
  std::lock_guard<std::mutex> lock(s.mutex);
  // A kept class object holds its server: let go of them all, so that only objects and locks
  // that others hold keep a server loaded.
  s.classes.clear();
  for (auto it = s.modules.begin(); it != s.modules.end();) {
    auto can_unload = export_of<DllCanUnloadNowProc>(it->second, "DllCanUnloadNow");
    if (can_unload && can_unload() == S_OK) {
      FreeLibrary(it->second);
      it = s.modules.erase(it);
    } else {
      ++it;
    }
  }
}
