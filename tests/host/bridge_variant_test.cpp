// Values an automation member returns, as the script receives them: numbers as the platform's
// own conversion to a double gives them, whatever their type (the ones read where they are, with
// no copy and no conversion, included), at the ends of their ranges and by reference; text whole.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "bridge.h"
#include "duktape.h"
#include "oleauto.h"
#include "scoped_variant.h"
#include "text.h"

namespace {

class BridgeValueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx_ = duk_create_heap_default();
    ASSERT_NE(nullptr, ctx_);
  }
  void TearDown() override { duk_destroy_heap(ctx_); }

  // Pushes value as a member's result and checks the script's number against VariantChangeType.
  void ExpectSameNumber(const VARIANT& value, const std::string& what) {
    ScopedVariant reference;
    ASSERT_EQ(S_OK, reference.Set(value)) << what;
    ASSERT_EQ(S_OK, reference.ChangeType(VT_R8)) << what;
    vhost::bridge_push_variant(ctx_, value);
    ASSERT_TRUE(duk_is_number(ctx_, -1)) << what;
    const double got = duk_get_number(ctx_, -1);
    duk_pop(ctx_);
    EXPECT_EQ(reference.Get().dblVal, got) << what;
  }

  duk_context* ctx_ = nullptr;
};

VARIANT Of(VARTYPE vt) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  return v;
}

TEST_F(BridgeValueTest, EveryNumberTypeArrivesAsThePlatformConvertsIt) {
  for (const signed char n : {std::numeric_limits<signed char>::min(), static_cast<signed char>(-1),
                              std::numeric_limits<signed char>::max()}) {
    VARIANT v = Of(VT_I1);
    v.cVal = static_cast<CHAR>(n);
    ExpectSameNumber(v, "VT_I1 " + std::to_string(n));
  }
  for (const BYTE n : {BYTE{0}, BYTE{255}}) {
    VARIANT v = Of(VT_UI1);
    v.bVal = n;
    ExpectSameNumber(v, "VT_UI1 " + std::to_string(n));
  }
  for (const SHORT n :
       {std::numeric_limits<SHORT>::min(), SHORT{-1}, std::numeric_limits<SHORT>::max()}) {
    VARIANT v = Of(VT_I2);
    v.iVal = n;
    ExpectSameNumber(v, "VT_I2 " + std::to_string(n));
  }
  for (const USHORT n : {USHORT{0}, std::numeric_limits<USHORT>::max()}) {
    VARIANT v = Of(VT_UI2);
    v.uiVal = n;
    ExpectSameNumber(v, "VT_UI2 " + std::to_string(n));
  }
  for (const LONG n :
       {std::numeric_limits<LONG>::min(), LONG{-1}, std::numeric_limits<LONG>::max()}) {
    VARIANT v = Of(VT_I4);
    v.lVal = n;
    ExpectSameNumber(v, "VT_I4 " + std::to_string(n));
    v = Of(VT_INT);
    v.intVal = n;
    ExpectSameNumber(v, "VT_INT " + std::to_string(n));
  }
  for (const ULONG n : {ULONG{0}, std::numeric_limits<ULONG>::max()}) {
    VARIANT v = Of(VT_UI4);
    v.ulVal = n;
    ExpectSameNumber(v, "VT_UI4 " + std::to_string(n));
    v = Of(VT_UINT);
    v.uintVal = n;
    ExpectSameNumber(v, "VT_UINT " + std::to_string(n));
  }
  for (const float n :
       {-1.5f, std::numeric_limits<float>::max(), std::numeric_limits<float>::denorm_min()}) {
    VARIANT v = Of(VT_R4);
    v.fltVal = n;
    ExpectSameNumber(v, "VT_R4 " + std::to_string(n));
  }
  for (const double n :
       {-0.0, 0.1, std::numeric_limits<double>::max(), -std::numeric_limits<double>::infinity()}) {
    VARIANT v = Of(VT_R8);
    v.dblVal = n;
    ExpectSameNumber(v, "VT_R8 " + std::to_string(n));
  }
  VARIANT wide = Of(VT_I8);
  wide.llVal = (LONGLONG{1} << 53) + 1;  // not a double: rounds as the platform rounds it
  ExpectSameNumber(wide, "VT_I8 2^53 + 1");
}

TEST_F(BridgeValueTest, NumbersByReferenceAreReadThroughTheReference) {
  LONG l = -7;
  VARIANT v = Of(VT_I4 | VT_BYREF);
  v.plVal = &l;
  vhost::bridge_push_variant(ctx_, v);
  EXPECT_EQ(-7.0, duk_get_number(ctx_, -1));
  double d = 2.5;
  v = Of(VT_R8 | VT_BYREF);
  v.pdblVal = &d;
  vhost::bridge_push_variant(ctx_, v);
  EXPECT_EQ(2.5, duk_get_number(ctx_, -1));
  USHORT u = 65535;
  v = Of(VT_UI2 | VT_BYREF);
  v.puiVal = &u;
  vhost::bridge_push_variant(ctx_, v);
  EXPECT_EQ(65535.0, duk_get_number(ctx_, -1));
  duk_pop_n(ctx_, 3);
}

TEST_F(BridgeValueTest, NegativeZeroAndNaNStayWhatTheyAre) {
  VARIANT v = Of(VT_R8);
  v.dblVal = -0.0;
  vhost::bridge_push_variant(ctx_, v);
  EXPECT_TRUE(std::signbit(duk_get_number(ctx_, -1)));
  v.dblVal = std::numeric_limits<double>::quiet_NaN();
  vhost::bridge_push_variant(ctx_, v);
  EXPECT_TRUE(std::isnan(duk_get_number(ctx_, -1)));
  duk_pop_n(ctx_, 2);
}

// Text arrives whole and in the engine's encoding, short (converted on the stack) or long, ASCII
// or not, on both sides of the length where the one way gives over to the other.
TEST_F(BridgeValueTest, TextOfEveryLengthArrivesWhole) {
  for (const size_t length :
       {size_t{0}, size_t{1}, size_t{255}, size_t{256}, size_t{257}, size_t{5000}}) {
    for (const char16_t unit : {u'a', u'\u00E9', u'\uD55C'}) {
      std::u16string text(length, unit);
      if (length > 2)
        text[length / 2] = u'/';
      BSTR bstr = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
      ASSERT_NE(nullptr, bstr);
      VARIANT v = Of(VT_BSTR);
      v.bstrVal = bstr;
      vhost::bridge_push_variant(ctx_, v);
      SysFreeString(bstr);
      duk_size_t size = 0;
      const char* got = duk_get_lstring(ctx_, -1, &size);
      ASSERT_NE(nullptr, got);
      EXPECT_EQ(vhost::to_cesu8(text), std::string(got, size))
          << length << " units of U+" << std::hex << static_cast<int>(unit);
      duk_pop(ctx_);
    }
  }
  VARIANT none = Of(VT_BSTR);  // a null text is the empty one
  vhost::bridge_push_variant(ctx_, none);
  EXPECT_STREQ("", duk_get_string(ctx_, -1));
  duk_pop(ctx_);
}

}  // namespace
