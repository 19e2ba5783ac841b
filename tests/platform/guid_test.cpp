// Tests of identifier text (StringFromGUID2, CLSIDFromString, IIDFromString), comparison, and
// the identifiers of the platform's interfaces.
#include <gtest/gtest.h>

#include <string>

#include "objbase.h"
#include "oleauto.h"

namespace {

const GUID kSample = {0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};

TEST(Guid, TextFormIsUpperCaseBracedAndRoundTrips) {
  OLECHAR text[CHARS_IN_GUID];
  ASSERT_EQ(39, StringFromGUID2(kSample, text, CHARS_IN_GUID));
  EXPECT_EQ(std::u16string(u"{1CF2B120-547D-101B-8E65-08002B2BD119}"), text);
  GUID back;
  ASSERT_EQ(S_OK, CLSIDFromString(text, &back));
  EXPECT_TRUE(back == kSample);
  ASSERT_EQ(S_OK, IIDFromString(u"{1cf2b120-547d-101b-8e65-08002b2bd119}", &back));
  EXPECT_TRUE(back == kSample) << "hex digits are read in either case";
}

TEST(Guid, StringFromGuid2NeedsRoomForTheTerminator) {
  OLECHAR text[CHARS_IN_GUID] = u"untouched";
  EXPECT_EQ(0, StringFromGUID2(kSample, text, CHARS_IN_GUID - 1));
  EXPECT_EQ(std::u16string(u"untouched"), text);
  EXPECT_EQ(0, StringFromGUID2(kSample, nullptr, CHARS_IN_GUID));
}

TEST(Guid, ClsidFromStringRefusesMalformedTextAndClearsTheResult) {
  const char16_t* bad[] = {
      u"",
      u"1CF2B120-547D-101B-8E65-08002B2BD119",     // no braces
      u"{1CF2B120-547D-101B-8E65-08002B2BD11}",    // short
      u"{1CF2B120-547D-101B-8E65-08002B2BD1190}",  // long
      u"{1CF2B120-547D-101B-8E65_08002B2BD119}",   // wrong separator
      u"{1CF2B12G-547D-101B-8E65-08002B2BD119}",   // not hex
      u"Some.ProgID",
  };
  for (const char16_t* text : bad) {
    GUID out = kSample;
    EXPECT_EQ(CO_E_CLASSSTRING, CLSIDFromString(text, &out));
    EXPECT_TRUE(out == CLSID_NULL);
  }
  GUID out = kSample;
  EXPECT_EQ(S_OK, CLSIDFromString(nullptr, &out));
  EXPECT_TRUE(out == CLSID_NULL);
  EXPECT_EQ(E_INVALIDARG, CLSIDFromString(u"{1CF2B120-547D-101B-8E65-08002B2BD119}", nullptr));
}

TEST(Guid, IidFromStringTellsWrongLengthFromWrongForm) {
  GUID out;
  EXPECT_EQ(E_INVALIDARG, IIDFromString(u"{1CF2B120}", &out));
  EXPECT_EQ(CO_E_IIDSTRING, IIDFromString(u"(1CF2B120-547D-101B-8E65-08002B2BD119)", &out));
  EXPECT_EQ(S_OK, IIDFromString(nullptr, &out));
  EXPECT_TRUE(out == IID_NULL);
}

TEST(Guid, ComparisonLooksAtAllSixteenBytes) {
  GUID other = kSample;
  EXPECT_TRUE(IsEqualGUID(other, kSample));
  other.Data4[7] ^= 1;
  EXPECT_FALSE(IsEqualGUID(other, kSample));
  EXPECT_TRUE(other != kSample);
}

TEST(Guid, InterfaceIdentifiersHaveThePlatformValues) {
  struct {
    const IID* iid;
    const char16_t* text;
  } const table[] = {
      {&IID_IUnknown, u"{00000000-0000-0000-C000-000000000046}"},
      {&IID_IClassFactory, u"{00000001-0000-0000-C000-000000000046}"},
      {&IID_IDispatch, u"{00020400-0000-0000-C000-000000000046}"},
      {&IID_ITypeInfo, u"{00020401-0000-0000-C000-000000000046}"},
      {&IID_ITypeLib, u"{00020402-0000-0000-C000-000000000046}"},
      {&IID_IEnumVARIANT, u"{00020404-0000-0000-C000-000000000046}"},
      {&IID_IErrorInfo, u"{1CF2B120-547D-101B-8E65-08002B2BD119}"},
      {&IID_ICreateErrorInfo, u"{22F03340-547D-101B-8E65-08002B2BD119}"},
      {&IID_ISupportErrorInfo, u"{DF0B3D60-548F-101B-8E65-08002B2BD119}"},
  };
  for (const auto& row : table) {
    OLECHAR text[CHARS_IN_GUID];
    StringFromGUID2(*row.iid, text, CHARS_IN_GUID);
    EXPECT_EQ(std::u16string(row.text), text);
  }
  EXPECT_TRUE(__uuidof(IDispatch) == IID_IDispatch);
  EXPECT_TRUE(__uuidof(ICreateErrorInfo) == IID_ICreateErrorInfo);
}

}  // namespace
