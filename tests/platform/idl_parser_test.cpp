// Tests of the IDL parser shared by the interface compiler and the type-library loader.
#include "idl_parser.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char kSample[] = R"IDL(
// A component description in the shape our modules use.
#include "olectl.h"
import "oaidl.idl";
import "ocidl.idl";

interface ISampleItem;

typedef [uuid(0F0E0D0C-0B0A-0908-0706-050403020100), helpstring("Modes")]
enum SampleMode { smPlain = 0, smZip = 0x2, smBoth = smPlain | smZip, smLast } SampleMode;

[
  object,
  uuid(11111111-2222-3333-4444-555555555555),
  dual,
  helpstring("ISample Interface"),
  pointer_default(unique)
]
interface ISample : IDispatch
{
  [propget, id(1), helpstring("property Count")] HRESULT Count([out, retval] long *pVal);
  [propget, id(DISPID_VALUE)] HRESULT Item([in] VARIANT Index, [out, retval] VARIANT* pVal);
  [propput, id(DISPID_VALUE)] HRESULT Item([in] VARIANT Index, [in] VARIANT newVal);
  [propget, restricted, id(DISPID_NEWENUM)] HRESULT _NewEnum([out, retval] IUnknown** ppEnum);
  [id(5), helpstring("method Save")] HRESULT Save([in] BSTR bstrPath,
      [in, optional, defaultvalue(-1)] long nMode, [in, optional] VARIANT vExtra,
      [out, retval] VARIANT_BOOL* pOk);
  [id(0x60020010)] HRESULT Data([out, retval] SAFEARRAY(unsigned char)* ppData);
  HRESULT NoId([in] SampleMode mode, [in] ISampleItem* pItem, [in, out] long* pInOut);
  [propget] HRESULT Name([out, retval] BSTR* pVal);
  [propput] HRESULT Name([in] BSTR newVal);
  [id(-1), hidden] HRESULT Negative(void);
};

[object, uuid(66666666-7777-8888-9999-AAAAAAAAAAAA), dual, oleautomation]
interface ISampleItem : IDispatch
{
  [propget, id(0)] HRESULT Value([out, retval] BSTR* pVal);
};

[uuid(ABCDEF01-2345-6789-ABCD-EF0123456789), version(1.0), lcid(0x409),
 helpstring("Sample 1.0 Type Library")]
library SAMPLELib
{
  importlib("stdole32.tlb");
  importlib("stdole2.tlb");

  [uuid(BBBBBBBB-CCCC-DDDD-EEEE-FFFFFFFFFFFF), helpstring("Sample Class")]
  coclass Sample
  {
    [default] interface ISample;
  };
  [uuid(CCCCCCCC-CCCC-DDDD-EEEE-FFFFFFFFFFFF), noncreatable]
  coclass SampleItem { [default] interface ISampleItem; interface IDispatch; };
};
)IDL";

std::string parse_error(const std::string& text) {
  idl::Library lib;
  std::string error;
  EXPECT_FALSE(idl::Parse(text, "t.idl", lib, error)) << text;
  return error;
}

TEST(IdlParser, ReadsAComponentDescription) {
  idl::Library lib;
  std::string error;
  ASSERT_TRUE(idl::Parse(kSample, "sample.idl", lib, error)) << error;

  EXPECT_EQ("SAMPLELib", lib.name);
  EXPECT_EQ("ABCDEF01-2345-6789-ABCD-EF0123456789", lib.uuid);
  EXPECT_EQ(1, lib.version_major);
  EXPECT_EQ(0, lib.version_minor);
  EXPECT_EQ(0x409u, lib.lcid);
  EXPECT_EQ("Sample 1.0 Type Library", lib.helpstring);
  EXPECT_EQ((std::vector<std::string>{"stdole32.tlb", "stdole2.tlb"}), lib.importlibs);
  EXPECT_EQ((std::vector<std::string>{"oaidl.idl", "ocidl.idl"}), lib.imports);

  ASSERT_EQ(1u, lib.enums.size());
  EXPECT_EQ("SampleMode", lib.enums[0].name);
  ASSERT_EQ(4u, lib.enums[0].members.size());
  EXPECT_EQ(2, lib.enums[0].members[1].value);
  EXPECT_EQ(2, lib.enums[0].members[2].value);
  EXPECT_EQ(3, lib.enums[0].members[3].value);

  ASSERT_EQ(2u, lib.interfaces.size());
  const idl::Interface& s = lib.interfaces[0];
  EXPECT_EQ("ISample", s.name);
  EXPECT_EQ("IDispatch", s.base);
  EXPECT_TRUE(s.dual);
  EXPECT_TRUE(s.object);
  EXPECT_EQ("ISample Interface", s.helpstring);
  EXPECT_FALSE(s.forward_only);
  ASSERT_EQ(10u, s.methods.size());

  const idl::Method& item_get = s.methods[1];
  EXPECT_EQ(idl::MemberKind::kPropGet, item_get.kind);
  EXPECT_EQ(0, item_get.id.value());
  EXPECT_EQ(-4, s.methods[3].id.value());
  EXPECT_TRUE(s.methods[3].restricted);

  const idl::Method& save = s.methods[4];
  EXPECT_EQ("Save", save.name);
  EXPECT_EQ("method Save", save.helpstring);
  ASSERT_EQ(4u, save.params.size());
  EXPECT_EQ(idl::BaseType::kBstr, save.params[0].type.base);
  EXPECT_TRUE(save.params[1].optional);
  ASSERT_TRUE(save.params[1].default_value.has_value());
  EXPECT_EQ(-1, save.params[1].default_value->integer);
  EXPECT_TRUE(save.params[2].optional);
  EXPECT_FALSE(save.params[2].default_value.has_value());
  EXPECT_TRUE(save.params[3].retval);
  EXPECT_EQ(idl::BaseType::kBool, save.params[3].type.base);
  EXPECT_EQ(1, save.params[3].type.pointer_level);

  EXPECT_EQ(static_cast<int32_t>(0x60020010), s.methods[5].id.value());
  EXPECT_TRUE(s.methods[5].params[0].type.safearray);
  EXPECT_EQ(idl::BaseType::kUI1, s.methods[5].params[0].type.base);

  const idl::Method& no_id = s.methods[6];
  EXPECT_FALSE(no_id.id.has_value());
  EXPECT_EQ(idl::BaseType::kUserDefined, no_id.params[0].type.base);
  EXPECT_EQ("SampleMode", no_id.params[0].type.user_name);
  EXPECT_TRUE(no_id.params[2].in);
  EXPECT_TRUE(no_id.params[2].out);
  EXPECT_EQ(-1, s.methods[9].id.value());
  EXPECT_TRUE(s.methods[9].params.empty());
  EXPECT_TRUE(s.methods[9].hidden);

  ASSERT_EQ(2u, lib.coclasses.size());
  EXPECT_EQ("Sample", lib.coclasses[0].name);
  EXPECT_TRUE(lib.coclasses[0].members[0].is_default);
  EXPECT_TRUE(lib.coclasses[1].noncreatable);
  EXPECT_EQ(2u, lib.coclasses[1].members.size());

  EXPECT_EQ(2, idl::InterfaceLevel(lib, "ISample"));
  EXPECT_EQ(1, idl::InterfaceLevel(lib, "IDispatch"));
  EXPECT_EQ(static_cast<int32_t>(0x60020003), idl::DefaultDispid(2, 3));
}

TEST(IdlParser, ErrorsNameTheLine) {
  EXPECT_EQ("t.idl:4: expected ';' but found '}'",
            parse_error("[object, uuid(11111111-2222-3333-4444-555555555555)]\n"
                        "interface I : IDispatch {\n  HRESULT A()\n};"));
  EXPECT_EQ("t.idl:2: interface I has no uuid", parse_error("\ninterface I : IDispatch {};"));
  EXPECT_EQ("t.idl:1: malformed uuid '1234'",
            parse_error("[uuid(1234)] interface I : IDispatch {};"));
  EXPECT_EQ("t.idl:2: unterminated string",
            parse_error("[uuid(11111111-2222-3333-4444-555555555555)]\n"
                        "library L { [helpstring(\"open\n ] };"));
  EXPECT_EQ("t.idl:1: unterminated comment", parse_error("/* never closed\n\n"));
  EXPECT_EQ("t.idl:2: unknown type 'IMissing'",
            parse_error("[uuid(11111111-2222-3333-4444-555555555555)] interface I : IDispatch {\n"
                        "HRESULT A([in] IMissing* p); };"));
  EXPECT_EQ("t.idl:1: interface I derives from unknown IBase",
            parse_error("[uuid(11111111-2222-3333-4444-555555555555)] interface I : IBase {};"));
  EXPECT_EQ("t.idl:1: A: retval must be the last parameter and out",
            parse_error("[uuid(11111111-2222-3333-4444-555555555555)] interface I : IDispatch {"
                        "HRESULT A([out, retval] long* a, [in] long b); };"));
  EXPECT_EQ("t.idl:1: A: parameter b follows an optional one",
            parse_error("[uuid(11111111-2222-3333-4444-555555555555)] interface I : IDispatch {"
                        "HRESULT A([in, optional] VARIANT a, [in] long b); };"));
  EXPECT_EQ("t.idl:1: interfaces are passed by pointer",
            parse_error("[uuid(11111111-2222-3333-4444-555555555555)] interface I : IDispatch {"
                        "HRESULT A([in] IDispatch p); };"));
  EXPECT_EQ("t.idl:1: unknown constant 'NOPE'",
            parse_error("[uuid(11111111-2222-3333-4444-555555555555)] interface I : IDispatch {"
                        "[id(NOPE)] HRESULT A(); };"));
  EXPECT_EQ(
      "t.idl:1: interface I is defined twice",
      parse_error("[uuid(11111111-2222-3333-4444-555555555555)] interface I : IDispatch {};"
                  "[uuid(11111111-2222-3333-4444-555555555555)] interface I : IDispatch {};"));
}

TEST(IdlParser, HostileInputFailsCleanly) {
  const std::string head =
      "[uuid(11111111-2222-3333-4444-555555555555)] interface I : IDispatch { [id(";
  EXPECT_NE("", parse_error(head + std::string(100000, '(') + "1" + "]"));
  EXPECT_NE("", parse_error(head + std::string(5000, '-') + "1)] HRESULT A(); };"));
  EXPECT_NE("", parse_error(head + "99999999999999999999999)] HRESULT A(); };"));
  EXPECT_NE("", parse_error(head + "0x1FFFFFFFF)] HRESULT A(); };"));
  EXPECT_NE("", parse_error("[" + std::string(200000, 'a')));
  EXPECT_NE("", parse_error("\"" + std::string(100000, 'x')));
  EXPECT_NE("", parse_error(std::string("interface \x01\x02\xff")));
  EXPECT_NE("", parse_error("[uuid(11111111-2222-3333-4444-555555555555)] interface I : I {};"));
  EXPECT_NE("", parse_error("[uuid(11111111-2222-3333-4444-555555555555)] interface A : B {};"
                            "[uuid(11111111-2222-3333-4444-555555555556)] interface B : A {};"));
  std::string garbage;
  for (int i = 0; i < 20000; ++i)
    garbage += static_cast<char>((i * 7919) % 256);
  idl::Library lib;
  std::string error;
  EXPECT_FALSE(idl::Parse(garbage, "g.idl", lib, error));
  EXPECT_EQ(0u, lib.interfaces.size()) << "a failed parse leaves an empty description";
}

// A typedef'd name stands for its type wherever it is used, pointers added on top; only one
// definition of a name is allowed.
TEST(IdlParser, TypedefNamesStandForTheirTypes) {
  idl::Library lib;
  std::string error;
  ASSERT_TRUE(idl::Parse("typedef [public] LONGLONG WIDE;\n"
                         "[uuid(11111111-2222-3333-4444-555555555555)] interface I : IDispatch {"
                         "HRESULT A([in] WIDE a, [out, retval] WIDE* b); };",
                         "t.idl", lib, error))
      << error;
  const idl::Method& a = lib.interfaces.at(0).methods.at(0);
  EXPECT_EQ(idl::BaseType::kI8, a.params[0].type.base);
  EXPECT_EQ(0, a.params[0].type.pointer_level);
  EXPECT_EQ(idl::BaseType::kI8, a.params[1].type.base);
  EXPECT_EQ(1, a.params[1].type.pointer_level);
  EXPECT_TRUE(a.params[1].type.user_name.empty());

  EXPECT_EQ("t.idl:2: type W is defined twice",
            parse_error("typedef long W;\ntypedef short W;"));
  EXPECT_EQ("t.idl:1: type E is defined twice",
            parse_error("typedef enum E { e1 } E; typedef long E;"));
  EXPECT_EQ("t.idl:1: only enums and plain types can be typedef'd",
            parse_error("typedef SAFEARRAY(BYTE) Bytes;"));
}

}  // namespace
