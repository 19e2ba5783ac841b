// Tests of VariantInit, VariantClear, VariantCopy and VariantCopyInd: what each owned type frees
// and copies, reference counts, by-reference values, invalid types and short memory.
#include <gtest/gtest.h>

#include <string.h>

#include "automation_test_support.h"
#include "oleauto.h"

namespace {

using automation_test::ExpectOutOfMemorySafe;
using automation_test::FakeDispatch;
using automation_test::FakeUnknown;
using automation_test::RefCount;
using automation_test::Text;

VARIANT Bstr(const char16_t* text) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(text);
  return v;
}

VARIANT I4(LONG value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  return v;
}

// A VT_ARRAY|VT_BSTR variant of two strings.
VARIANT StringArray() {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_ARRAY | VT_BSTR;
  v.parray = SafeArrayCreateVector(VT_BSTR, 0, 2);
  const char16_t* texts[] = {u"one", u"two"};
  for (LONG i = 0; i < 2; ++i) {
    BSTR text = SysAllocString(texts[i]);
    SafeArrayPutElement(v.parray, &i, text);  // stores a copy
    SysFreeString(text);
  }
  return v;
}

TEST(Variant, InitMakesEmpty) {
  VARIANT v;
  memset(&v, 0x5A, sizeof(v));
  VariantInit(&v);
  EXPECT_EQ(VT_EMPTY, v.vt);
}

TEST(Variant, ClearFreesEveryOwnedType) {
  LONG blocks = PlatformTaskMemBlocks();
  VARIANT s = Bstr(u"owned");
  EXPECT_EQ(S_OK, VariantClear(&s));
  EXPECT_EQ(VT_EMPTY, s.vt);

  VARIANT a = StringArray();
  EXPECT_EQ(S_OK, VariantClear(&a));
  EXPECT_EQ(VT_EMPTY, a.vt);

  VARIANT nested;
  VariantInit(&nested);
  nested.vt = VT_ARRAY | VT_VARIANT;
  nested.parray = SafeArrayCreateVector(VT_VARIANT, 0, 1);
  VARIANT inner = Bstr(u"inside");
  LONG i = 0;
  SafeArrayPutElement(nested.parray, &i, &inner);
  VariantClear(&inner);
  EXPECT_EQ(S_OK, VariantClear(&nested));
  EXPECT_EQ(blocks, PlatformTaskMemBlocks()) << "strings and arrays were freed";

  FakeUnknown unk;
  FakeDispatch disp;
  VARIANT u;
  u.vt = VT_UNKNOWN;
  u.punkVal = &unk;
  unk.AddRef();
  VARIANT d;
  d.vt = VT_DISPATCH;
  d.pdispVal = &disp;
  disp.AddRef();
  EXPECT_EQ(S_OK, VariantClear(&u));
  EXPECT_EQ(S_OK, VariantClear(&d));
  EXPECT_EQ(1u, unk.refs);
  EXPECT_EQ(1u, disp.refs);

  VARIANT null_interface;
  null_interface.vt = VT_DISPATCH;
  null_interface.pdispVal = nullptr;
  EXPECT_EQ(S_OK, VariantClear(&null_interface));
  EXPECT_EQ(E_INVALIDARG, VariantClear(nullptr));
}

TEST(Variant, ClearLeavesByReferenceValuesAlone) {
  BSTR owned_elsewhere = SysAllocString(u"theirs");
  FakeUnknown unk;
  IUnknown* punk = &unk;
  VARIANT v;
  v.vt = VT_BSTR | VT_BYREF;
  v.pbstrVal = &owned_elsewhere;
  EXPECT_EQ(S_OK, VariantClear(&v));
  EXPECT_EQ(u"theirs", Text(owned_elsewhere));
  v.vt = VT_UNKNOWN | VT_BYREF;
  v.ppunkVal = &punk;
  EXPECT_EQ(S_OK, VariantClear(&v));
  EXPECT_EQ(1u, unk.refs);
  SysFreeString(owned_elsewhere);
}

TEST(Variant, InvalidTypesAreRefusedAndLeftAlone) {
  const VARTYPE invalid[] = {15,
                             VT_VOID,
                             VT_HRESULT,
                             VT_LPSTR,
                             VT_EMPTY | VT_BYREF,
                             VT_NULL | VT_ARRAY,
                             VT_I4 | VT_VECTOR,
                             VT_I4 | VT_RESERVED,
                             VT_RECORD,  // records are not supported here
                             0x7F};
  for (VARTYPE vt : invalid) {
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    EXPECT_EQ(DISP_E_BADVARTYPE, VariantClear(&v)) << vt;
    EXPECT_EQ(vt, v.vt);
    VARIANT dest;
    VariantInit(&dest);
    EXPECT_EQ(DISP_E_BADVARTYPE, VariantCopy(&dest, &v)) << vt;
  }
  VARIANT clsid;
  VariantInit(&clsid);
  clsid.vt = VT_CLSID;
  VARIANT dest;
  VariantInit(&dest);
  EXPECT_EQ(DISP_E_BADVARTYPE, VariantCopy(&dest, &clsid)) << "copy refuses VT_CLSID";
}

TEST(Variant, ClearOfALockedArrayReportsItAndEmptiesTheVariant) {
  VARIANT a = StringArray();
  SAFEARRAY* psa = a.parray;
  ASSERT_EQ(S_OK, SafeArrayLock(psa));
  EXPECT_EQ(DISP_E_ARRAYISLOCKED, VariantClear(&a));
  EXPECT_EQ(VT_EMPTY, a.vt);
  ASSERT_EQ(S_OK, SafeArrayUnlock(psa));
  EXPECT_EQ(S_OK, SafeArrayDestroy(psa));
}

TEST(Variant, CopyOfAStringIsDeep) {
  VARIANT src = Bstr(u"a\0b");
  SysReAllocStringLen(&src.bstrVal, u"a\0b", 3);
  VARIANT dest = I4(7);
  ASSERT_EQ(S_OK, VariantCopy(&dest, &src));
  EXPECT_EQ(VT_BSTR, dest.vt);
  EXPECT_NE(src.bstrVal, dest.bstrVal);
  EXPECT_EQ(std::u16string(u"a\0b", 3), Text(dest.bstrVal)) << "embedded zeros are kept";
  VariantClear(&src);
  VariantClear(&dest);
}

TEST(Variant, CopyClearsTheOldDestination) {
  LONG blocks = PlatformTaskMemBlocks();
  VARIANT dest = Bstr(u"old");
  VARIANT src = I4(1);
  ASSERT_EQ(S_OK, VariantCopy(&dest, &src));
  EXPECT_EQ(blocks, PlatformTaskMemBlocks()) << "the old string was freed";
  EXPECT_EQ(S_OK, VariantCopy(&dest, &dest)) << "copying onto itself changes nothing";
  EXPECT_EQ(1, dest.lVal);
}

TEST(Variant, CopyOfInterfacesAddsAReference) {
  FakeDispatch disp;
  FakeUnknown unk;
  VARIANT d;
  d.vt = VT_DISPATCH;
  d.pdispVal = &disp;
  VARIANT u;
  u.vt = VT_UNKNOWN;
  u.punkVal = &unk;
  VARIANT copy;
  VariantInit(&copy);
  ASSERT_EQ(S_OK, VariantCopy(&copy, &d));
  EXPECT_EQ(2u, RefCount(&disp));
  ASSERT_EQ(S_OK, VariantCopy(&copy, &u));
  EXPECT_EQ(1u, RefCount(&disp)) << "the old interface was released";
  EXPECT_EQ(2u, RefCount(&unk));
  VariantClear(&copy);
  EXPECT_EQ(1u, RefCount(&unk));
}

TEST(Variant, CopyOfAnArrayIsDeep) {
  VARIANT src = StringArray();
  VARIANT copy;
  VariantInit(&copy);
  ASSERT_EQ(S_OK, VariantCopy(&copy, &src));
  EXPECT_EQ(VT_ARRAY | VT_BSTR, copy.vt);
  ASSERT_NE(src.parray, copy.parray);
  VariantClear(&src);  // the copy must not depend on the source
  LONG i = 1;
  BSTR second = nullptr;
  ASSERT_EQ(S_OK, SafeArrayGetElement(copy.parray, &i, &second));
  EXPECT_EQ(u"two", Text(second));
  SysFreeString(second);
  VariantClear(&copy);
}

TEST(Variant, CopyOfAnArrayOfInterfacesAddsReferences) {
  FakeDispatch disp;
  VARIANT src;
  src.vt = VT_ARRAY | VT_DISPATCH;
  src.parray = SafeArrayCreateVector(VT_DISPATCH, 0, 2);
  LONG i = 0;
  SafeArrayPutElement(src.parray, &i, static_cast<IDispatch*>(&disp));
  i = 1;
  SafeArrayPutElement(src.parray, &i, static_cast<IDispatch*>(&disp));
  EXPECT_EQ(3u, RefCount(&disp));
  VARIANT copy;
  VariantInit(&copy);
  ASSERT_EQ(S_OK, VariantCopy(&copy, &src));
  EXPECT_EQ(5u, RefCount(&disp));
  VariantClear(&copy);
  VariantClear(&src);
  EXPECT_EQ(1u, RefCount(&disp));
}

TEST(Variant, CopyOfByReferenceCopiesOnlyThePointer) {
  BSTR text = SysAllocString(u"shared");
  VARIANT src;
  src.vt = VT_BSTR | VT_BYREF;
  src.pbstrVal = &text;
  VARIANT copy;
  VariantInit(&copy);
  ASSERT_EQ(S_OK, VariantCopy(&copy, &src));
  EXPECT_EQ(&text, copy.pbstrVal);
  VariantClear(&copy);
  EXPECT_EQ(u"shared", Text(text));
  SysFreeString(text);
}

TEST(Variant, CopyIndDereferencesEachType) {
  LONG l = 42;
  double r = 2.5;
  VARIANT_BOOL b = VARIANT_TRUE;
  BSTR s = SysAllocString(u"by ref");
  FakeDispatch disp;
  IDispatch* pdisp = &disp;
  DECIMAL dec = {};
  dec.Lo64 = 99;
  dec.scale = 1;

  VARIANT v;
  VARIANT out;
  VariantInit(&out);
  v.vt = VT_I4 | VT_BYREF;
  v.plVal = &l;
  ASSERT_EQ(S_OK, VariantCopyInd(&out, &v));
  EXPECT_EQ(VT_I4, out.vt);
  EXPECT_EQ(42, out.lVal);

  v.vt = VT_R8 | VT_BYREF;
  v.pdblVal = &r;
  ASSERT_EQ(S_OK, VariantCopyInd(&out, &v));
  EXPECT_EQ(VT_R8, out.vt);
  EXPECT_EQ(2.5, out.dblVal);

  v.vt = VT_BOOL | VT_BYREF;
  v.pboolVal = &b;
  ASSERT_EQ(S_OK, VariantCopyInd(&out, &v));
  EXPECT_EQ(VARIANT_TRUE, out.boolVal);

  v.vt = VT_BSTR | VT_BYREF;
  v.pbstrVal = &s;
  ASSERT_EQ(S_OK, VariantCopyInd(&out, &v));
  EXPECT_EQ(VT_BSTR, out.vt);
  EXPECT_NE(s, out.bstrVal);
  EXPECT_EQ(u"by ref", Text(out.bstrVal));

  v.vt = VT_DISPATCH | VT_BYREF;
  v.ppdispVal = &pdisp;
  ASSERT_EQ(S_OK, VariantCopyInd(&out, &v));
  EXPECT_EQ(VT_DISPATCH, out.vt);
  EXPECT_EQ(2u, RefCount(&disp));

  v.vt = VT_DECIMAL | VT_BYREF;
  v.pdecVal = &dec;
  ASSERT_EQ(S_OK, VariantCopyInd(&out, &v));
  EXPECT_EQ(1u, RefCount(&disp)) << "the dispatch copy was released";
  EXPECT_EQ(VT_DECIMAL, out.vt);
  EXPECT_EQ(99u, out.decVal.Lo64);
  EXPECT_EQ(1, out.decVal.scale);

  VARIANT target = I4(5);
  v.vt = VT_VARIANT | VT_BYREF;
  v.pvarVal = &target;
  ASSERT_EQ(S_OK, VariantCopyInd(&out, &v));
  EXPECT_EQ(VT_I4, out.vt) << "the type is the referenced variant's";
  EXPECT_EQ(5, out.lVal);

  VariantClear(&out);
  SysFreeString(s);
}

TEST(Variant, CopyIndRefusesDoubleIndirectionAndBadReferences) {
  VARIANT inner = I4(1);
  VARIANT middle;
  middle.vt = VT_VARIANT | VT_BYREF;
  middle.pvarVal = &inner;
  VARIANT outer;
  outer.vt = VT_VARIANT | VT_BYREF;
  outer.pvarVal = &middle;
  VARIANT out = I4(3);
  EXPECT_EQ(E_INVALIDARG, VariantCopyInd(&out, &outer));
  EXPECT_EQ(VT_I4, out.vt) << "the destination is unchanged on failure";

  VARIANT null_ref;
  null_ref.vt = VT_I4 | VT_BYREF;
  null_ref.plVal = nullptr;
  EXPECT_EQ(E_INVALIDARG, VariantCopyInd(&out, &null_ref));

  VARIANT bad;
  bad.vt = VT_NULL | VT_BYREF;
  bad.byref = &inner;
  EXPECT_EQ(E_INVALIDARG, VariantCopyInd(&out, &bad));
}

TEST(Variant, CopyIndInPlaceAndOntoTheReferencedVariant) {
  BSTR s = SysAllocString(u"place");
  VARIANT v;
  v.vt = VT_BSTR | VT_BYREF;
  v.pbstrVal = &s;
  ASSERT_EQ(S_OK, VariantCopyInd(&v, &v));
  EXPECT_EQ(VT_BSTR, v.vt);
  EXPECT_EQ(u"place", Text(v.bstrVal));
  EXPECT_NE(s, v.bstrVal);
  VariantClear(&v);
  SysFreeString(s);

  // The source refers to the destination itself: the value survives the copy.
  VARIANT target = Bstr(u"self");
  VARIANT ref;
  ref.vt = VT_VARIANT | VT_BYREF;
  ref.pvarVal = &target;
  ASSERT_EQ(S_OK, VariantCopyInd(&target, &ref));
  EXPECT_EQ(u"self", Text(target.bstrVal));
  VariantClear(&target);
}

TEST(Variant, CopyReportsShortMemoryAndLeavesTheDestinationEmpty) {
  VARIANT s = Bstr(u"text");
  VARIANT a = StringArray();
  VARIANT nested;
  nested.vt = VT_ARRAY | VT_VARIANT;
  nested.parray = SafeArrayCreateVector(VT_VARIANT, 0, 3);
  LONG i = 0;
  SafeArrayPutElement(nested.parray, &i, &s);
  i = 2;
  SafeArrayPutElement(nested.parray, &i, &a);
  VARIANT ref;
  ref.vt = VT_VARIANT | VT_BYREF;
  ref.pvarVal = &nested;

  for (const VARIANT* src : {&s, &a, &nested}) {
    ExpectOutOfMemorySafe([&] {
      VARIANT dest = I4(1);
      HRESULT hr = VariantCopy(&dest, src);
      if (FAILED(hr)) {
        EXPECT_EQ(VT_EMPTY, dest.vt);
      }
      VariantClear(&dest);
      return hr;
    });
  }
  ExpectOutOfMemorySafe([&] {
    VARIANT dest = I4(1);
    HRESULT hr = VariantCopyInd(&dest, &ref);
    if (FAILED(hr)) {
      EXPECT_EQ(VT_I4, dest.vt);
    }
    VariantClear(&dest);
    return hr;
  });
  VariantClear(&s);
  VariantClear(&a);
  VariantClear(&nested);
}

}  // namespace
