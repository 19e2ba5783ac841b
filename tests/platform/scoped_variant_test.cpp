// Tests of ScopedVariant: reference counts at each ownership step, Set copies, Reset adopts,
// Receive guards against leaks, and the two ways a value reaches an API.
#include "scoped_variant.h"

#include <gtest/gtest.h>

#include <type_traits>

#include "automation_test_support.h"

namespace {

using automation_test::FakeDispatch;
using automation_test::RefCount;
using automation_test::Text;

static_assert(!std::is_constructible_v<ScopedVariant, VARIANT>, "adopting is spelled Reset");
static_assert(!std::is_copy_constructible_v<ScopedVariant>);
static_assert(!std::is_copy_assignable_v<ScopedVariant>);
static_assert(std::is_nothrow_move_constructible_v<ScopedVariant>);
static_assert(!std::is_convertible_v<ScopedVariant, VARIANT*>, "no mutable pointer but Receive");
static_assert(std::is_convertible_v<const ScopedVariant&, const VARIANT&>);

VARIANT Dispatch(IDispatch* p) {
  VARIANT v;
  v.vt = VT_DISPATCH;
  v.pdispVal = p;
  return v;
}

// A by-value parameter, as interface methods take VARIANTs.
VARTYPE TypeOf(VARIANT v) {
  return v.vt;
}

TEST(ScopedVariant, ReferenceCountAtEachOwnershipStep) {
  FakeDispatch obj;
  {
    ScopedVariant v;
    EXPECT_EQ(VT_EMPTY, v.Type());
    ASSERT_EQ(S_OK, v.Set(Dispatch(&obj)));
    EXPECT_EQ(2u, RefCount(&obj)) << "Set copies in";
    ScopedVariant moved(std::move(v));
    EXPECT_EQ(VT_EMPTY, v.Type());
    EXPECT_EQ(2u, RefCount(&obj));
    ScopedVariant assigned;
    assigned = std::move(moved);
    EXPECT_EQ(2u, RefCount(&obj));
    obj.AddRef();
    assigned.Reset(Dispatch(&obj));
    EXPECT_EQ(2u, RefCount(&obj)) << "Reset adopts and clears the old value";
    VARIANT out = assigned.Release();
    EXPECT_EQ(VT_EMPTY, assigned.Type());
    EXPECT_EQ(2u, RefCount(&obj));
    VariantClear(&out);
    EXPECT_EQ(1u, RefCount(&obj));
    ASSERT_EQ(S_OK, assigned.Set(Dispatch(&obj)));
    ScopedVariant other;
    other.Swap(assigned);
    EXPECT_EQ(VT_DISPATCH, other.Type());
    EXPECT_EQ(VT_EMPTY, assigned.Type());
  }
  EXPECT_EQ(1u, obj.refs) << "scope exit clears";
}

TEST(ScopedVariant, ValuesReachApisAsConstReferenceOrInput) {
  ScopedVariant text;
  VARIANT raw;
  raw.vt = VT_BSTR;
  raw.bstrVal = SysAllocString(u"12");
  text.Reset(raw);
  EXPECT_EQ(VT_BSTR, TypeOf(text));
  ScopedVariant number;
  ASSERT_EQ(S_OK, VariantChangeType(number.Receive(), text.AsInput(), 0, VT_I4));
  EXPECT_EQ(12, number.Get().lVal);
  EXPECT_EQ(u"12", Text(text.Get().bstrVal)) << "the input was only read";
}

TEST(ScopedVariant, ChangeTypeIsAllOrNothing) {
  ScopedVariant v;
  VARIANT raw;
  raw.vt = VT_BSTR;
  raw.bstrVal = SysAllocString(u"not a number");
  v.Reset(raw);
  EXPECT_EQ(DISP_E_TYPEMISMATCH, v.ChangeType(VT_I4));
  EXPECT_EQ(VT_BSTR, v.Type());
  raw.bstrVal = SysAllocString(u"5");
  v.Reset(raw);
  ASSERT_EQ(S_OK, v.ChangeType(VT_R8));
  EXPECT_EQ(5.0, v.Get().dblVal);
}

TEST(ScopedVariant, FailedSetKeepsTheOldValue) {
  ScopedVariant v;
  VARIANT raw;
  raw.vt = VT_I4;
  raw.lVal = 3;
  v.Reset(raw);
  ScopedVariant text;
  raw.vt = VT_BSTR;
  raw.bstrVal = SysAllocString(u"copy me");
  text.Reset(raw);
  FaultSimConfig(1, FALSE);
  EXPECT_EQ(E_OUTOFMEMORY, v.Set(text));
  FaultSimConfig(0, FALSE);
  EXPECT_EQ(VT_I4, v.Type());
  EXPECT_EQ(3, v.Get().lVal);
}

TEST(ScopedVariant, LeakableTypes) {
  EXPECT_TRUE(ScopedVariant::IsLeakable(VT_BSTR));
  EXPECT_TRUE(ScopedVariant::IsLeakable(VT_DISPATCH));
  EXPECT_TRUE(ScopedVariant::IsLeakable(VT_ARRAY | VT_I4));
  EXPECT_FALSE(ScopedVariant::IsLeakable(VT_BSTR | VT_BYREF));
  EXPECT_FALSE(ScopedVariant::IsLeakable(VT_I4));
  EXPECT_FALSE(ScopedVariant::IsLeakable(VT_EMPTY));
}

#ifndef NDEBUG
TEST(ScopedVariantDeathTest, ReceiveOnAnOwningValueIsCaught) {
  ScopedVariant v;
  VARIANT raw;
  raw.vt = VT_BSTR;
  raw.bstrVal = SysAllocString(u"would leak");
  v.Reset(raw);
  EXPECT_DEATH(v.Receive(), "");
}
#endif

}  // namespace
