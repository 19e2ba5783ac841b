// The request's string lists: the value without an index, asked for directly or through a
// conversion, agrees with what the type description's dispatch gives for the same member.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dispatch_object.h"
#include "host_type_library.h"
#include "intrinsics.h"
#include "scoped_variant.h"

namespace {

class StringListTest : public HostTypeLibraryTest {
 protected:
  // Item with its argument missing, through the type description: what the list gave before
  // it answered the default value itself.
  static ScopedVariant through_type(IStringList* list) {
    VARIANT missing;
    VariantInit(&missing);
    missing.vt = VT_ERROR;
    missing.scode = DISP_E_PARAMNOTFOUND;
    ScopedVariant out;
    EXPECT_EQ(S_OK, list->get_Item(missing, out.Receive()));
    return out;
  }

  static ScopedVariant default_value(IStringList* list, WORD flags) {
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    ScopedVariant out;
    EXPECT_EQ(S_OK, list->Invoke(DISPID_VALUE, IID_NULL, 0, flags, &none, out.Receive(), nullptr,
                                 nullptr));
    return out;
  }
};

TEST_F(StringListTest, TheDefaultValueIsEveryValueJoinedOrEmpty) {
  const std::vector<std::vector<std::u16string>> cases = {{}, {u"one"}, {u"2", u"", u"3"}};
  const std::vector<const char16_t*> texts = {nullptr, u"one", u"2, , 3"};
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    auto* list = new vhost::StringList(cases[i]);
    list->AddRef();
    const ScopedVariant typed = through_type(list);
    for (WORD flags : {WORD{DISPATCH_PROPERTYGET}, WORD{DISPATCH_METHOD | DISPATCH_PROPERTYGET}}) {
      const ScopedVariant value = default_value(list, flags);
      ASSERT_EQ(typed.Type(), value.Type());
      if (texts[i]) {
        ASSERT_EQ(VT_BSTR, value.Type());
        EXPECT_EQ(std::u16string(texts[i]), value.Get().bstrVal);
        EXPECT_EQ(std::u16string(typed.Get().bstrVal), value.Get().bstrVal);
      } else {
        EXPECT_EQ(VT_EMPTY, value.Type());
      }
    }
    // The conversion a caller makes to read the list as text.
    VARIANT held;
    VariantInit(&held);
    held.vt = VT_DISPATCH;
    held.pdispVal = list;
    ScopedVariant text;
    const HRESULT hr = VariantChangeType(text.Receive(), &held, 0, VT_BSTR);
    if (texts[i]) {
      ASSERT_EQ(S_OK, hr);
      EXPECT_EQ(std::u16string(texts[i]), text.Get().bstrVal);
    }
    list->Release();
  }
}

TEST_F(StringListTest, AnIndexOrAPutStillGoesThroughTheTypeDescription) {
  auto* list = new vhost::StringList({u"a", u"b"});
  list->AddRef();
  VARIANT index;
  VariantInit(&index);
  index.vt = VT_I4;
  index.lVal = 2;
  DISPPARAMS one{&index, nullptr, 1, 0};
  ScopedVariant out;
  ASSERT_EQ(S_OK, list->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_PROPERTYGET, &one, out.Receive(),
                               nullptr, nullptr));
  ASSERT_EQ(VT_BSTR, out.Type());
  EXPECT_EQ(std::u16string(u"b"), out.Get().bstrVal);
  index.lVal = 3;
  ScopedVariant none;
  EXPECT_EQ(DISP_E_EXCEPTION, list->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_PROPERTYGET, &one,
                                           none.Receive(), nullptr, nullptr));
  // The list is read-only: a put has no member to reach.
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS put{&index, &named, 1, 1};
  EXPECT_NE(S_OK, list->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr,
                               nullptr, nullptr));
  list->Release();
}

}  // namespace
