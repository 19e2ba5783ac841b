// Tests of ComPtr: reference counts at each ownership step, the verbs, queries and CopyTo.
#include "com_ptr.h"

#include <gtest/gtest.h>

#include <type_traits>

#include "automation_test_support.h"
#include "oleauto.h"

namespace {

using automation_test::FakeDispatch;
using automation_test::FakeUnknown;
using automation_test::RefCount;

static_assert(!std::is_copy_constructible_v<ComPtr<IUnknown>>);
static_assert(!std::is_copy_assignable_v<ComPtr<IUnknown>>);
static_assert(std::is_nothrow_move_constructible_v<ComPtr<IUnknown>>);
static_assert(!std::is_constructible_v<ComPtr<IUnknown>, IUnknown*>,
              "adopting is spelled Reset, copying in is spelled Set");
static_assert(!std::is_convertible_v<ComPtr<IUnknown>, IUnknown*>);
static_assert(sizeof(ComPtr<IDispatch>) == sizeof(IDispatch*));

TEST(ComPtr, ReferenceCountAtEachOwnershipStep) {
  FakeDispatch obj;
  {
    ComPtr<IDispatch> p;
    p.Set(&obj);
    EXPECT_EQ(2u, RefCount(&obj)) << "Set copies in";
    ComPtr<IDispatch> moved(std::move(p));
    EXPECT_EQ(nullptr, p.Get());
    EXPECT_EQ(2u, RefCount(&obj)) << "moving transfers";
    ComPtr<IDispatch> assigned;
    assigned = std::move(moved);
    EXPECT_EQ(2u, RefCount(&obj));
    ComPtr<IDispatch>& same = assigned;  // through a reference, as self-moves happen
    assigned = std::move(same);
    EXPECT_EQ(2u, RefCount(&obj)) << "self-move keeps the reference";
    obj.AddRef();
    assigned.Reset(&obj);
    EXPECT_EQ(2u, RefCount(&obj)) << "Reset adopts and releases the old reference";
    IDispatch* raw = assigned.Release();
    EXPECT_EQ(2u, RefCount(&obj)) << "Release hands the reference out";
    EXPECT_FALSE(assigned);
    assigned.Reset(raw);
    ComPtr<IDispatch> other;
    other.Swap(assigned);
    EXPECT_TRUE(other);
    EXPECT_FALSE(assigned);
  }
  EXPECT_EQ(1u, obj.refs) << "scope exit releases";
}

TEST(ComPtr, QueriesBuildInAHolderAndCopyToGivesTheCallerItsOwn) {
  FakeDispatch obj;
  ComPtr<IUnknown> unknown;
  unknown.Set(&obj);
  ComPtr<IDispatch> disp;
  ASSERT_EQ(S_OK, unknown->QueryInterface(IID_PPV_ARGS(disp.Receive())));
  EXPECT_EQ(&obj, disp.Get());
  EXPECT_EQ(3u, RefCount(&obj));
  IDispatch* out = nullptr;
  ASSERT_EQ(S_OK, disp.CopyTo(&out));
  EXPECT_EQ(4u, RefCount(&obj));
  out->Release();
  EXPECT_EQ(E_POINTER, disp.CopyTo(nullptr));

  FakeUnknown plain;
  ComPtr<IUnknown> holder;
  holder.Set(&plain);
  ComPtr<IDispatch> none;
  EXPECT_EQ(E_NOINTERFACE, holder.As(&none));
  EXPECT_FALSE(none);
  EXPECT_EQ(2u, RefCount(&plain));
  ComPtr<IDispatch> empty;
  EXPECT_EQ(S_OK, empty.CopyTo(&out));
  EXPECT_EQ(nullptr, out);
  EXPECT_EQ(E_POINTER, empty.As(&none));
}

TEST(ComPtr, TypedQueryOfTheInterface) {
  FakeDispatch obj;
  IUnknown* unknown = &obj;
  IDispatch* disp = nullptr;
  ASSERT_EQ(S_OK, unknown->QueryInterface(&disp));
  EXPECT_EQ(&obj, disp);
  disp->Release();
}

}  // namespace
