// Type libraries: LoadTypeLib and LoadTypeLibEx, and the ITypeLib object built from an
// interface description (the module's TYPELIB resource or a description file).
#include <cstring>
#include <fstream>
#include <map>
#include <new>
#include <sstream>

#include "com_ptr.h"
#include "faultsim.h"
#include "idl_parser.h"
#include "libloaderapi.h"
#include "oleauto.h"
#include "pathmap.h"
#include "scoped_bstr.h"
#include "typelib_private.h"
#include "winnls.h"

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  return c - 'A' + 10;
}

// A GUID from the canonical text the parser checked: XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX.
GUID guid_from_text(const std::string& t) {
  GUID g{};
  if (t.size() != 36)
    return g;
  auto hex = [&](size_t at, size_t n) {
    uint32_t v = 0;
    for (size_t i = 0; i < n; ++i)
      v = (v << 4) | static_cast<uint32_t>(hex_value(t[at + i]));
    return v;
  };
  g.Data1 = hex(0, 8);
  g.Data2 = static_cast<uint16_t>(hex(9, 4));
  g.Data3 = static_cast<uint16_t>(hex(14, 4));
  g.Data4[0] = static_cast<uint8_t>(hex(19, 2));
  g.Data4[1] = static_cast<uint8_t>(hex(21, 2));
  for (int i = 0; i < 6; ++i)
    g.Data4[2 + i] = static_cast<uint8_t>(hex(24 + 2 * i, 2));
  return g;
}

VARTYPE base_vartype(idl::BaseType b) {
  switch (b) {
    case idl::BaseType::kVoid:
      return VT_VOID;
    case idl::BaseType::kHresult:
      return VT_HRESULT;
    case idl::BaseType::kI1:
      return VT_I1;
    case idl::BaseType::kUI1:
      return VT_UI1;
    case idl::BaseType::kI2:
      return VT_I2;
    case idl::BaseType::kUI2:
      return VT_UI2;
    case idl::BaseType::kI4:
      return VT_I4;
    case idl::BaseType::kUI4:
      return VT_UI4;
    case idl::BaseType::kI8:
      return VT_I8;
    case idl::BaseType::kUI8:
      return VT_UI8;
    case idl::BaseType::kInt:
      return VT_INT;
    case idl::BaseType::kUInt:
      return VT_UINT;
    case idl::BaseType::kR4:
      return VT_R4;
    case idl::BaseType::kR8:
      return VT_R8;
    case idl::BaseType::kBool:
      return VT_BOOL;
    case idl::BaseType::kBstr:
      return VT_BSTR;
    case idl::BaseType::kVariant:
      return VT_VARIANT;
    case idl::BaseType::kDate:
      return VT_DATE;
    case idl::BaseType::kCy:
      return VT_CY;
    case idl::BaseType::kDecimal:
      return VT_DECIMAL;
    case idl::BaseType::kScode:
      return VT_ERROR;
    case idl::BaseType::kLpStr:
      return VT_LPSTR;
    case idl::BaseType::kLpWStr:
      return VT_LPWSTR;
    case idl::BaseType::kUnknown:
      return VT_UNKNOWN;
    case idl::BaseType::kDispatch:
      return VT_DISPATCH;
    case idl::BaseType::kUserDefined:
      return VT_USERDEFINED;
  }
  return VT_VOID;
}

// Builds the descriptions of one library; indexes of type infos by name resolve references.
class Builder {
 public:
  Builder(const idl::Library& d, std::map<std::string, HREFTYPE>& refs) : d_(d), refs_(refs) {}

  // The description of t, its nodes kept in info.
  TYPEDESC type_desc(TypeInfoImpl& info, const idl::Type& t) {
    TYPEDESC inner{};
    int levels = t.pointer_level;
    if (t.safearray) {
      idl::Type element_type = t;
      element_type.safearray = false;
      element_type.pointer_level = t.element_pointer_level;
      info.type_nodes.push_back(type_desc(info, element_type));
      inner.vt = VT_SAFEARRAY;
      inner.lptdesc = &info.type_nodes.back();
    } else {
      // IDispatch* is VT_DISPATCH itself, and IFoo* is a pointer to the user-defined IFoo.
      if (t.base == idl::BaseType::kDispatch || t.base == idl::BaseType::kUnknown)
        --levels;
      inner = scalar(t);
    }
    for (int i = 0; i < levels; ++i) {
      info.type_nodes.push_back(inner);
      TYPEDESC outer{};
      outer.vt = VT_PTR;
      outer.lptdesc = &info.type_nodes.back();
      inner = outer;
    }
    return inner;
  }

  void fill_interface(TypeInfoImpl& info, const idl::Interface& itf) {
    std::vector<const idl::Interface*> chain;
    for (const idl::Interface* c = &itf; c; c = idl::FindInterface(d_, c->base))
      chain.insert(chain.begin(), c);
    const bool dispatch_based = chain.front()->base == "IDispatch";
    int slot = dispatch_based ? 7 : 3;
    for (const idl::Interface* c : chain) {
      const int level = idl::InterfaceLevel(d_, c->name);
      for (size_t k = 0; k < c->methods.size(); ++k, ++slot)
        add_func(info, itf, *c, level, k, slot);
    }
    info.attr.typekind = itf.dual ? TKIND_DISPATCH : TKIND_INTERFACE;
    info.attr.cbSizeVft = static_cast<WORD>(slot * 8);
    WORD flags = 0;
    if (itf.dual)
      flags |= TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE | TYPEFLAG_FOLEAUTOMATION;
    if (itf.oleautomation)
      flags |= TYPEFLAG_FOLEAUTOMATION;
    if (itf.hidden)
      flags |= TYPEFLAG_FHIDDEN;
    if (itf.nonextensible)
      flags |= TYPEFLAG_FNONEXTENSIBLE;
    info.attr.wTypeFlags = flags;
    info.attr.guid = guid_from_text(itf.uuid);
    info.doc = to_u16(itf.helpstring);
    if (itf.base == "IDispatch") {
      info.impl_types.push_back(kRefStdDispatch);
    } else if (itf.base == "IUnknown") {
      info.impl_types.push_back(kRefStdUnknown);
    } else if (!itf.base.empty()) {
      info.impl_types.push_back(refs_.at(itf.base));
    }
    info.impl_flags.assign(info.impl_types.size(), 0);
  }

  void fill_coclass(TypeInfoImpl& info, const idl::Coclass& c) {
    info.attr.typekind = TKIND_COCLASS;
    info.attr.guid = guid_from_text(c.uuid);
    info.attr.wTypeFlags = c.noncreatable ? 0 : TYPEFLAG_FCANCREATE;
    info.doc = to_u16(c.helpstring);
    for (const idl::CoclassMember& m : c.members) {
      HREFTYPE ref = m.interface_name == "IDispatch"  ? kRefStdDispatch
                     : m.interface_name == "IUnknown" ? kRefStdUnknown
                                                      : refs_.at(m.interface_name);
      info.impl_types.push_back(ref);
      info.impl_flags.push_back((m.is_default ? IMPLTYPEFLAG_FDEFAULT : 0) |
                                (m.source ? IMPLTYPEFLAG_FSOURCE : 0));
    }
  }

  void fill_enum(TypeInfoImpl& info, const idl::Enum& e) {
    info.attr.typekind = TKIND_ENUM;
    if (!e.uuid.empty())
      info.attr.guid = guid_from_text(e.uuid);
    info.doc = to_u16(e.helpstring);
    info.vars.resize(e.members.size());
    for (size_t i = 0; i < e.members.size(); ++i) {
      VarInfo& v = info.vars[i];
      v.name = to_u16(e.members[i].name);
      v.doc = to_u16(e.members[i].helpstring);
      v.value.vt = VT_I4;
      v.value.lVal = static_cast<LONG>(e.members[i].value);
      v.desc.memid = static_cast<MEMBERID>(0x40000000 + i);
      v.desc.lpvarValue = &v.value;
      v.desc.elemdescVar.tdesc.vt = VT_I4;
      v.desc.varkind = VAR_CONST;
    }
  }

 private:
  TYPEDESC scalar(const idl::Type& t) {
    TYPEDESC d{};
    d.vt = base_vartype(t.base);
    if (t.base == idl::BaseType::kUserDefined)
      d.hreftype = refs_.at(t.user_name);
    return d;
  }

  void add_func(TypeInfoImpl& info, const idl::Interface& owner, const idl::Interface& c, int level,
                size_t k, int slot) {
    const idl::Method& m = c.methods[k];
    FuncInfo f;
    f.name = to_u16(m.name);
    f.doc = to_u16(m.helpstring);
    MEMBERID memid = 0;
    if (m.id) {
      memid = *m.id;
    } else {
      // A property's get and put share the number of the group's first slot.
      size_t first = k;
      if (m.kind != idl::MemberKind::kMethod)
        for (size_t j = 0; j < k; ++j)
          if (c.methods[j].name == m.name && c.methods[j].kind != idl::MemberKind::kMethod &&
              !c.methods[j].id) {
            first = j;
            break;
          }
      memid = idl::DefaultDispid(level, static_cast<int>(first));
    }
    f.desc.memid = memid;
    f.desc.funckind = owner.dual ? FUNC_DISPATCH : FUNC_PUREVIRTUAL;
    switch (m.kind) {
      case idl::MemberKind::kMethod:
        f.desc.invkind = INVOKE_FUNC;
        break;
      case idl::MemberKind::kPropGet:
        f.desc.invkind = INVOKE_PROPERTYGET;
        break;
      case idl::MemberKind::kPropPut:
        f.desc.invkind = INVOKE_PROPERTYPUT;
        break;
      case idl::MemberKind::kPropPutRef:
        f.desc.invkind = INVOKE_PROPERTYPUTREF;
        break;
    }
    f.desc.callconv = CC_STDCALL;
    f.desc.oVft = static_cast<SHORT>(slot * 8);
    f.desc.wFuncFlags = static_cast<WORD>((m.restricted ? FUNCFLAG_FRESTRICTED : 0) |
                                          (m.hidden ? FUNCFLAG_FHIDDEN : 0));
    f.desc.elemdescFunc.tdesc = type_desc(info, m.result);
    SHORT optional = 0;
    for (const idl::Param& p : m.params) {
      ELEMDESC e{};
      e.tdesc = type_desc(info, p.type);
      USHORT flags = 0;
      if (p.in)
        flags |= PARAMFLAG_FIN;
      if (p.out)
        flags |= PARAMFLAG_FOUT;
      if (p.retval)
        flags |= PARAMFLAG_FRETVAL;
      if (p.lcid)
        flags |= PARAMFLAG_FLCID;
      if (p.optional || p.default_value) {
        flags |= PARAMFLAG_FOPT;
        ++optional;
      }
      if (p.default_value) {
        flags |= PARAMFLAG_FHASDEFAULT;
        info.defaults.push_back(
            PARAMDESCEX{sizeof(PARAMDESCEX), default_variant(*p.default_value)});
        e.paramdesc.pparamdescex = &info.defaults.back();
      }
      e.paramdesc.wParamFlags = flags;
      f.params.push_back(e);
      f.param_names.push_back(to_u16(p.name));
    }
    f.desc.cParams = static_cast<SHORT>(f.params.size());
    f.desc.cParamsOpt = optional;
    f.desc.lprgelemdescParam = f.params.empty() ? nullptr : f.params.data();
    info.funcs.push_back(std::move(f));
  }

  static VARIANT default_variant(const idl::Literal& l) {
    VARIANT v;
    VariantInit(&v);
    switch (l.kind) {
      case idl::Literal::Kind::kInteger:
        v.vt = VT_I4;
        v.lVal = static_cast<LONG>(l.integer);
        break;
      case idl::Literal::Kind::kFloat:
        v.vt = VT_R8;
        v.dblVal = l.floating;
        break;
      case idl::Literal::Kind::kBool:
        v.vt = VT_BOOL;
        v.boolVal = l.integer ? VARIANT_TRUE : VARIANT_FALSE;
        break;
      case idl::Literal::Kind::kString: {
        v.vt = VT_BSTR;
        v.bstrVal = bstr_from_acp(l.text.data(), l.text.size());
        if (!v.bstrVal)
          throw std::bad_alloc();
        break;
      }
      case idl::Literal::Kind::kNone:
        break;
    }
    return v;
  }

  const idl::Library& d_;
  std::map<std::string, HREFTYPE>& refs_;
};

// The bytes of the file at path (system namespace); false when it cannot be read.
bool read_file(const std::string& os_path, std::string* text) {
  std::ifstream in(os_path, std::ios::binary);
  if (!in)
    return false;
  std::ostringstream s;
  s << in.rdbuf();
  *text = s.str();
  return !in.bad();
}

// The TYPELIB resource number of a module, in a library path "file\N".
bool split_resource_index(const std::string& path, std::string* file, WORD* index) {
  const size_t sep = path.find_last_of('\\');
  if (sep == std::string::npos || sep + 1 >= path.size() || path.size() - sep > 6)
    return false;
  unsigned n = 0;
  for (size_t i = sep + 1; i < path.size(); ++i) {
    if (path[i] < '0' || path[i] > '9')
      return false;
    n = n * 10 + static_cast<unsigned>(path[i] - '0');
  }
  if (n == 0 || n > 0xFFFF)
    return false;
  *file = path.substr(0, sep);
  *index = static_cast<WORD>(n);
  return true;
}

// The description text behind a library path: a module's TYPELIB resource or a file.
HRESULT read_description(const std::string& path, std::string* text) {
  std::string file = path;
  WORD index = 1;
  std::string os_path;
  if (!map_path(file.c_str(), Wildcards::kRefused, &os_path) || !read_file(os_path, text)) {
    if (!split_resource_index(path, &file, &index) ||
        !map_path(file.c_str(), Wildcards::kRefused, &os_path) || !read_file(os_path, text)) {
      OLEAUT_TRACE("cannot read " + path);
      return TYPE_E_CANTLOADLIBRARY;
    }
  }
  if (text->compare(0, 4,
                    "\x7F"
                    "ELF") != 0)
    return S_OK;
  HMODULE module = LoadLibraryExA(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) {
    OLEAUT_TRACE("cannot load module " + file);
    return TYPE_E_CANTLOADLIBRARY;
  }
  HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(index), "TYPELIB");
  const char* bytes =
      resource ? static_cast<const char*>(LockResource(LoadResource(module, resource))) : nullptr;
  if (bytes)
    text->assign(bytes, SizeofResource(module, resource));
  FreeLibrary(module);
  if (!bytes) {
    OLEAUT_TRACE(file + " has no TYPELIB resource " + std::to_string(index));
    return TYPE_E_CANTLOADLIBRARY;
  }
  return S_OK;
}

}  // namespace

std::u16string to_u16(const std::string& narrow) {
  if (narrow.empty())
    return {};
  const int n =
      MultiByteToWideChar(CP_ACP, 0, narrow.data(), static_cast<int>(narrow.size()), nullptr, 0);
  std::u16string out(static_cast<size_t>(n > 0 ? n : 0), u'\0');
  if (n > 0)
    MultiByteToWideChar(CP_ACP, 0, narrow.data(), static_cast<int>(narrow.size()), out.data(), n);
  return out;
}

bool names_equal(const std::u16string& a, const OLECHAR* b) {
  if (!b)
    return false;
  size_t i = 0;
  for (; i < a.size(); ++i) {
    char16_t x = a[i];
    char16_t y = b[i];
    if (!y)
      return false;
    if (x >= u'A' && x <= u'Z')
      x = static_cast<char16_t>(x - u'A' + u'a');
    if (y >= u'A' && y <= u'Z')
      y = static_cast<char16_t>(y - u'A' + u'a');
    if (x != y)
      return false;
  }
  return b[i] == 0;
}

TypeLibImpl::TypeLibImpl(const idl::Library& description) {
  build(description);
}

TypeLibImpl::~TypeLibImpl() = default;

void TypeLibImpl::build(const idl::Library& d) {
  name = to_u16(d.name);
  doc = to_u16(d.helpstring);
  lib_attr.guid = guid_from_text(d.uuid);
  lib_attr.lcid = d.lcid;
  lib_attr.syskind = SYS_WIN64;
  lib_attr.wMajorVerNum = static_cast<WORD>(d.version_major);
  lib_attr.wMinorVerNum = static_cast<WORD>(d.version_minor);

  // Order: enums, interfaces, coclasses; references resolve by name to these indexes.
  std::map<std::string, HREFTYPE> refs;
  auto add = [&](const std::string& n, TYPEKIND kind) -> TypeInfoImpl& {
    refs[n] = static_cast<HREFTYPE>(infos_.size());
    infos_.push_back(
        std::make_unique<TypeInfoImpl>(this, static_cast<UINT>(infos_.size()), kind, to_u16(n)));
    return *infos_.back();
  };
  for (const idl::Enum& e : d.enums)
    add(e.name, TKIND_ENUM);
  for (const idl::Interface& i : d.interfaces)
    if (!i.forward_only)
      add(i.name, i.dual ? TKIND_DISPATCH : TKIND_INTERFACE);
  for (const idl::Coclass& c : d.coclasses)
    add(c.name, TKIND_COCLASS);

  Builder builder(d, refs);
  size_t at = 0;
  for (const idl::Enum& e : d.enums)
    builder.fill_enum(*infos_[at++], e);
  for (const idl::Interface& i : d.interfaces)
    if (!i.forward_only)
      builder.fill_interface(*infos_[at++], i);
  for (const idl::Coclass& c : d.coclasses)
    builder.fill_coclass(*infos_[at++], c);

  for (auto& info : infos_) {
    TYPEATTR& a = info->attr;
    a.lcid = d.lcid;
    a.memidConstructor = MEMBERID_NIL;
    a.memidDestructor = MEMBERID_NIL;
    a.cbSizeInstance = sizeof(void*);
    a.cbAlignment = 8;
    a.cFuncs = static_cast<WORD>(info->funcs.size());
    info->index_functions();
    a.cVars = static_cast<WORD>(info->vars.size());
    a.cImplTypes = static_cast<WORD>(info->impl_types.size());
    a.wMajorVerNum = lib_attr.wMajorVerNum;
    a.wMinorVerNum = lib_attr.wMinorVerNum;
  }

  std_unknown_ = std::make_unique<TypeInfoImpl>(this, ~0u, TKIND_INTERFACE, u"IUnknown");
  std_unknown_->attr.guid = IID_IUnknown;
  std_unknown_->attr.typekind = TKIND_INTERFACE;
  std_unknown_->attr.cbSizeVft = 3 * 8;
  std_dispatch_ = std::make_unique<TypeInfoImpl>(this, ~0u, TKIND_INTERFACE, u"IDispatch");
  std_dispatch_->attr.guid = IID_IDispatch;
  std_dispatch_->attr.typekind = TKIND_INTERFACE;
  std_dispatch_->attr.cbSizeVft = 7 * 8;
  std_dispatch_->attr.cImplTypes = 1;
  std_dispatch_->impl_types.push_back(kRefStdUnknown);
  std_dispatch_->impl_flags.push_back(0);
}

TypeInfoImpl* TypeLibImpl::resolve(HREFTYPE hreftype) const {
  if (hreftype == kRefStdUnknown)
    return std_unknown_.get();
  if (hreftype == kRefStdDispatch)
    return std_dispatch_.get();
  return hreftype < infos_.size() ? infos_[hreftype].get() : nullptr;
}

HRESULT TypeLibImpl::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv)
    return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualGUID(riid, IID_IUnknown) && !IsEqualGUID(riid, IID_ITypeLib))
    return E_NOINTERFACE;
  *ppv = static_cast<ITypeLib*>(this);
  AddRef();
  return S_OK;
}

ULONG TypeLibImpl::AddRef() {
  return ++refs_;
}

ULONG TypeLibImpl::Release() {
  const ULONG left = --refs_;
  if (left == 0)
    delete this;
  return left;
}

UINT TypeLibImpl::GetTypeInfoCount() {
  return static_cast<UINT>(infos_.size());
}

HRESULT TypeLibImpl::GetTypeInfo(UINT index, ITypeInfo** ppTInfo) {
  if (!ppTInfo)
    return E_INVALIDARG;
  *ppTInfo = nullptr;
  if (index >= infos_.size())
    return TYPE_E_ELEMENTNOTFOUND;
  *ppTInfo = infos_[index].get();
  AddRef();
  return S_OK;
}

HRESULT TypeLibImpl::GetTypeInfoType(UINT index, TYPEKIND* pTKind) {
  if (!pTKind)
    return E_INVALIDARG;
  if (index >= infos_.size())
    return TYPE_E_ELEMENTNOTFOUND;
  *pTKind = infos_[index]->attr.typekind;
  return S_OK;
}

HRESULT TypeLibImpl::GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** ppTinfo) {
  if (!ppTinfo)
    return E_INVALIDARG;
  *ppTinfo = nullptr;
  for (auto& info : infos_) {
    if (IsEqualGUID(info->attr.guid, guid)) {
      *ppTinfo = info.get();
      AddRef();
      return S_OK;
    }
  }
  return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT TypeLibImpl::GetLibAttr(TLIBATTR** ppTLibAttr) {
  if (!ppTLibAttr)
    return E_INVALIDARG;
  *ppTLibAttr = &lib_attr;
  return S_OK;
}

HRESULT TypeLibImpl::GetTypeComp(ITypeComp** ppTComp) {
  if (ppTComp)
    *ppTComp = nullptr;
  return E_NOTIMPL;
}

HRESULT TypeLibImpl::GetDocumentation(INT index, BSTR* pBstrName, BSTR* pBstrDocString,
                                      DWORD* pdwHelpContext, BSTR* pBstrHelpFile) {
  if (index == -1) {
    ScopedBstr n, d;
    if ((pBstrName && !n.Allocate(name.c_str())) || (pBstrDocString && !d.Allocate(doc.c_str())))
      return oom_fault();
    if (pBstrName)
      *pBstrName = n.Release();
    if (pBstrDocString)
      *pBstrDocString = d.Release();
    if (pdwHelpContext)
      *pdwHelpContext = 0;
    if (pBstrHelpFile)
      *pBstrHelpFile = nullptr;
    return S_OK;
  }
  if (index < 0 || static_cast<size_t>(index) >= infos_.size())
    return TYPE_E_ELEMENTNOTFOUND;
  return infos_[static_cast<size_t>(index)]->GetDocumentation(
      MEMBERID_NIL, pBstrName, pBstrDocString, pdwHelpContext, pBstrHelpFile);
}

HRESULT TypeLibImpl::IsName(LPOLESTR szNameBuf, ULONG, BOOL* pfName) {
  if (!szNameBuf || !pfName)
    return E_INVALIDARG;
  *pfName = FALSE;
  for (auto& info : infos_) {
    bool hit = names_equal(info->name, szNameBuf);
    for (const FuncInfo& f : info->funcs)
      hit = hit || names_equal(f.name, szNameBuf);
    for (const VarInfo& v : info->vars)
      hit = hit || names_equal(v.name, szNameBuf);
    if (hit) {
      *pfName = TRUE;
      break;
    }
  }
  return S_OK;
}

HRESULT TypeLibImpl::FindName(LPOLESTR szNameBuf, ULONG, ITypeInfo** ppTInfo, MEMBERID* rgMemId,
                              USHORT* pcFound) {
  if (!szNameBuf || !ppTInfo || !rgMemId || !pcFound)
    return E_INVALIDARG;
  const USHORT room = *pcFound;
  USHORT found = 0;
  for (auto& info : infos_) {
    if (found >= room)
      break;
    MEMBERID memid = MEMBERID_NIL;
    bool hit = names_equal(info->name, szNameBuf);
    for (const FuncInfo& f : info->funcs)
      if (!hit && names_equal(f.name, szNameBuf))
        hit = true, memid = f.desc.memid;
    for (const VarInfo& v : info->vars)
      if (!hit && names_equal(v.name, szNameBuf))
        hit = true, memid = v.desc.memid;
    if (!hit)
      continue;
    ppTInfo[found] = info.get();
    AddRef();
    rgMemId[found++] = memid;
  }
  *pcFound = found;
  return S_OK;
}

void TypeLibImpl::ReleaseTLibAttr(TLIBATTR*) {}

HRESULT LoadTypeLib(LPCOLESTR szFile, ITypeLib** pptlib) {
  return LoadTypeLibEx(szFile, REGKIND_NONE, pptlib);
}

HRESULT LoadTypeLibEx(LPCOLESTR szFile, REGKIND regkind, ITypeLib** pptlib) {
  if (!szFile || !pptlib)
    return E_INVALIDARG;
  *pptlib = nullptr;
  try {
    const int n = WideCharToMultiByte(CP_ACP, 0, szFile, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1)
      return TYPE_E_CANTLOADLIBRARY;
    std::string path(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, szFile, -1, path.data(), n, nullptr, nullptr);
    path.resize(static_cast<size_t>(n - 1));

    std::string text;
    HRESULT hr = read_description(path, &text);
    if (FAILED(hr))
      return hr;
    idl::Library description;
    std::string error;
    if (!idl::Parse(text, path, description, error)) {
      OLEAUT_TRACE(error);
      return TYPE_E_CANTLOADLIBRARY;
    }
    if (!description.has_library) {
      OLEAUT_TRACE(path + " describes no library");
      return TYPE_E_CANTLOADLIBRARY;
    }
    if (FaultSimStep())
      return oom_fault();
    ComPtr<ITypeLib> lib;
    lib.Reset(new TypeLibImpl(description));
    if (regkind == REGKIND_REGISTER) {
      hr = RegisterTypeLib(lib.Get(), szFile, nullptr);
      if (FAILED(hr))
        return hr;
    }
    *pptlib = lib.Release();
    return S_OK;
  } catch (const std::bad_alloc&) {
    return oom_fault();
  }
}
