// Tests of type libraries read from interface descriptions: loading (registered, from a
// module, from a file), the descriptions ITypeLib and ITypeInfo give, and a module's holder
// of one interface's description.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>
#include <vector>

#include "atlbase.h"
#include "com_ptr.h"
#include "registered_module.h"
#include "scoped_bstr.h"
#include "windows.h"

namespace {

using registered_module::guid;
using registered_module::RegisteredModule;

class TypeLib : public RegisteredModule {
 protected:
  void SetUp() override {
    RegisteredModule::SetUp();
    ASSERT_EQ(S_OK, LoadRegTypeLib(guid(registered_module::kLibidText), 1, 0, 0, lib_.Receive()));
  }
  ComPtr<ITypeLib> lib_;
};

std::u16string to_u16(const std::string& s) {
  return std::u16string(s.begin(), s.end());
}

TEST_F(TypeLib, LibraryAttributesAndDocumentation) {
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(S_OK, lib_->GetLibAttr(&attr));
  EXPECT_TRUE(IsEqualGUID(guid(registered_module::kLibidText), attr->guid));
  EXPECT_EQ(1, attr->wMajorVerNum);
  EXPECT_EQ(0, attr->wMinorVerNum);
  lib_->ReleaseTLibAttr(attr);
  ScopedBstr name, doc;
  ASSERT_EQ(S_OK, lib_->GetDocumentation(-1, name.Receive(), doc.Receive(), nullptr, nullptr));
  EXPECT_EQ(std::u16string(u"TESTDISPLib"), name.Get());
  EXPECT_EQ(std::u16string(u"Test 1.0 Type Library"), doc.Get());
  EXPECT_EQ(2u, lib_->GetTypeInfoCount());
  BOOL found = FALSE;
  EXPECT_EQ(S_OK, lib_->IsName(const_cast<LPOLESTR>(u"concat"), 0, &found));
  EXPECT_TRUE(found);
}

TEST_F(TypeLib, InterfaceDescription) {
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(S_OK, lib_->GetTypeInfoOfGuid(guid(registered_module::kIidText), info.Receive()));
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
  EXPECT_EQ(TKIND_DISPATCH, attr->typekind);
  EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDUAL);
  EXPECT_EQ(16, attr->cFuncs);
  EXPECT_EQ(1, attr->cImplTypes);
  info->ReleaseTypeAttr(attr);

  FUNCDESC* add = nullptr;
  ASSERT_EQ(S_OK, info->GetFuncDesc(0, &add));
  EXPECT_EQ(1, add->memid);
  EXPECT_EQ(INVOKE_FUNC, add->invkind);
  EXPECT_EQ(7 * 8, add->oVft) << "the first slot after IDispatch's seven";
  ASSERT_EQ(3, add->cParams);
  EXPECT_EQ(VT_I4, add->lprgelemdescParam[0].tdesc.vt);
  EXPECT_EQ(PARAMFLAG_FIN, add->lprgelemdescParam[0].paramdesc.wParamFlags);
  EXPECT_EQ(PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT,
            add->lprgelemdescParam[1].paramdesc.wParamFlags);
  EXPECT_EQ(10, add->lprgelemdescParam[1].paramdesc.pparamdescex->varDefaultValue.lVal);
  EXPECT_EQ(PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, add->lprgelemdescParam[2].paramdesc.wParamFlags);
  EXPECT_EQ(VT_PTR, add->lprgelemdescParam[2].tdesc.vt);
  EXPECT_EQ(VT_I4, add->lprgelemdescParam[2].tdesc.lptdesc->vt);
  info->ReleaseFuncDesc(add);

  FUNCDESC* name_put = nullptr;
  ASSERT_EQ(S_OK, info->GetFuncDesc(3, &name_put));
  EXPECT_EQ(INVOKE_PROPERTYPUT, name_put->invkind);
  EXPECT_EQ(3, name_put->memid) << "get and put share the id";

  BSTR names[4] = {};
  UINT count = 0;
  ASSERT_EQ(S_OK, info->GetNames(1, names, 4, &count));
  ASSERT_EQ(4u, count);
  EXPECT_EQ(std::u16string(u"Add"), names[0]);
  EXPECT_EQ(std::u16string(u"pResult"), names[3]);
  for (BSTR b : names)
    SysFreeString(b);

  ScopedBstr doc;
  ASSERT_EQ(S_OK, info->GetDocumentation(1, nullptr, doc.Receive(), nullptr, nullptr));
  EXPECT_EQ(std::u16string(u"method Add"), doc.Get());
  EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND,
            info->GetDocumentation(999, nullptr, nullptr, nullptr, nullptr));

  HREFTYPE base = 0;
  ASSERT_EQ(S_OK, info->GetRefTypeOfImplType(0, &base));
  ComPtr<ITypeInfo> dispatch;
  ASSERT_EQ(S_OK, info->GetRefTypeInfo(base, dispatch.Receive()));
  ScopedBstr base_name;
  dispatch->GetDocumentation(MEMBERID_NIL, base_name.Receive(), nullptr, nullptr, nullptr);
  EXPECT_EQ(std::u16string(u"IDispatch"), base_name.Get());
}

TEST_F(TypeLib, CoclassDescription) {
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(S_OK, lib_->GetTypeInfoOfGuid(guid(registered_module::kClsidText), info.Receive()));
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
  EXPECT_EQ(TKIND_COCLASS, attr->typekind);
  EXPECT_EQ(TYPEFLAG_FCANCREATE, attr->wTypeFlags);
  INT flags = 0;
  ASSERT_EQ(S_OK, info->GetImplTypeFlags(0, &flags));
  EXPECT_EQ(IMPLTYPEFLAG_FDEFAULT, flags);
  HREFTYPE ref = 0;
  ASSERT_EQ(S_OK, info->GetRefTypeOfImplType(0, &ref));
  ComPtr<ITypeInfo> itf;
  ASSERT_EQ(S_OK, info->GetRefTypeInfo(ref, itf.Receive()));
  ComPtr<ITypeLib> containing;
  UINT index = 99;
  ASSERT_EQ(S_OK, itf->GetContainingTypeLib(containing.Receive(), &index));
  EXPECT_EQ(lib_.Get(), containing.Get());
  ComPtr<IUnknown> object;
  EXPECT_EQ(S_OK, info->CreateInstance(nullptr, IID_IUnknown,
                                       reinterpret_cast<void**>(object.Receive())));
}

// As on the platform, a library registered under a locale of its own only is not found for
// another locale, the neutral locale 0 included (the module frame then loads it from its module).
TEST_F(TypeLib, ALibraryRegisteredUnderItsOwnLocaleIsFoundForThatLocaleOnly) {
  const std::string file = registry_.substr(0, registry_.rfind('/')) + "/english.idl";
  std::ofstream(file) << "[uuid(11111111-2222-3333-4444-555555555555), version(1.0), lcid(0x409)]"
                         " library L {};";
  ComPtr<ITypeLib> english;
  ASSERT_EQ(S_OK, LoadTypeLib(to_u16(file).c_str(), english.Receive()));
  ASSERT_EQ(S_OK, RegisterTypeLib(english.Get(), to_u16(file).c_str(), nullptr));
  const GUID libid = guid(u"{11111111-2222-3333-4444-555555555555}");
  ComPtr<ITypeLib> lib;
  EXPECT_EQ(S_OK, LoadRegTypeLib(libid, 1, 0, 0x409, lib.Receive()));
  for (LCID lcid : {0x0u, 0x412u, 0x809u}) {
    ComPtr<ITypeLib> other;
    EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, LoadRegTypeLib(libid, 1, 0, lcid, other.Receive()))
        << std::hex << lcid;
  }
  EXPECT_EQ(S_OK, UnRegisterTypeLib(libid, 1, 0, 0x409, SYS_WIN64));
}

TEST_F(TypeLib, LoadingFailures) {
  ComPtr<ITypeLib> lib;
  EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, LoadRegTypeLib(guid(u"{00000000-1111-2222-3333-444444444444}"),
                                                    1, 0, 0, lib.Receive()));
  EXPECT_EQ(TYPE_E_LIBNOTREGISTERED,
            LoadRegTypeLib(guid(registered_module::kLibidText), 2, 0, 0, lib.Receive()));
  EXPECT_EQ(TYPE_E_CANTLOADLIBRARY, LoadTypeLib(u"\\no\\such\\file.tlb", lib.Receive()));
  EXPECT_EQ(E_INVALIDARG, LoadTypeLib(nullptr, lib.Receive()));

  const std::string bad = registry_.substr(0, registry_.rfind('/')) + "/bad.idl";
  std::ofstream(bad) << "[uuid(11111111-2222-3333-4444-555555555555)] library L {\n  coclass";
  EXPECT_EQ(TYPE_E_CANTLOADLIBRARY, LoadTypeLib(to_u16(bad).c_str(), lib.Receive()));
  std::ofstream(bad) << "[uuid(11111111-2222-3333-4444-555555555555)] interface I : IDispatch {};";
  EXPECT_EQ(TYPE_E_CANTLOADLIBRARY, LoadTypeLib(to_u16(bad).c_str(), lib.Receive()))
      << "a description without a library";
  // The module's resource, by path and by "path\index".
  EXPECT_EQ(S_OK, LoadTypeLib(to_u16(registered_module::kModule).c_str(), lib.Receive()));
  lib.Reset();
  EXPECT_EQ(S_OK, LoadTypeLib(to_u16(registered_module::kModule + "\\1").c_str(), lib.Receive()));
  lib.Reset();
  EXPECT_EQ(TYPE_E_CANTLOADLIBRARY,
            LoadTypeLib(to_u16(registered_module::kModule + "\\2").c_str(), lib.Receive()));
}

// A module's holder loads its interface's description once, serves names and calls from any
// thread, and gives its reference back when the module ends.
TEST_F(TypeLib, AModuleHolderLoadsOnceServesEveryThreadAndLetsGoAtTheEnd) {
  _ATL_MODULE module{};
  ASSERT_EQ(S_OK, AtlModuleInit(&module, nullptr, nullptr));
  const GUID iid = guid(registered_module::kIidText);
  const GUID libid = guid(registered_module::kLibidText);
  CComTypeInfoHolder holder{&iid, &libid, 1, 0, nullptr, 0};
  // References on the description the holder loaded (its library counts for all of them).
  auto references = [&] {
    holder.m_pInfo->AddRef();
    return holder.m_pInfo->Release();
  };

  std::vector<std::thread> threads;
  std::atomic<int> found{0};
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(u"Concat")};
        DISPID id = 0;
        if (AtlTypeInfoHolderGetIDsOfNames(&module, &holder, GUID_NULL, names, 1, 0, &id) == S_OK &&
            id == 2)
          ++found;
      }
    });
  for (auto& thread : threads)
    thread.join();
  EXPECT_EQ(800, found.load());
  ASSERT_NE(nullptr, holder.m_pInfo);
  EXPECT_EQ(1u, references()) << "the holder's own, however often it was used";

  ComPtr<ITypeInfo> info;
  ASSERT_EQ(S_OK, AtlTypeInfoHolderGetTI(&module, &holder, info.Receive()));
  EXPECT_EQ(holder.m_pInfo, info.Get());
  EXPECT_EQ(2u, references()) << "the caller's and the holder's";
  info.Reset();

  ASSERT_EQ(S_OK, AtlModuleTerm(&module));
  EXPECT_EQ(nullptr, holder.m_pInfo) << "given back at the module's end";
}

}  // namespace
