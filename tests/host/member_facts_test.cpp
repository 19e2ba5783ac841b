// Member facts read from the host's own interface descriptions: what a member is, kept ids only
// for members the type describes.
#include "member_facts.h"

#include <gtest/gtest.h>

#include <string>

#include "dispatch_object.h"
#include "host_type_library.h"

namespace {

using vhost::MemberKind;
using vhost::TypeFacts;

class MemberFactsTest : public HostTypeLibraryTest {
 protected:
  static DISPID id_of(ITypeInfo* info, const char16_t* name) {
    std::u16string copy = name;
    LPOLESTR names[] = {copy.data()};
    DISPID id = DISPID_UNKNOWN;
    EXPECT_EQ(S_OK, info->GetIDsOfNames(names, 1, &id));
    return id;
  }
};

TEST_F(MemberFactsTest, KindsComeFromTheFunctions) {
  ITypeInfo* request = vhost::host_type_info(IID_IRequest);
  ASSERT_NE(nullptr, request);
  std::unique_ptr<TypeFacts> facts = TypeFacts::Read(request);
  ASSERT_NE(nullptr, facts);
  EXPECT_EQ(MemberKind::kCallable, facts->Kind(DISPID_VALUE)) << "Item takes an argument";
  EXPECT_EQ(MemberKind::kProperty, facts->Kind(id_of(request, u"TotalBytes")));
  EXPECT_EQ(MemberKind::kCallable, facts->Kind(id_of(request, u"BinaryRead")));
  EXPECT_EQ(MemberKind::kUnknown, facts->Kind(0x7777));
  // BinaryRead's [in, out] VARIANT* is passed as it is: no by-reference type to convert to.
  EXPECT_EQ(std::vector<VARTYPE>{VT_EMPTY},
            facts->ByrefTypes(id_of(request, u"BinaryRead"), DISPATCH_METHOD));
  EXPECT_TRUE(facts->ByrefTypes(0x7777, DISPATCH_METHOD).empty());
}

TEST_F(MemberFactsTest, OnlyDescribedIdsAreKept) {
  std::unique_ptr<TypeFacts> facts = TypeFacts::Read(vhost::host_type_info(IID_IRequest));
  ASSERT_NE(nullptr, facts);
  DISPID id = 0;
  EXPECT_FALSE(facts->KnownId("TotalBytes", &id));
  const DISPID total = id_of(vhost::host_type_info(IID_IRequest), u"TotalBytes");
  facts->RememberId("TotalBytes", total);
  ASSERT_TRUE(facts->KnownId("TotalBytes", &id));
  EXPECT_EQ(total, id);
  // An id an object made up at run time may name something else in the next object.
  facts->RememberId("Expando", 0x7777);
  EXPECT_FALSE(facts->KnownId("Expando", &id));
}

}  // namespace
