// Tests of the thread error information: the error object of CreateErrorInfo, SetErrorInfo and
// GetErrorInfo (which hands the object over and clears the slot), one slot per thread, and
// short memory.
#include <gtest/gtest.h>

#include <thread>

#include "automation_test_support.h"
#include "com_ptr.h"
#include "oleauto.h"
#include "scoped_bstr.h"

namespace {

using automation_test::ExpectOutOfMemorySafe;
using automation_test::RefCount;
using automation_test::Text;

const GUID kSomeInterface = {0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};

// A new error object with a description, as IErrorInfo.
ComPtr<IErrorInfo> MakeError(const char16_t* description) {
  ComPtr<ICreateErrorInfo> create;
  ComPtr<IErrorInfo> info;
  EXPECT_EQ(S_OK, CreateErrorInfo(create.Receive()));
  EXPECT_EQ(S_OK, create->SetDescription(const_cast<LPOLESTR>(description)));
  EXPECT_EQ(S_OK, create.As(&info));
  return info;
}

std::u16string DescriptionOf(IErrorInfo* info) {
  ScopedBstr text;
  EXPECT_EQ(S_OK, info->GetDescription(text.Receive()));
  return Text(text.Get());
}

TEST(ErrorInfo, ObjectKeepsWhatWasSet) {
  ComPtr<ICreateErrorInfo> create;
  ASSERT_EQ(S_OK, CreateErrorInfo(create.Receive()));
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(S_OK, create.As(&info));

  ScopedBstr text;
  EXPECT_EQ(S_OK, info->GetSource(text.Receive()));
  EXPECT_EQ(nullptr, text.Get()) << "nothing set reads back as null";
  GUID guid = kSomeInterface;
  EXPECT_EQ(S_OK, info->GetGUID(&guid));
  EXPECT_TRUE(guid == GUID_NULL);

  EXPECT_EQ(S_OK, create->SetGUID(kSomeInterface));
  EXPECT_EQ(S_OK, create->SetSource(const_cast<LPOLESTR>(u"Component.Name")));
  EXPECT_EQ(S_OK, create->SetDescription(const_cast<LPOLESTR>(u"파일을 찾을 수 없습니다")));
  EXPECT_EQ(S_OK, create->SetHelpFile(const_cast<LPOLESTR>(u"help.hlp")));
  EXPECT_EQ(S_OK, create->SetHelpContext(42));

  EXPECT_EQ(S_OK, info->GetGUID(&guid));
  EXPECT_TRUE(guid == kSomeInterface);
  EXPECT_EQ(S_OK, info->GetSource(text.Receive()));
  EXPECT_EQ(u"Component.Name", Text(text.Get()));
  EXPECT_EQ(u"파일을 찾을 수 없습니다", DescriptionOf(info.Get()));
  text.Reset();
  EXPECT_EQ(S_OK, info->GetHelpFile(text.Receive()));
  EXPECT_EQ(u"help.hlp", Text(text.Get()));
  DWORD context = 0;
  EXPECT_EQ(S_OK, info->GetHelpContext(&context));
  EXPECT_EQ(42u, context);

  EXPECT_EQ(S_OK, create->SetSource(nullptr));
  text.Reset();
  EXPECT_EQ(S_OK, info->GetSource(text.Receive()));
  EXPECT_EQ(nullptr, text.Get()) << "setting null clears the field";
  EXPECT_EQ(E_INVALIDARG, info->GetDescription(nullptr));
  EXPECT_EQ(E_INVALIDARG, info->GetGUID(nullptr));
  EXPECT_EQ(E_INVALIDARG, CreateErrorInfo(nullptr));
}

TEST(ErrorInfo, ObjectAnswersItsInterfacesWithOneIdentity) {
  ComPtr<ICreateErrorInfo> create;
  ASSERT_EQ(S_OK, CreateErrorInfo(create.Receive()));
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(S_OK, create.As(&info));
  ComPtr<IUnknown> from_create;
  ComPtr<IUnknown> from_info;
  ASSERT_EQ(S_OK, create.As(&from_create));
  ASSERT_EQ(S_OK, info.As(&from_info));
  EXPECT_EQ(from_create.Get(), from_info.Get());
  EXPECT_EQ(4u, RefCount(info.Get()));
  ComPtr<IDispatch> none;
  EXPECT_EQ(E_NOINTERFACE, info.As(&none));
  EXPECT_EQ(nullptr, none.Get());
}

TEST(ErrorInfo, GetHandsTheObjectOverAndClearsTheSlot) {
  ComPtr<IErrorInfo> info = MakeError(u"first");
  ASSERT_EQ(S_OK, SetErrorInfo(0, info.Get()));
  EXPECT_EQ(2u, RefCount(info.Get())) << "the slot holds a reference";
  ComPtr<IErrorInfo> got;
  ASSERT_EQ(S_OK, GetErrorInfo(0, got.Receive()));
  EXPECT_EQ(info.Get(), got.Get());
  EXPECT_EQ(2u, RefCount(info.Get())) << "the slot's reference went to the caller";
  ComPtr<IErrorInfo> again;
  EXPECT_EQ(S_FALSE, GetErrorInfo(0, again.Receive()));
  EXPECT_EQ(nullptr, again.Get());
}

TEST(ErrorInfo, SetReplacesAndReleasesThePreviousObject) {
  ComPtr<IErrorInfo> first = MakeError(u"first");
  ComPtr<IErrorInfo> second = MakeError(u"second");
  ASSERT_EQ(S_OK, SetErrorInfo(0, first.Get()));
  ASSERT_EQ(S_OK, SetErrorInfo(0, first.Get())) << "setting the same object again is safe";
  EXPECT_EQ(2u, RefCount(first.Get()));
  ASSERT_EQ(S_OK, SetErrorInfo(0, second.Get()));
  EXPECT_EQ(1u, RefCount(first.Get()));
  ASSERT_EQ(S_OK, SetErrorInfo(0, nullptr));
  EXPECT_EQ(1u, RefCount(second.Get()));
  ComPtr<IErrorInfo> got;
  EXPECT_EQ(S_FALSE, GetErrorInfo(0, got.Receive()));
}

TEST(ErrorInfo, ReservedArgumentsAreChecked) {
  ComPtr<IErrorInfo> info = MakeError(u"x");
  EXPECT_EQ(E_INVALIDARG, SetErrorInfo(1, info.Get()));
  EXPECT_EQ(1u, RefCount(info.Get()));
  ComPtr<IErrorInfo> got;
  EXPECT_EQ(E_INVALIDARG, GetErrorInfo(1, got.Receive()));
  EXPECT_EQ(E_INVALIDARG, GetErrorInfo(0, nullptr));
}

TEST(ErrorInfo, EachThreadHasItsOwnSlot) {
  ComPtr<IErrorInfo> mine = MakeError(u"main thread");
  ASSERT_EQ(S_OK, SetErrorInfo(0, mine.Get()));
  HRESULT other_before = E_FAIL;
  std::u16string other_after;
  std::thread worker([&] {
    ComPtr<IErrorInfo> seen;
    other_before = GetErrorInfo(0, seen.Receive());
    ComPtr<IErrorInfo> own = MakeError(u"worker");
    SetErrorInfo(0, own.Get());
    ComPtr<IErrorInfo> back;
    if (GetErrorInfo(0, back.Receive()) == S_OK)
      other_after = DescriptionOf(back.Get());
  });
  worker.join();
  EXPECT_EQ(S_FALSE, other_before) << "the main thread's error is not seen on the worker";
  EXPECT_EQ(u"worker", other_after);
  ComPtr<IErrorInfo> got;
  ASSERT_EQ(S_OK, GetErrorInfo(0, got.Receive()));
  EXPECT_EQ(u"main thread", DescriptionOf(got.Get()));
}

TEST(ErrorInfo, AThreadEndingReleasesItsError) {
  ComPtr<IErrorInfo> info = MakeError(u"left behind");
  std::thread worker([&] { SetErrorInfo(0, info.Get()); });
  worker.join();
  EXPECT_EQ(1u, RefCount(info.Get()));
}

TEST(ErrorInfo, ShortMemoryGivesOutOfMemoryAndLeaksNothing) {
  ExpectOutOfMemorySafe([] {
    ComPtr<ICreateErrorInfo> create;
    HRESULT hr = CreateErrorInfo(create.Receive());
    if (FAILED(hr))
      return hr;
    hr = create->SetDescription(const_cast<LPOLESTR>(u"description"));
    if (FAILED(hr))
      return hr;
    ComPtr<IErrorInfo> info;
    hr = create.As(&info);
    if (FAILED(hr))
      return hr;
    ScopedBstr text;
    hr = info->GetDescription(text.Receive());
    if (SUCCEEDED(hr)) {
      EXPECT_EQ(u"description", Text(text.Get()));
    }
    return hr;
  });
  ComPtr<ICreateErrorInfo> create;
  ASSERT_EQ(S_OK, CreateErrorInfo(create.Receive()));
  ASSERT_EQ(S_OK, create->SetSource(const_cast<LPOLESTR>(u"kept")));
  FaultSimConfig(1, TRUE);
  EXPECT_EQ(E_OUTOFMEMORY, create->SetSource(const_cast<LPOLESTR>(u"lost")));
  FaultSimConfig(0, FALSE);
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(S_OK, create.As(&info));
  ScopedBstr text;
  ASSERT_EQ(S_OK, info->GetSource(text.Receive()));
  EXPECT_EQ(u"kept", Text(text.Get())) << "a failed set keeps the old value";
}

}  // namespace
