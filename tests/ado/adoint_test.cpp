// The database access interfaces' description gives the platform's vtable slots and dispatch
// ids, and the generated declarations agree with it.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <type_traits>

#include "adoint.h"
#include "com_ptr.h"
#include "objbase.h"
#include "scoped_bstr.h"

namespace {

// name (with "=" for a put, "&" for a putref) -> (dispatch id, slot).
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
    const std::u16string suffix = f->invkind == INVOKE_PROPERTYPUT      ? u"="
                                  : f->invkind == INVOKE_PROPERTYPUTREF ? u"&"
                                                                        : u"";
    out[std::u16string(name.Get()) + suffix] = {f->memid, static_cast<SHORT>(f->oVft / 8)};
    info->ReleaseFuncDesc(f);
  }
  info->ReleaseTypeAttr(attr);
  return out;
}

using Member = std::pair<MEMBERID, SHORT>;

class AdoInterfaces : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(S_OK, LoadTypeLib(ADOINT_IDL_W, lib_.Receive())); }
  ComPtr<ITypeLib> lib_;
};

TEST_F(AdoInterfaces, ConnectionSlots) {
  auto connection = members(lib_.Get(), IID__Connection);
  EXPECT_EQ(Member(500, 7), connection[u"Properties"]);
  EXPECT_EQ(Member(5, 15), connection[u"Close"]);
  EXPECT_EQ(Member(6, 16), connection[u"Execute"]);
  EXPECT_EQ(Member(10, 20), connection[u"Open"]);
  EXPECT_EQ(Member(18, 34), connection[u"State"]);
  EXPECT_EQ(Member(21, 36), connection[u"Cancel"]);
}

TEST_F(AdoInterfaces, CommandAndParameterSlots) {
  auto command = members(lib_.Get(), IID__Command);
  EXPECT_EQ(Member(0x60030000, 9), command[u"ActiveConnection&"]);
  EXPECT_EQ(Member(0x60030000, 10), command[u"ActiveConnection="]);
  EXPECT_EQ(Member(0x60030003, 12), command[u"CommandText="]);
  EXPECT_EQ(Member(0x60030009, 17), command[u"Execute"]);
  EXPECT_EQ(Member(0x6003000A, 18), command[u"CreateParameter"]);
  EXPECT_EQ(Member(0, 19), command[u"Parameters"]);
  EXPECT_EQ(Member(0x6003000C, 20), command[u"CommandType="]);
  EXPECT_EQ(Member(0x60030010, 24), command[u"State"]);
  EXPECT_EQ(Member(0x60030014, 31), command[u"NamedParameters"]);

  auto parameter = members(lib_.Get(), IID__Parameter);
  EXPECT_EQ(Member(0, 11), parameter[u"Value="]);
  EXPECT_EQ(Member(0x6003000C, 20), parameter[u"Size="]);
  EXPECT_EQ(Member(0x6003000E, 22), parameter[u"AppendChunk"]);
  EXPECT_EQ(Member(0x6003000F, 24), parameter[u"Attributes="]);

  auto parameters = members(lib_.Get(), IID_Parameters);
  EXPECT_EQ(Member(DISPID_NEWENUM, 8), parameters[u"_NewEnum"]);
  EXPECT_EQ(Member(0x60030000, 10), parameters[u"Append"]);
  EXPECT_EQ(Member(0, 12), parameters[u"Item"]);
}

TEST_F(AdoInterfaces, RecordsetAndFieldSlots) {
  auto recordset = members(lib_.Get(), IID__Recordset);
  EXPECT_EQ(Member(0x3EE, 20), recordset[u"EOF"]);
  EXPECT_EQ(Member(0, 21), recordset[u"Fields"]);
  EXPECT_EQ(Member(0x3F6, 32), recordset[u"Close"]);
  EXPECT_EQ(Member(0x3FA, 36), recordset[u"MoveNext"]);
  EXPECT_EQ(Member(0x3FE, 40), recordset[u"Open"]);
  EXPECT_EQ(Member(0x41E, 55), recordset[u"State"]);
  EXPECT_EQ(Member(0x422, 67), recordset[u"Find"]);
  EXPECT_EQ(Member(0x41F, 68), recordset[u"Cancel"]);
  EXPECT_EQ(Member(0x42A, 81), recordset[u"Seek"]);
  EXPECT_EQ(Member(0x421, 84), recordset[u"Save"]);

  auto fields = members(lib_.Get(), IID_Fields);
  EXPECT_EQ(Member(0x60020000, 7), fields[u"Count"]);
  EXPECT_EQ(Member(0, 10), fields[u"Item"]);
  EXPECT_EQ(Member(0x60040004, 16), fields[u"CancelUpdate"]);

  auto field = members(lib_.Get(), IID_Field);
  EXPECT_EQ(Member(0x455, 8), field[u"ActualSize"]);
  EXPECT_EQ(Member(0x40C, 9), field[u"Attributes"]);
  EXPECT_EQ(Member(0x44E, 12), field[u"Type"]);
  EXPECT_EQ(Member(0, 13), field[u"Value"]);
  EXPECT_EQ(Member(0x454, 18), field[u"GetChunk"]);
  EXPECT_EQ(Member(0x40C, 27), field[u"Attributes="]);
  EXPECT_EQ(Member(0x45C, 28), field[u"Status"]);
}

// Sizes are 64-bit on this system, and the declarations are the description's.
TEST_F(AdoInterfaces, GeneratedDeclarationsAgree) {
  static_assert(std::is_same_v<decltype(&_Parameter::put_Size), HRESULT (_Parameter::*)(LONGLONG)>);
  static_assert(
      std::is_same_v<decltype(&Field20::get_ActualSize), HRESULT (Field20::*)(LONGLONG*)>);
  static_assert(adCmdText == 1 && adLongVarBinary == 205 && adParamInput == 1 &&
                adFldLong == 0x80 && adExecuteNoRecords == 0x80 && adVarBinary == 204 &&
                adLongVarChar == 201 && adLongVarWChar == 203);
  GUID parsed{};
  ASSERT_EQ(S_OK, CLSIDFromString(u"{0000054E-0000-0010-8000-00AA006D2EA4}", &parsed));
  EXPECT_TRUE(IsEqualGUID(parsed, IID_Command25));
  ASSERT_EQ(S_OK, CLSIDFromString(u"{00000507-0000-0010-8000-00AA006D2EA4}", &parsed));
  EXPECT_TRUE(IsEqualGUID(parsed, CLSID_Command));
  ASSERT_EQ(S_OK, CLSIDFromString(u"{0000054C-0000-0010-8000-00AA006D2EA4}", &parsed));
  EXPECT_TRUE(IsEqualGUID(parsed, IID_Field20));
}

}  // namespace
