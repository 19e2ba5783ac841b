// Tests of ScopedBstr: no adoption by construction, the verbs, and checked allocation.
#include "scoped_bstr.h"

#include <gtest/gtest.h>

#include <type_traits>

#include "automation_test_support.h"

namespace {

using automation_test::Text;

static_assert(!std::is_constructible_v<ScopedBstr, BSTR>, "a raw BSTR is never adopted");
static_assert(!std::is_constructible_v<ScopedBstr, const OLECHAR*>);
static_assert(!std::is_copy_constructible_v<ScopedBstr>);
static_assert(!std::is_copy_assignable_v<ScopedBstr>);
static_assert(std::is_nothrow_move_constructible_v<ScopedBstr>);
static_assert(!std::is_convertible_v<ScopedBstr, BSTR>);

TEST(ScopedBstr, AllocateCopiesAndTheScopeFrees) {
  LONG blocks = PlatformTaskMemBlocks();
  {
    ScopedBstr s;
    EXPECT_EQ(nullptr, s.Get());
    EXPECT_EQ(0u, s.Length());
    ASSERT_NE(nullptr, s.Allocate(u"text"));
    EXPECT_EQ(u"text", Text(s.Get()));
    ASSERT_NE(nullptr, s.Allocate(nullptr));
    EXPECT_EQ(0u, s.Length()) << "null text gives an empty string, so null means no memory";
    ASSERT_NE(nullptr, s.AllocateBytes("abc", 3));
    EXPECT_EQ(3u, s.ByteLength());
    ASSERT_NE(nullptr, s.AllocateLen(u"abcdef", 2));
    EXPECT_EQ(u"ab", Text(s.Get()));
  }
  EXPECT_EQ(blocks, PlatformTaskMemBlocks());
}

TEST(ScopedBstr, FailedAllocationKeepsTheOldString) {
  ScopedBstr s;
  ASSERT_NE(nullptr, s.Allocate(u"old"));
  FaultSimConfig(1, FALSE);
  EXPECT_EQ(nullptr, s.Allocate(u"new"));
  FaultSimConfig(0, FALSE);
  EXPECT_EQ(u"old", Text(s.Get()));
}

TEST(ScopedBstr, ResetReleaseReceiveSwapAndMove) {
  LONG blocks = PlatformTaskMemBlocks();
  ScopedBstr a;
  a.Reset(SysAllocString(u"adopted"));
  BSTR raw = a.Release();
  EXPECT_EQ(nullptr, a.Get());
  EXPECT_EQ(u"adopted", Text(raw));
  SysFreeString(raw);
  ScopedBstr b;
  *b.Receive() = SysAllocString(u"received");
  a.Swap(b);
  EXPECT_EQ(u"received", Text(a.Get()));
  ScopedBstr c(std::move(a));
  EXPECT_EQ(nullptr, a.Get());
  ScopedBstr& same = c;  // through a reference, as self-moves happen
  c = std::move(same);
  EXPECT_EQ(u"received", Text(c.Get()));
  c.Reset();
  EXPECT_EQ(blocks, PlatformTaskMemBlocks());
}

#ifndef NDEBUG
TEST(ScopedBstrDeathTest, ReceiveOnAFullHolderIsCaught) {
  ScopedBstr s;
  ASSERT_NE(nullptr, s.Allocate(u"leak"));
  EXPECT_DEATH(s.Receive(), "");
}
#endif

}  // namespace
