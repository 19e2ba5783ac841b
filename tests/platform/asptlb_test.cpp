// The script host's interface descriptions give the platform's dispatch ids and slots: the
// default rule (0x60020000 + slot - 7, a property's accessors sharing their first slot's
// number) with the default members and enumerators as their special ids.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "asptlb.h"
#include "com_ptr.h"
#include "scoped_bstr.h"

namespace {

std::map<std::u16string, std::pair<MEMBERID, SHORT>> members(ITypeLib* lib, REFIID iid) {
  std::map<std::u16string, std::pair<MEMBERID, SHORT>> out;
  ComPtr<ITypeInfo> info;
  EXPECT_EQ(S_OK, lib->GetTypeInfoOfGuid(iid, info.Receive()));
  if (!info)
    return out;
  TYPEATTR* attr = nullptr;
  info->GetTypeAttr(&attr);
  for (UINT i = 0; i < attr->cFuncs; ++i) {
    FUNCDESC* f = nullptr;
    info->GetFuncDesc(i, &f);
    ScopedBstr name;
    info->GetDocumentation(f->memid, name.Receive(), nullptr, nullptr, nullptr);
    std::u16string key = std::u16string(name.Get()) + (f->invkind == INVOKE_PROPERTYPUT      ? u"="
                                                       : f->invkind == INVOKE_PROPERTYPUTREF ? u"&"
                                                                                             : u"");
    out[key] = {f->memid, static_cast<SHORT>(f->oVft / 8)};
  }
  return out;
}

TEST(HostInterfaces, DispatchIdsAndSlots) {
  ComPtr<ITypeLib> lib;
  ASSERT_EQ(S_OK, LoadTypeLib(ASPTLB_IDL_W, lib.Receive()));
  auto response = members(lib.Get(), IID_IResponse);
  EXPECT_EQ(std::make_pair(MEMBERID{0x60020000}, SHORT{7}), response[u"Buffer"]);
  EXPECT_EQ(std::make_pair(MEMBERID{0x60020000}, SHORT{8}), response[u"Buffer="]);
  EXPECT_EQ(std::make_pair(MEMBERID{0x6002000C}, SHORT{19}), response[u"AddHeader"]);
  EXPECT_EQ(std::make_pair(MEMBERID{0x6002000E}, SHORT{21}), response[u"BinaryWrite"]);
  EXPECT_EQ(std::make_pair(MEMBERID{0x60020013}, SHORT{26}), response[u"Write"]);
  EXPECT_EQ(std::make_pair(MEMBERID{0x60020015}, SHORT{28}), response[u"IsClientConnected"]);
  EXPECT_EQ(std::make_pair(MEMBERID{0x6002001B}, SHORT{35}), response[u"CodePage="]);
  EXPECT_EQ(std::make_pair(MEMBERID{0x6002001D}, SHORT{37}), response[u"LCID="]);

  auto request = members(lib.Get(), IID_IRequest);
  EXPECT_EQ(std::make_pair(MEMBERID{0}, SHORT{7}), request[u"Item"]);
  EXPECT_EQ(std::make_pair(MEMBERID{0x60020004}, SHORT{11}), request[u"ServerVariables"]);
  EXPECT_EQ(std::make_pair(MEMBERID{0x60020008}, SHORT{15}), request[u"BinaryRead"]);

  auto dictionary = members(lib.Get(), IID_IRequestDictionary);
  EXPECT_EQ(std::make_pair(MEMBERID{DISPID_NEWENUM}, SHORT{8}), dictionary[u"_NewEnum"]);
  EXPECT_EQ(std::make_pair(MEMBERID{0x60020002}, SHORT{9}), dictionary[u"Count"]);

  auto server = members(lib.Get(), IID_IServer);
  EXPECT_EQ(std::make_pair(MEMBERID{0x60020004}, SHORT{11}), server[u"MapPath"]);
  auto session = members(lib.Get(), IID_ISessionObject);
  EXPECT_EQ(std::make_pair(MEMBERID{0}, SHORT{10}), session[u"Value&"]);
  EXPECT_EQ(std::make_pair(MEMBERID{0x60020004}, SHORT{11}), session[u"Timeout"]);
  auto context = members(lib.Get(), IID_IScriptingContext);
  EXPECT_EQ(std::make_pair(MEMBERID{0x60020004}, SHORT{11}), context[u"Application"]);
}

}  // namespace
