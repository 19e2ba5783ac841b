// Type libraries read from interface descriptions: the ITypeLib and ITypeInfo objects shared by
// typelib.cpp (loading, library members), typeinfo.cpp (descriptions, names, documentation) and
// typeinfo_invoke.cpp (ITypeInfo::Invoke). Nothing here is exported.
//
// A library owns its type infos; they share the library's reference count, so a type info
// handed out keeps the whole library alive and no cycle exists. Descriptions are built once at
// load and never change: GetFuncDesc and friends hand out pointers into them, and the Release*
// members have nothing to free.
#pragma once

#include <atomic>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "idl_model.h"
#include "oaidl.h"
#include "oleaut_private.h"

class TypeLibImpl;

// One described function of an interface, in vtable order. desc.lprgelemdescParam points into
// params, set once when the function is described: threads read a description at once, and a
// move keeps the array where it is (a copy would not, so there is none).
struct PLATFORM_HIDDEN FuncInfo {
  FuncInfo() = default;
  FuncInfo(FuncInfo&&) noexcept = default;
  FuncInfo& operator=(FuncInfo&&) noexcept = default;
  FuncInfo(const FuncInfo&) = delete;
  FuncInfo& operator=(const FuncInfo&) = delete;

  FUNCDESC desc{};
  std::vector<ELEMDESC> params;
  std::u16string name;
  std::vector<std::u16string> param_names;
  std::u16string doc;
};

// One described enum constant.
struct PLATFORM_HIDDEN VarInfo {
  VARDESC desc{};
  VARIANT value{};
  std::u16string name;
  std::u16string doc;
};

class PLATFORM_HIDDEN TypeInfoImpl final : public ITypeInfo {
 public:
  TypeInfoImpl(TypeLibImpl* lib, UINT index, TYPEKIND kind, std::u16string name);

  // IUnknown: the reference count is the library's.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // ITypeInfo
  HRESULT STDMETHODCALLTYPE GetTypeAttr(TYPEATTR** ppTypeAttr) override;
  HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp** ppTComp) override;
  HRESULT STDMETHODCALLTYPE GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) override;
  HRESULT STDMETHODCALLTYPE GetVarDesc(UINT index, VARDESC** ppVarDesc) override;
  HRESULT STDMETHODCALLTYPE GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames,
                                     UINT* pcNames) override;
  HRESULT STDMETHODCALLTYPE GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType) override;
  HRESULT STDMETHODCALLTYPE GetImplTypeFlags(UINT index, INT* pImplTypeFlags) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames,
                                          MEMBERID* pMemId) override;
  HRESULT STDMETHODCALLTYPE Invoke(PVOID pvInstance, MEMBERID memid, WORD wFlags,
                                   DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                   EXCEPINFO* pExcepInfo, UINT* puArgErr) override;
  HRESULT STDMETHODCALLTYPE GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString,
                                             DWORD* pdwHelpContext, BSTR* pBstrHelpFile) override;
  HRESULT STDMETHODCALLTYPE GetDllEntry(MEMBERID memid, INVOKEKIND invKind, BSTR* pBstrDllName,
                                        BSTR* pBstrName, WORD* pwOrdinal) override;
  HRESULT STDMETHODCALLTYPE GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) override;
  HRESULT STDMETHODCALLTYPE AddressOfMember(MEMBERID memid, INVOKEKIND invKind,
                                            PVOID* ppv) override;
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                           PVOID* ppvObj) override;
  HRESULT STDMETHODCALLTYPE GetMops(MEMBERID memid, BSTR* pBstrMops) override;
  HRESULT STDMETHODCALLTYPE GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) override;
  void STDMETHODCALLTYPE ReleaseTypeAttr(TYPEATTR* pTypeAttr) override;
  void STDMETHODCALLTYPE ReleaseFuncDesc(FUNCDESC* pFuncDesc) override;
  void STDMETHODCALLTYPE ReleaseVarDesc(VARDESC* pVarDesc) override;

  // Filled by the library while it builds its descriptions.
  TYPEATTR attr{};
  std::u16string name;
  std::u16string doc;
  std::vector<FuncInfo> funcs;
  std::vector<VarInfo> vars;
  std::vector<HREFTYPE> impl_types;  // coclass members, or the base interface
  std::vector<INT> impl_flags;
  // Nodes of the type descriptions of funcs and vars; a deque keeps their addresses.
  std::deque<TYPEDESC> type_nodes;
  std::deque<PARAMDESCEX> defaults;

  ~TypeInfoImpl();

  // Indexes funcs by member id, once they are all there.
  void index_functions();

 private:
  // The functions with memid whose kind fits wFlags, first match.
  const FuncInfo* find_func(MEMBERID memid, WORD wFlags) const;

  TypeLibImpl* lib_;
  UINT index_;
  // Positions in funcs by member id, in their order within one id: an interface's calls
  // look a function up on every call.
  std::vector<std::pair<MEMBERID, UINT>> by_memid_;
};

class PLATFORM_HIDDEN TypeLibImpl final : public ITypeLib {
 public:
  // Builds the library from a parsed description. Throws std::bad_alloc.
  explicit TypeLibImpl(const idl::Library& description);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  UINT STDMETHODCALLTYPE GetTypeInfoCount() override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, ITypeInfo** ppTInfo) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfoType(UINT index, TYPEKIND* pTKind) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** ppTinfo) override;
  HRESULT STDMETHODCALLTYPE GetLibAttr(TLIBATTR** ppTLibAttr) override;
  HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp** ppTComp) override;
  HRESULT STDMETHODCALLTYPE GetDocumentation(INT index, BSTR* pBstrName, BSTR* pBstrDocString,
                                             DWORD* pdwHelpContext, BSTR* pBstrHelpFile) override;
  HRESULT STDMETHODCALLTYPE IsName(LPOLESTR szNameBuf, ULONG lHashVal, BOOL* pfName) override;
  HRESULT STDMETHODCALLTYPE FindName(LPOLESTR szNameBuf, ULONG lHashVal, ITypeInfo** ppTInfo,
                                     MEMBERID* rgMemId, USHORT* pcFound) override;
  void STDMETHODCALLTYPE ReleaseTLibAttr(TLIBATTR* pTLibAttr) override;

  // The type info that hreftype names: one of this library, or a built-in one (IUnknown,
  // IDispatch). Null when there is none.
  TypeInfoImpl* resolve(HREFTYPE hreftype) const;

  TLIBATTR lib_attr{};
  std::u16string name;
  std::u16string doc;

 private:
  ~TypeLibImpl();
  void build(const idl::Library& d);

  std::atomic<ULONG> refs_{1};
  std::vector<std::unique_ptr<TypeInfoImpl>> infos_;
  // Stand-ins for the standard library's IUnknown and IDispatch, referred to as bases.
  std::unique_ptr<TypeInfoImpl> std_unknown_;
  std::unique_ptr<TypeInfoImpl> std_dispatch_;
};

// References to the built-in type infos.
constexpr HREFTYPE kRefStdUnknown = 0xFFFF0001;
constexpr HREFTYPE kRefStdDispatch = 0xFFFF0002;

// Case-insensitive comparison of member names (ASCII letters fold).
PLATFORM_HIDDEN bool names_equal(const std::u16string& a, const OLECHAR* b);
PLATFORM_HIDDEN std::u16string to_u16(const std::string& narrow);
