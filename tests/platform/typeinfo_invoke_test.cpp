// Tests of late-bound calls: IDispatch::Invoke through type information, as a script makes
// them (names looked up, arguments last first, the put value as a named argument).
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "com_ptr.h"
#include "registered_module.h"
#include "scoped_bstr.h"
#include "windows.h"

namespace {

using registered_module::guid;
using registered_module::RegisteredModule;

VARIANT v_i4(LONG n) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = n;
  return v;
}

// A number of type vt (an integer type) in the union's first bytes, the rest of the union left
// as noise, so that a reader that takes more bytes than the type has is seen.
VARIANT v_int(VARTYPE vt, LONGLONG n) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  v.ullVal = 0xA5A5A5A5A5A5A5A5ULL;
  const size_t size = vt == VT_I1 || vt == VT_UI1   ? 1
                      : vt == VT_I2 || vt == VT_UI2 ? 2
                      : vt == VT_I4 || vt == VT_UI4 ? 4
                                                    : 8;
  std::memcpy(&v.llVal, &n, size);  // little-endian
  return v;
}

VARIANT v_str(const char16_t* s) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(s);
  return v;
}

VARIANT v_r8(double d) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_R8;
  v.dblVal = d;
  return v;
}

class Invoke : public RegisteredModule {
 protected:
  void SetUp() override {
    RegisteredModule::SetUp();
    ASSERT_EQ(S_OK,
              CoCreateInstance(guid(registered_module::kClsidText), nullptr, CLSCTX_INPROC_SERVER,
                               IID_IDispatch, reinterpret_cast<void**>(calc_.Receive())));
  }
  void TearDown() override {
    calc_.Reset();
    RegisteredModule::TearDown();
  }

  DISPID id(const char16_t* name) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID dispid = 12345;
    EXPECT_EQ(S_OK, calc_->GetIDsOfNames(GUID_NULL, names, 1, 0, &dispid));
    return dispid;
  }

  // Calls member name with args in natural order (they are reversed for Invoke and cleared).
  HRESULT call(const char16_t* name, WORD flags, std::vector<VARIANT> args, VARIANT* result,
               EXCEPINFO* excep = nullptr, UINT* arg_err = nullptr, bool put = false) {
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{reversed.data(), put ? &named : nullptr, static_cast<UINT>(reversed.size()),
                      put ? 1u : 0u};
    HRESULT hr = calc_->Invoke(id(name), GUID_NULL, 0, flags, &params, result, excep, arg_err);
    for (VARIANT& v : reversed)
      VariantClear(&v);
    return hr;
  }

  ComPtr<IDispatch> calc_;
};

TEST_F(Invoke, PositionalOptionalAndDefaultedArguments) {
  VARIANT r;
  VariantInit(&r);
  ASSERT_EQ(S_OK, call(u"Add", DISPATCH_METHOD, {v_i4(2), v_i4(3)}, &r));
  EXPECT_EQ(VT_I4, r.vt);
  EXPECT_EQ(5, r.lVal);
  ASSERT_EQ(S_OK, call(u"add", DISPATCH_METHOD, {v_i4(2)}, &r)) << "names ignore case";
  EXPECT_EQ(12, r.lVal) << "the default value 10";
  VARIANT missing;
  VariantInit(&missing);
  missing.vt = VT_ERROR;
  missing.scode = DISP_E_PARAMNOTFOUND;
  ASSERT_EQ(S_OK, call(u"Add", DISPATCH_METHOD, {v_i4(2), missing}, &r));
  EXPECT_EQ(12, r.lVal) << "an explicitly missing argument takes the default too";
  ASSERT_EQ(S_OK, call(u"Add", DISPATCH_METHOD, {v_str(u"7"), v_r8(1.4)}, &r));
  EXPECT_EQ(8, r.lVal) << "text and floating values are coerced";

  ScopedBstr text;
  ASSERT_EQ(S_OK, call(u"Concat", DISPATCH_METHOD, {v_str(u"ab")}, &r));
  EXPECT_EQ(VT_BSTR, r.vt);
  EXPECT_EQ(std::u16string(u"ab"), r.bstrVal) << "an optional VARIANT arrives as missing";
  VariantClear(&r);
  ASSERT_EQ(S_OK, call(u"Concat", DISPATCH_METHOD, {v_str(u"ab"), v_i4(5)}, &r));
  EXPECT_EQ(std::u16string(u"ab5"), r.bstrVal);
  VariantClear(&r);

  ASSERT_EQ(S_OK, call(u"Scale", DISPATCH_METHOD, {v_r8(2.0)}, &r));
  EXPECT_EQ(VT_R8, r.vt);
  EXPECT_DOUBLE_EQ(5.0, r.dblVal);
  VARIANT yes;
  VariantInit(&yes);
  yes.vt = VT_BOOL;
  yes.boolVal = VARIANT_TRUE;
  ASSERT_EQ(S_OK, call(u"Scale", DISPATCH_METHOD, {v_r8(2.0), yes}, &r));
  EXPECT_DOUBLE_EQ(-5.0, r.dblVal);
}

// A member with more parameters than a call keeps in its own frame gets every argument in its
// place, coerced, with the result back.
TEST_F(Invoke, ManyArgumentsReachTheirParameters) {
  VARIANT result;
  VariantInit(&result);
  std::vector<VARIANT> args;
  for (LONG d = 1; d <= 9; ++d)
    args.push_back(v_i4(d));
  args.push_back(v_str(u"0"));
  EXPECT_EQ(S_OK, call(u"Digits", DISPATCH_METHOD, args, &result));
  EXPECT_EQ(VT_I4, result.vt);
  EXPECT_EQ(1234567890, result.lVal);
  args.pop_back();
  EXPECT_EQ(DISP_E_BADPARAMCOUNT, call(u"Digits", DISPATCH_METHOD, args, &result));
}

TEST_F(Invoke, PropertiesAndTheDefaultMember) {
  VARIANT r;
  VariantInit(&r);
  ASSERT_EQ(S_OK, call(u"Name", DISPATCH_PROPERTYPUT, {v_str(u"calc")}, nullptr, nullptr, nullptr,
                       /*put=*/true));
  ASSERT_EQ(S_OK, call(u"Name", DISPATCH_PROPERTYGET, {}, &r));
  EXPECT_EQ(std::u16string(u"calc"), r.bstrVal);
  VariantClear(&r);
  // A put needs its value as the named DISPID_PROPERTYPUT argument.
  EXPECT_NE(S_OK, call(u"Name", DISPATCH_PROPERTYPUT, {v_str(u"x")}, nullptr));

  DISPPARAMS params{};
  VARIANT index = v_i4(2);
  params.rgvarg = &index;
  params.cArgs = 1;
  ASSERT_EQ(S_OK, calc_->Invoke(DISPID_VALUE, GUID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                                &params, &r, nullptr, nullptr));
  EXPECT_EQ(200, r.lVal);

  ASSERT_EQ(S_OK, call(u"Self", DISPATCH_PROPERTYGET, {}, &r));
  ASSERT_EQ(VT_DISPATCH, r.vt);
  EXPECT_NE(nullptr, r.pdispVal);
  VariantClear(&r);

  ASSERT_EQ(S_OK, call(u"Bytes", DISPATCH_METHOD, {v_i4(4)}, &r));
  ASSERT_EQ(VT_ARRAY | VT_UI1, r.vt);
  BYTE* data = nullptr;
  ASSERT_EQ(S_OK, SafeArrayAccessData(r.parray, reinterpret_cast<void**>(&data)));
  EXPECT_EQ(3, data[3]);
  SafeArrayUnaccessData(r.parray);
  VariantClear(&r);
}

TEST_F(Invoke, ByReferenceArgumentsAreWrittenBack) {
  LONG value = 21;
  VARIANT ref;
  VariantInit(&ref);
  ref.vt = VT_I4 | VT_BYREF;
  ref.plVal = &value;
  ASSERT_EQ(S_OK, call(u"Twice", DISPATCH_METHOD, {ref}, nullptr));
  EXPECT_EQ(42, value);
  UINT arg_err = 99;
  EXPECT_EQ(DISP_E_TYPEMISMATCH,
            call(u"Twice", DISPATCH_METHOD, {v_i4(1)}, nullptr, nullptr, &arg_err));
  EXPECT_EQ(0u, arg_err);

  // A VARIANT parameter sees a by-reference value as such.
  VARIANT r;
  VariantInit(&r);
  ASSERT_EQ(S_OK, call(u"Echo", DISPATCH_METHOD, {ref}, &r));
  EXPECT_EQ(VT_I4 | VT_BYREF, r.vt);
  EXPECT_EQ(&value, r.plVal);
}

// A member's failure comes back as DISP_E_EXCEPTION, with or without an EXCEPINFO; its status
// and error information travel in the EXCEPINFO when there is one, else stay on the thread.
TEST_F(Invoke, FailuresReachExcepInfo) {
  EXCEPINFO excep{};
  excep.wCode = 7;
  VARIANT r;
  VariantInit(&r);
  ASSERT_EQ(DISP_E_EXCEPTION, call(u"Fail", DISPATCH_METHOD, {v_str(u"boom")}, &r, &excep));
  EXPECT_EQ(E_FAIL, excep.scode);
  EXPECT_EQ(0, excep.wCode) << "scode or wCode, not both";
  EXPECT_EQ(std::u16string(u"boom"), excep.bstrDescription);
  EXPECT_EQ(std::u16string(u"Test.Calc.1"), excep.bstrSource);
  EXPECT_EQ(VT_EMPTY, r.vt);
  SysFreeString(excep.bstrDescription);
  SysFreeString(excep.bstrSource);
  SysFreeString(excep.bstrHelpFile);
  ComPtr<IErrorInfo> taken;
  EXPECT_EQ(S_FALSE, GetErrorInfo(0, taken.Receive())) << "the EXCEPINFO took it off the thread";

  ASSERT_EQ(DISP_E_EXCEPTION, call(u"Fail", DISPATCH_METHOD, {v_str(u"again")}, &r));
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(S_OK, GetErrorInfo(0, info.Receive()));
  ScopedBstr description;
  info->GetDescription(description.Receive());
  EXPECT_EQ(std::u16string(u"again"), description.Get());
}

TEST_F(Invoke, AMembersOwnStatusIsWrappedWhateverItIs) {
  VARIANT r;
  VariantInit(&r);
  // A dispatch status from the member itself is not one of Invoke's own: no argument is blamed.
  EXCEPINFO excep{};
  UINT arg_err = 99;
  ASSERT_EQ(DISP_E_EXCEPTION,
            call(u"Status", DISPATCH_METHOD, {v_i4(DISP_E_TYPEMISMATCH)}, &r, &excep, &arg_err));
  EXPECT_EQ(DISP_E_TYPEMISMATCH, excep.scode);
  EXPECT_EQ(nullptr, excep.bstrDescription) << "the member set no error information";
  EXPECT_EQ(99u, arg_err);
  EXPECT_EQ(VT_EMPTY, r.vt);
  EXPECT_EQ(DISP_E_EXCEPTION, call(u"Status", DISPATCH_METHOD, {v_i4(E_INVALIDARG)}, &r));

  // A success status other than S_OK is a success: the result comes back.
  ASSERT_EQ(S_OK, call(u"Status", DISPATCH_METHOD, {v_i4(S_FALSE)}, &r, &excep));
  EXPECT_EQ(VT_I4, r.vt);
  EXPECT_EQ(1, r.lVal);
}

TEST_F(Invoke, BadCallsGetDispatchStatuses) {
  VARIANT r;
  VariantInit(&r);
  UINT arg_err = 99;
  EXPECT_EQ(DISP_E_TYPEMISMATCH,
            call(u"Add", DISPATCH_METHOD, {v_i4(1), v_str(u"x")}, &r, nullptr, &arg_err));
  EXPECT_EQ(0u, arg_err) << "rgvarg index of the second argument";
  EXPECT_EQ(DISP_E_TYPEMISMATCH,
            call(u"Add", DISPATCH_METHOD, {v_str(u"x"), v_i4(1)}, &r, nullptr, &arg_err));
  EXPECT_EQ(1u, arg_err);
  EXPECT_EQ(DISP_E_OVERFLOW, call(u"Add", DISPATCH_METHOD, {v_r8(1e12)}, &r));
  EXPECT_EQ(DISP_E_BADPARAMCOUNT, call(u"Add", DISPATCH_METHOD, {}, &r));
  EXPECT_EQ(DISP_E_BADPARAMCOUNT, call(u"Add", DISPATCH_METHOD, {v_i4(1), v_i4(2), v_i4(3)}, &r));
  EXPECT_EQ(DISP_E_MEMBERNOTFOUND,
            call(u"Add", DISPATCH_PROPERTYPUT, {v_i4(1)}, &r, nullptr, nullptr, /*put=*/true));

  DISPPARAMS none{};
  EXPECT_EQ(DISP_E_MEMBERNOTFOUND,
            calc_->Invoke(777, GUID_NULL, 0, DISPATCH_METHOD, &none, &r, nullptr, nullptr));
  EXPECT_EQ(DISP_E_UNKNOWNINTERFACE,
            calc_->Invoke(1, IID_IUnknown, 0, DISPATCH_METHOD, &none, &r, nullptr, nullptr));
  VARIANT arg = v_i4(1);
  DISPID named = 0;
  DISPPARAMS with_named{&arg, &named, 1, 1};
  EXPECT_EQ(DISP_E_NONAMEDARGS,
            calc_->Invoke(1, GUID_NULL, 0, DISPATCH_METHOD, &with_named, &r, nullptr, nullptr));

  LPOLESTR unknown[] = {const_cast<LPOLESTR>(u"NoSuchMember")};
  DISPID dispid = 0;
  EXPECT_EQ(DISP_E_UNKNOWNNAME, calc_->GetIDsOfNames(GUID_NULL, unknown, 1, 0, &dispid));
  EXPECT_EQ(DISPID_UNKNOWN, dispid);
  LPOLESTR with_params[] = {const_cast<LPOLESTR>(u"Add"), const_cast<LPOLESTR>(u"B")};
  DISPID ids[2];
  EXPECT_EQ(S_OK, calc_->GetIDsOfNames(GUID_NULL, with_params, 2, 0, ids));
  EXPECT_EQ(1, ids[0]);
  EXPECT_EQ(1, ids[1]) << "the parameter's position";
  EXPECT_EQ(static_cast<DISPID>(0x6002000B), id(u"NOID")) << "the default rule: 12th slot";
}

TEST_F(Invoke, InterfaceArgumentsAreQueriedForTheirType) {
  VARIANT r;
  VariantInit(&r);
  VARIANT self;
  VariantInit(&self);
  self.vt = VT_DISPATCH;
  self.pdispVal = calc_.Get();
  calc_->AddRef();
  VARIANT self_unknown;
  VariantInit(&self_unknown);
  VariantCopy(&self_unknown, &self);
  VARIANT null;
  VariantInit(&null);
  null.vt = VT_NULL;
  ASSERT_EQ(S_OK, call(u"Peer", DISPATCH_METHOD, {self, self_unknown}, &r));
  EXPECT_EQ(18, r.lVal);
  EXPECT_EQ(DISP_E_TYPEMISMATCH, call(u"Peer", DISPATCH_METHOD, {null, v_i4(0)}, &r))
      << "null is a missing object; a number is not";
  VARIANT empty;
  VariantInit(&empty);
  ASSERT_EQ(S_OK, call(u"Peer", DISPATCH_METHOD, {null, empty}, &r));
  EXPECT_EQ(0, r.lVal);

  ComPtr<ICreateErrorInfo> stranger;
  ASSERT_EQ(S_OK, CreateErrorInfo(stranger.Receive()));
  VARIANT other;
  VariantInit(&other);
  other.vt = VT_UNKNOWN;
  other.punkVal = stranger.Get();
  stranger->AddRef();
  UINT arg_err = 99;
  EXPECT_EQ(DISP_E_TYPEMISMATCH,
            call(u"Peer", DISPATCH_METHOD, {other, empty}, &r, nullptr, &arg_err))
      << "an object without the interface";
  EXPECT_EQ(1u, arg_err);
}

// A plain function, called without an instance.
double weigh(int count, double unit, VARIANT extra) {
  return count * unit + extra.lVal;
}

TEST(DispCallFunc, CallsAPlainFunctionWithMixedArguments) {
  VARIANT count = v_i4(3);
  VARIANT unit = v_r8(1.5);
  VARIANT extra = v_i4(10);
  VARTYPE types[] = {VT_I4, VT_R8, VT_VARIANT};
  VARIANTARG* args[] = {&count, &unit, &extra};
  VARIANT result;
  ASSERT_EQ(S_OK, DispCallFunc(nullptr, reinterpret_cast<ULONG_PTR>(&weigh), CC_CDECL, VT_R8, 3,
                               types, args, &result));
  EXPECT_EQ(VT_R8, result.vt);
  EXPECT_DOUBLE_EQ(14.5, result.dblVal);
  EXPECT_EQ(DISP_E_BADCALLEE, DispCallFunc(nullptr, reinterpret_cast<ULONG_PTR>(&weigh),
                                           CC_FASTCALL, VT_R8, 3, types, args, &result));
  VARTYPE bad[] = {VT_RECORD};
  EXPECT_EQ(E_INVALIDARG, DispCallFunc(nullptr, reinterpret_cast<ULONG_PTR>(&weigh), CC_CDECL,
                                       VT_R8, 1, bad, args, &result));
}

// Narrow integers widened as the callee expects them, whether the call is made in registers
// (six words or fewer) or through libffi (more).
long long sum_narrow(signed char c, unsigned char b, short s, unsigned short u, int i,
                     long long ll) {
  return c + b + s + u + i + ll;
}
short shorten(int value) {
  return static_cast<short>(value);
}
long long sum_seven(short a, short b, short c, short d, short e, short f, int* g) {
  return a + b + c + d + e + f + *g;
}

TEST(DispCallFunc, PassesNarrowIntegersAndResultsWidenedRightInEitherWay) {
  VARIANT c = v_int(VT_I1, -3), b = v_int(VT_UI1, 250), s = v_int(VT_I2, -30000),
          u = v_int(VT_UI2, 60000), i = v_int(VT_I4, -2000000000), ll = v_int(VT_I8, 5000000000LL);
  VARTYPE types[] = {VT_I1, VT_UI1, VT_I2, VT_UI2, VT_I4, VT_I8};
  VARIANTARG* args[] = {&c, &b, &s, &u, &i, &ll};
  VARIANT result;
  ASSERT_EQ(S_OK, DispCallFunc(nullptr, reinterpret_cast<ULONG_PTR>(&sum_narrow), CC_CDECL, VT_I8,
                               6, types, args, &result));
  EXPECT_EQ(VT_I8, result.vt);
  EXPECT_EQ(-3 + 250 - 30000 + 60000 - 2000000000LL + 5000000000LL, result.llVal);

  VARIANT wide = v_i4(0x12348765);
  VARTYPE one[] = {VT_I4};
  VARIANTARG* wide_arg[] = {&wide};
  ASSERT_EQ(S_OK, DispCallFunc(nullptr, reinterpret_cast<ULONG_PTR>(&shorten), CC_CDECL, VT_I2, 1,
                               one, wide_arg, &result));
  EXPECT_EQ(VT_I2, result.vt);
  EXPECT_EQ(static_cast<SHORT>(0x8765), result.iVal) << "only the result's own bits count";

  int seventh = 700;
  VARIANT shorts[6];
  VARIANTARG* seven[7];
  VARTYPE seven_types[] = {VT_I2, VT_I2, VT_I2, VT_I2, VT_I2, VT_I2, VT_BYREF | VT_I4};
  for (int k = 0; k < 6; ++k) {
    shorts[k] = v_int(VT_I2, -1 - k);
    seven[k] = &shorts[k];
  }
  VARIANT pointer;
  VariantInit(&pointer);
  pointer.vt = VT_BYREF | VT_I4;
  pointer.plVal = reinterpret_cast<LONG*>(&seventh);
  seven[6] = &pointer;
  ASSERT_EQ(S_OK, DispCallFunc(nullptr, reinterpret_cast<ULONG_PTR>(&sum_seven), CC_CDECL, VT_I8, 7,
                               seven_types, seven, &result));
  EXPECT_EQ(700 - 21, result.llVal);
}

// VARIANTs by value between other arguments: two of them are passed beside the registers, more
// through libffi; each arrives whole and in its place.
int mix_variants(int a, VARIANT first, short b, VARIANT second, int* out) {
  *out = first.lVal * 1000 + second.iVal;
  return a - b;
}
long long three_variants(VARIANT x, int a, VARIANT y, VARIANT z) {
  return x.llVal + a + y.lVal + z.iVal;
}

TEST(DispCallFunc, PassesVariantsByValueBetweenOtherArguments) {
  VARIANT a = v_i4(50);
  VARIANT first = v_i4(7);
  VARIANT b = v_int(VT_I2, -8);
  VARIANT second = v_int(VT_I2, 42);
  int out = 0;
  VARIANT out_ref;
  VariantInit(&out_ref);
  out_ref.vt = VT_BYREF | VT_I4;
  out_ref.plVal = reinterpret_cast<LONG*>(&out);
  VARTYPE types[] = {VT_I4, VT_VARIANT, VT_I2, VT_VARIANT, VT_BYREF | VT_I4};
  VARIANTARG* args[] = {&a, &first, &b, &second, &out_ref};
  VARIANT result;
  ASSERT_EQ(S_OK, DispCallFunc(nullptr, reinterpret_cast<ULONG_PTR>(&mix_variants), CC_CDECL, VT_I4,
                               5, types, args, &result));
  EXPECT_EQ(58, result.lVal);
  EXPECT_EQ(7042, out);

  VARIANT x = v_int(VT_I8, 1LL << 40);
  VARTYPE three[] = {VT_VARIANT, VT_I4, VT_VARIANT, VT_VARIANT};
  VARIANTARG* three_args[] = {&x, &a, &first, &second};
  ASSERT_EQ(S_OK, DispCallFunc(nullptr, reinterpret_cast<ULONG_PTR>(&three_variants), CC_CDECL,
                               VT_I8, 4, three, three_args, &result));
  EXPECT_EQ((1LL << 40) + 50 + 7 + 42, result.llVal);
}

}  // namespace
