// Tests of ScopedSafeArray and its lock scope: the checked factory, unaccess at scope end,
// and the ownership verbs.
#include "scoped_safearray.h"

#include <gtest/gtest.h>

#include <type_traits>

#include "automation_test_support.h"

namespace {

using automation_test::Text;

static_assert(!std::is_constructible_v<ScopedSafeArray, SAFEARRAY*>, "adopting is spelled Reset");
static_assert(!std::is_copy_constructible_v<ScopedSafeArray>);
static_assert(std::is_nothrow_move_constructible_v<ScopedSafeArray>);
static_assert(!std::is_copy_constructible_v<SafeArrayLockScope<VT_UI1>>);
static_assert(std::is_nothrow_move_constructible_v<SafeArrayLockScope<VT_UI1>>);
static_assert(std::is_same_v<SafeArrayLockScope<VT_BSTR>::value_type, BSTR>);

TEST(ScopedSafeArray, LockScopeGivesTheElementsAndUnaccessesAtItsEnd) {
  ScopedSafeArray array;
  array.Reset(SafeArrayCreateVector(VT_UI1, 5, 3));
  {
    auto scope = array.CreateLockScope<VT_UI1>();
    ASSERT_TRUE(scope.has_value());
    EXPECT_EQ(3u, scope->size());
    EXPECT_EQ(1u, array.Get()->cLocks);
    BYTE n = 0;
    for (BYTE& b : *scope)
      b = ++n;
    auto moved = std::move(*scope);
    EXPECT_EQ(3, moved[2]);
    EXPECT_EQ(1u, array.Get()->cLocks) << "moving the scope does not lock twice";
  }
  EXPECT_EQ(0u, array.Get()->cLocks);
  LONG index = 6;
  BYTE value = 0;
  ASSERT_EQ(S_OK, SafeArrayGetElement(array.Get(), &index, &value));
  EXPECT_EQ(2, value);
}

TEST(ScopedSafeArray, LockScopeIsRefusedForTheWrongTypeOrShape) {
  ScopedSafeArray empty;
  EXPECT_FALSE(empty.CreateLockScope<VT_UI1>().has_value());
  ScopedSafeArray strings;
  strings.Reset(SafeArrayCreateVector(VT_BSTR, 0, 2));
  EXPECT_FALSE(strings.CreateLockScope<VT_UI1>().has_value());
  EXPECT_FALSE(strings.CreateLockScope<VT_VARIANT>().has_value());
  EXPECT_EQ(0u, strings.Get()->cLocks);
  ASSERT_TRUE(strings.CreateLockScope<VT_BSTR>().has_value());
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
  ScopedSafeArray square;
  square.Reset(SafeArrayCreate(VT_UI1, 2, bounds));
  EXPECT_FALSE(square.CreateLockScope<VT_UI1>().has_value()) << "one dimension only";
  ScopedSafeArray unknowns;
  unknowns.Reset(SafeArrayCreateVector(VT_UNKNOWN, 0, 1));
  EXPECT_TRUE(unknowns.CreateLockScope<VT_UNKNOWN>().has_value());
  EXPECT_FALSE(unknowns.CreateLockScope<VT_DISPATCH>().has_value());
}

TEST(ScopedSafeArray, VerbsOwnAndFree) {
  LONG blocks = PlatformTaskMemBlocks();
  {
    ScopedSafeArray a;
    ASSERT_EQ(S_OK, SafeArrayCopy(nullptr, a.Receive()));
    a.Reset(SafeArrayCreateVector(VT_BSTR, 0, 1));
    LONG i = 0;
    BSTR text = SysAllocString(u"kept");
    SafeArrayPutElement(a.Get(), &i, text);
    SysFreeString(text);
    ScopedSafeArray b;
    ASSERT_EQ(S_OK, b.Set(a.Get()));
    EXPECT_NE(a.Get(), b.Get()) << "Set copies";
    a.Reset();
    auto scope = b.CreateLockScope<VT_BSTR>();
    ASSERT_TRUE(scope);
    EXPECT_EQ(u"kept", Text((*scope)[0]));
    scope.reset();
    SAFEARRAY* raw = b.Release();
    EXPECT_EQ(nullptr, b.Get());
    ScopedSafeArray c;
    c.Reset(raw);
    ScopedSafeArray d(std::move(c));
    d.Swap(c);
    EXPECT_NE(nullptr, c.Get());
  }
  EXPECT_EQ(blocks, PlatformTaskMemBlocks());
}

}  // namespace
