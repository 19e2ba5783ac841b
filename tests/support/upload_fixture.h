// A fixture for tests of the upload object: VtrlSrv and the data access module registered by
// the registration tool into a registry file of the suite's own, an upload object created by
// ProgID, and helpers that drive it by name as a script does.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "com_ptr.h"
#include "fake_page.h"
#include "late_bound.h"
#include "platform_config.h"
#include "scoped_variant.h"
#include "windows.h"

class UploadFixture : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char dir[] = "/tmp/vtrltestXXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    registry_ = std::string(dir) + "/registry.reg";
    // The data access module is registered beside the server for the saves into a database.
    for (const char* module : {VTRLSRV_PATH, ADO_MODULE}) {
      const std::string command =
          "PLATFORM_REGISTRY='" + registry_ + "' '" + REGSVR_PATH + "' -s '" + module + "'";
      ASSERT_EQ(0, std::system(command.c_str()));
    }
    PlatformSetRegistryPath(registry_.c_str());
  }
  static void TearDownTestSuite() {
    CoFreeUnusedLibraries();
    PlatformSetRegistryPath(nullptr);
    std::system(("rm -rf '" + registry_.substr(0, registry_.rfind('/')) + "'").c_str());
  }
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    CLSID clsid{};
    ASSERT_EQ(S_OK, CLSIDFromProgID(u"Vantrel.FileUpload", &clsid));
    ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                     reinterpret_cast<void**>(upload_.Receive())));
  }
  void TearDown() override {
    upload_.Reset();
    CoUninitialize();
  }

  // OnStartPage with a page whose request has content_type and body.
  HRESULT start(const std::u16string& content_type, const std::string& body,
                fake_page::Context** keep = nullptr) {
    fake_page::Context* context = fake_page::MakeContext(content_type, body);
    HRESULT hr = late_bound::Call(upload_.Get(), u"OnStartPage", DISPATCH_METHOD,
                                  {late_bound::Unknown(context)}, nullptr);
    if (keep)
      *keep = context;
    else
      context->Release();
    return hr;
  }

  ComPtr<IDispatch> collection(const char16_t* name) {
    ScopedVariant v;
    EXPECT_EQ(S_OK, late_bound::Get(upload_.Get(), name, {}, v.Receive()));
    ComPtr<IDispatch> out;
    if (v.Type() == VT_DISPATCH)
      out.Set(v.Get().pdispVal);
    return out;
  }

  // The attachment of the file field named field, through Attachments.Item.
  ComPtr<IDispatch> attachment(const char16_t* field) {
    ComPtr<IDispatch> out;
    ComPtr<IDispatch> attachments = collection(u"Attachments");
    if (!attachments)
      return out;
    ScopedVariant v;
    EXPECT_EQ(S_OK,
              late_bound::Get(attachments.Get(), u"Item", {late_bound::Str(field)}, v.Receive()));
    if (v.Type() == VT_DISPATCH)
      out.Set(v.Get().pdispVal);
    return out;
  }

  LONG count(IDispatch* c) {
    ScopedVariant v;
    EXPECT_EQ(S_OK, late_bound::Get(c, u"Count", {}, v.Receive()));
    return v.Get().lVal;
  }

  // The string property name of the element c(index).
  std::u16string element_text(IDispatch* c, VARIANT index, const char16_t* property) {
    ScopedVariant element;
    if (FAILED(late_bound::Get(c, u"Item", {index}, element.Receive())) ||
        element.Type() != VT_DISPATCH)
      return u"<none>";
    ScopedVariant text;
    if (FAILED(late_bound::Get(element.Get().pdispVal, property, {}, text.Receive())))
      return u"<failed>";
    return std::u16string(text.Get().bstrVal, SysStringLen(text.Get().bstrVal));
  }

  static inline std::string registry_;
  ComPtr<IDispatch> upload_;
};
