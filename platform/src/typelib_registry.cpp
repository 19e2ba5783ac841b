// Registration of type libraries: RegisterTypeLib, UnRegisterTypeLib and LoadRegTypeLib, over
// HKEY_CLASSES_ROOT\TypeLib\{libid}\<major>.<minor>\<lcid>\win64 and Interface\{iid}.
#include <cstdio>
#include <new>
#include <string>

#include "com_ptr.h"
#include "objbase.h"
#include "oleaut_private.h"
#include "reg_key_holder.h"
#include "scoped_bstr.h"

namespace {

// The proxy-stub class of automation interfaces, which the registration names.
const char16_t kAutomationProxy[] = u"{00020424-0000-0000-C000-000000000046}";

std::u16string guid_text(REFGUID guid) {
  OLECHAR text[CHARS_IN_GUID];
  StringFromGUID2(guid, text, CHARS_IN_GUID);
  return text;
}

std::u16string ascii(const char* text) {
  return std::u16string(text, text + strlen(text));
}

// Version and locale keys are written in hexadecimal, as the platform does.
std::u16string version_text(WORD major, WORD minor) {
  char text[16];
  snprintf(text, sizeof text, "%x.%x", major, minor);
  return ascii(text);
}

std::u16string lcid_text(LCID lcid) {
  char text[16];
  snprintf(text, sizeof text, "%x", lcid);
  return ascii(text);
}

bool registers_interface(const TYPEATTR* a) {
  return (a->typekind == TKIND_DISPATCH || a->typekind == TKIND_INTERFACE) &&
         (a->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE));
}

// The interfaces a library registers, with their names.
template <typename Visit>
void for_each_interface(ITypeLib* lib, Visit visit) {
  const UINT count = lib->GetTypeInfoCount();
  for (UINT i = 0; i < count; ++i) {
    ComPtr<ITypeInfo> info;
    if (FAILED(lib->GetTypeInfo(i, info.Receive())))
      continue;
    TYPEATTR* a = nullptr;
    if (FAILED(info->GetTypeAttr(&a)))
      continue;
    if (registers_interface(a)) {
      ScopedBstr name;
      info->GetDocumentation(MEMBERID_NIL, name.Receive(), nullptr, nullptr, nullptr);
      visit(a->guid, std::u16string(name.Get() ? name.Get() : u""));
    }
    info->ReleaseTypeAttr(a);
  }
}

}  // namespace

HRESULT RegisterTypeLib(ITypeLib* ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir) {
  if (!ptlib || !szFullPath)
    return E_INVALIDARG;
  try {
    TLIBATTR* attr = nullptr;
    HRESULT hr = ptlib->GetLibAttr(&attr);
    if (FAILED(hr))
      return hr;
    const TLIBATTR lib = *attr;
    ptlib->ReleaseTLibAttr(attr);
    ScopedBstr name, doc;
    hr = ptlib->GetDocumentation(-1, name.Receive(), doc.Receive(), nullptr, nullptr);
    if (FAILED(hr))
      return hr;

    const std::u16string libid = guid_text(lib.guid);
    const std::u16string base =
        u"TypeLib\\" + libid + u"\\" + version_text(lib.wMajorVerNum, lib.wMinorVerNum);
    std::u16string path(szFullPath);
    std::u16string help = szHelpDir
                              ? std::u16string(szHelpDir)
                              : path.substr(0, path.find_last_of(u'\\') == std::u16string::npos
                                                   ? 0
                                                   : path.find_last_of(u'\\'));
    RegKeyHolder version_key, win_key, flags_key, help_key;
    if (!version_key.Create(HKEY_CLASSES_ROOT, base) ||
        !version_key.WriteString(nullptr, doc.Get() && *doc.Get()
                                              ? std::u16string(doc.Get())
                                              : std::u16string(name.Get() ? name.Get() : u"")) ||
        !win_key.Create(version_key.Get(), lcid_text(lib.lcid) + u"\\win64") ||
        !win_key.WriteString(nullptr, path) || !flags_key.Create(version_key.Get(), u"FLAGS") ||
        !flags_key.WriteString(nullptr, ascii(std::to_string(lib.wLibFlags).c_str())) ||
        !help_key.Create(version_key.Get(), u"HELPDIR") || !help_key.WriteString(nullptr, help))
      return TYPE_E_REGISTRYACCESS;

    bool ok = true;
    for_each_interface(ptlib, [&](REFGUID iid, const std::u16string& itf_name) {
      RegKeyHolder itf, proxy, proxy32, typelib;
      const std::u16string key = u"Interface\\" + guid_text(iid);
      ok = ok && itf.Create(HKEY_CLASSES_ROOT, key) && itf.WriteString(nullptr, itf_name) &&
           proxy.Create(itf.Get(), u"ProxyStubClsid") &&
           proxy.WriteString(nullptr, kAutomationProxy) &&
           proxy32.Create(itf.Get(), u"ProxyStubClsid32") &&
           proxy32.WriteString(nullptr, kAutomationProxy) &&
           typelib.Create(itf.Get(), u"TypeLib") && typelib.WriteString(nullptr, libid) &&
           typelib.WriteString(u"Version", version_text(lib.wMajorVerNum, lib.wMinorVerNum));
    });
    return ok ? S_OK : TYPE_E_REGISTRYACCESS;
  } catch (const std::bad_alloc&) {
    return oom_fault();
  }
}

HRESULT UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid, SYSKIND) {
  try {
    const std::u16string libid = guid_text(libID);
    const std::u16string lib_key = u"TypeLib\\" + libid;
    const std::u16string version = version_text(wVerMajor, wVerMinor);
    std::u16string path;
    {
      RegKeyHolder win_key;
      if (!win_key.Open(HKEY_CLASSES_ROOT,
                        lib_key + u"\\" + version + u"\\" + lcid_text(lcid) + u"\\win64") ||
          !win_key.ReadString(nullptr, &path))
        return TYPE_E_REGISTRYACCESS;
    }
    // The interfaces are those of the registered library, read back from its file; an
    // interface that another library registered since is left alone.
    ComPtr<ITypeLib> lib;
    if (SUCCEEDED(LoadTypeLib(path.c_str(), lib.Receive()))) {
      for_each_interface(lib.Get(), [&](REFGUID iid, const std::u16string&) {
        const std::u16string key = u"Interface\\" + guid_text(iid);
        RegKeyHolder typelib;
        std::u16string owner;
        if (typelib.Open(HKEY_CLASSES_ROOT, key + u"\\TypeLib") &&
            typelib.ReadString(nullptr, &owner) && owner == libid)
          RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
      });
    }
    if (RegDeleteTreeW(HKEY_CLASSES_ROOT, (lib_key + u"\\" + version).c_str()) != ERROR_SUCCESS)
      return TYPE_E_REGISTRYACCESS;
    // The library's own key goes with its last version (the delete fails while others remain).
    RegDeleteKeyW(HKEY_CLASSES_ROOT, lib_key.c_str());
    return S_OK;
  } catch (const std::bad_alloc&) {
    return oom_fault();
  }
}

HRESULT LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                       ITypeLib** pptlib) {
  if (!pptlib)
    return E_INVALIDARG;
  *pptlib = nullptr;
  try {
    const std::u16string lib_key = u"TypeLib\\" + guid_text(rguid);
    RegKeyHolder lib;
    if (!lib.Open(HKEY_CLASSES_ROOT, lib_key))
      return TYPE_E_LIBNOTREGISTERED;
    // The highest registered minor version of the major version asked for, at least the minor.
    int best_minor = -1;
    for (DWORD i = 0;; ++i) {
      char16_t name[64];
      DWORD size = 64;
      if (RegEnumKeyExW(lib.Get(), i, name, &size, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS)
        break;
      unsigned major = 0;
      unsigned minor = 0;
      std::string narrow(name, name + size);
      if (sscanf(narrow.c_str(), "%x.%x", &major, &minor) == 2 && major == wVerMajor &&
          minor >= wVerMinor && static_cast<int>(minor) > best_minor)
        best_minor = static_cast<int>(minor);
    }
    if (best_minor < 0)
      return TYPE_E_LIBNOTREGISTERED;
    const std::u16string version =
        lib_key + u"\\" + version_text(wVerMajor, static_cast<WORD>(best_minor));
    // The locale asked for, its primary language, then the neutral locale: as on the platform,
    // a library registered only under a locale of its own (lcid(0x409)) is not found for
    // another one, the neutral locale 0 included.
    std::u16string path;
    for (LCID candidate : {lcid, static_cast<LCID>(lcid & 0x3FF), static_cast<LCID>(0)}) {
      RegKeyHolder win_key;
      if (win_key.Open(HKEY_CLASSES_ROOT, version + u"\\" + lcid_text(candidate) + u"\\win64") &&
          win_key.ReadString(nullptr, &path))
        break;
    }
    if (path.empty())
      return TYPE_E_LIBNOTREGISTERED;
    return LoadTypeLib(path.c_str(), pptlib);
  } catch (const std::bad_alloc&) {
    return oom_fault();
  }
}
