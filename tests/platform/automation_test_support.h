// Shared helpers of the automation run-time tests: fake objects that count their references and
// fail the test on unexpected calls, the out-of-memory loop, and a code-page guard.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "faultsim.h"
#include "oleauto.h"
#include "platform_config.h"
#include "platform_memstat.h"
#include "winnls.h"

namespace automation_test {

// The reference count of p, read through AddRef/Release.
inline ULONG RefCount(IUnknown* p) {
  p->AddRef();
  return p->Release();
}

// The text of a BSTR, for assertions (null reads as empty).
inline std::u16string Text(BSTR b) { return std::u16string(b ? b : u"", SysStringLen(b)); }

// An object with IUnknown only. It lives on the stack; the test checks its count at the end.
class FakeUnknown : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    *ppv = nullptr;
    if (riid != IID_IUnknown) return E_NOINTERFACE;
    *ppv = static_cast<IUnknown*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    EXPECT_GT(refs, 0u) << "released more often than referenced";
    return --refs;
  }
  ULONG refs = 1;
};

// An automation object whose default member (DISPID_VALUE, property get) returns a copy of
// value. Any other call fails the test. invoke_result makes Invoke fail.
class FakeDispatch : public IDispatch {
 public:
  FakeDispatch() { VariantInit(&value); }
  ~FakeDispatch() { VariantClear(&value); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IDispatch) return E_NOINTERFACE;
    *ppv = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    EXPECT_GT(refs, 0u) << "released more often than referenced";
    return --refs;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override {
    ADD_FAILURE() << "unexpected GetTypeInfoCount";
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override {
    ADD_FAILURE() << "unexpected GetTypeInfo";
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    ADD_FAILURE() << "unexpected GetIDsOfNames";
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO*, UINT*) override {
    ++invoke_calls;
    EXPECT_EQ(DISPID_VALUE, id);
    EXPECT_TRUE(riid == IID_NULL);
    EXPECT_EQ(DISPATCH_PROPERTYGET, flags);
    EXPECT_TRUE(params && params->cArgs == 0 && params->cNamedArgs == 0);
    if (FAILED(invoke_result)) return invoke_result;
    if (!result) return E_INVALIDARG;
    return VariantCopy(result, &value);
  }

  ULONG refs = 1;
  int invoke_calls = 0;
  HRESULT invoke_result = S_OK;
  VARIANT value;
};

// Runs op with the Nth task-memory allocation failing, for N = 1, 2, ... until no fault fires,
// first failing only that allocation, then every one from it on. op releases what it made
// before it returns. Each run must end in success, or in E_OUTOFMEMORY when a fault fired, and
// leave the count of live blocks where it was.
inline void ExpectOutOfMemorySafe(const std::function<HRESULT()>& op, HRESULT success = S_OK) {
  for (BOOL persistent : {FALSE, TRUE}) {
    for (int n = 1;; ++n) {
      LONG baseline = PlatformTaskMemBlocks();
      FaultSimConfig(n, persistent);
      HRESULT hr = op();
      int faults = FaultSimFaults();
      FaultSimConfig(0, FALSE);
      SCOPED_TRACE(::testing::Message() << "failing allocation " << n
                                        << (persistent ? " and later" : " only"));
      if (faults == 0) {
        EXPECT_EQ(success, hr);
      } else {
        EXPECT_EQ(E_OUTOFMEMORY, hr);
      }
      EXPECT_EQ(baseline, PlatformTaskMemBlocks()) << "task memory leaked";
      if (faults == 0 || ::testing::Test::HasFailure() || n > 200) break;
    }
  }
}

// Sets the ANSI code page for a scope and restores it.
class AcpGuard {
 public:
  explicit AcpGuard(UINT cp) : saved_(GetACP()) { EXPECT_TRUE(PlatformSetACP(cp)); }
  ~AcpGuard() { PlatformSetACP(saved_); }
  AcpGuard(const AcpGuard&) = delete;
  AcpGuard& operator=(const AcpGuard&) = delete;

 private:
  UINT saved_;
};

}  // namespace automation_test
