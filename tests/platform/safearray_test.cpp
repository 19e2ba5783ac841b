// Tests of the SAFEARRAY functions: creation per element type, bounds of several dimensions,
// element order, element ownership (strings, interfaces, variants), locking, copying, and
// short memory.
#include <gtest/gtest.h>

#include <string.h>

#include "automation_test_support.h"
#include "oleauto.h"

namespace {

using automation_test::ExpectOutOfMemorySafe;
using automation_test::FakeDispatch;
using automation_test::FakeUnknown;
using automation_test::RefCount;
using automation_test::Text;

TEST(SafeArray, CreateRecordsElementTypeSizeAndFlags) {
  struct {
    VARTYPE vt;
    UINT size;
    USHORT features;
  } const table[] = {
      {VT_UI1, 1, FADF_HAVEVARTYPE},
      {VT_I2, 2, FADF_HAVEVARTYPE},
      {VT_BOOL, 2, FADF_HAVEVARTYPE},
      {VT_I4, 4, FADF_HAVEVARTYPE},
      {VT_R8, 8, FADF_HAVEVARTYPE},
      {VT_CY, 8, FADF_HAVEVARTYPE},
      {VT_DECIMAL, 16, FADF_HAVEVARTYPE},
      {VT_BSTR, sizeof(BSTR), FADF_BSTR | FADF_HAVEVARTYPE},
      {VT_VARIANT, sizeof(VARIANT), FADF_VARIANT | FADF_HAVEVARTYPE},
      {VT_UNKNOWN, sizeof(void*), FADF_UNKNOWN | FADF_HAVEIID},
      {VT_DISPATCH, sizeof(void*), FADF_DISPATCH | FADF_HAVEIID},
  };
  for (const auto& row : table) {
    SAFEARRAYBOUND bound = {3, 0};
    for (SAFEARRAY* psa :
         {SafeArrayCreate(row.vt, 1, &bound), SafeArrayCreateVector(row.vt, 0, 3)}) {
      ASSERT_NE(nullptr, psa) << row.vt;
      EXPECT_EQ(row.size, SafeArrayGetElemsize(psa));
      EXPECT_EQ(row.features, psa->fFeatures & ~0x2000) << row.vt;
      VARTYPE vt = VT_EMPTY;
      EXPECT_EQ(S_OK, SafeArrayGetVartype(psa, &vt));
      EXPECT_EQ(row.vt, vt);
      EXPECT_EQ(0u, psa->cLocks);
      const char zeros[sizeof(VARIANT) * 3] = {};
      EXPECT_EQ(0, memcmp(psa->pvData, zeros, row.size * 3)) << "elements start zeroed";
      EXPECT_EQ(S_OK, SafeArrayDestroy(psa));
    }
  }
}

TEST(SafeArray, CreateRefusesWhatItCannotHold) {
  SAFEARRAYBOUND bound = {1, 0};
  EXPECT_EQ(nullptr, SafeArrayCreate(VT_EMPTY, 1, &bound));
  EXPECT_EQ(nullptr, SafeArrayCreate(VT_NULL, 1, &bound));
  EXPECT_EQ(nullptr, SafeArrayCreate(VT_RECORD, 1, &bound));
  EXPECT_EQ(nullptr, SafeArrayCreate(VT_I4, 0, &bound));
  EXPECT_EQ(nullptr, SafeArrayCreate(VT_I4, 1, nullptr));
  SAFEARRAYBOUND huge[2] = {{0x10000, 0}, {0x10000, 0}};
  EXPECT_EQ(nullptr, SafeArrayCreate(VT_I4, 2, huge)) << "16 GiB does not fit 32 bits";
  EXPECT_EQ(nullptr, SafeArrayCreateVector(VT_VARIANT, 0, 0x10000000));
}

TEST(SafeArray, BoundsOfEachDimensionInCreationOrder) {
  SAFEARRAYBOUND bounds[3] = {{2, -1}, {3, 10}, {0, 5}};
  SAFEARRAY* psa = SafeArrayCreate(VT_I4, 3, bounds);
  ASSERT_NE(nullptr, psa);
  EXPECT_EQ(3u, SafeArrayGetDim(psa));
  LONG lb = 0;
  LONG ub = 0;
  EXPECT_EQ(S_OK, SafeArrayGetLBound(psa, 1, &lb));
  EXPECT_EQ(S_OK, SafeArrayGetUBound(psa, 1, &ub));
  EXPECT_EQ(-1, lb);
  EXPECT_EQ(0, ub);
  EXPECT_EQ(S_OK, SafeArrayGetLBound(psa, 2, &lb));
  EXPECT_EQ(S_OK, SafeArrayGetUBound(psa, 2, &ub));
  EXPECT_EQ(10, lb);
  EXPECT_EQ(12, ub);
  EXPECT_EQ(S_OK, SafeArrayGetUBound(psa, 3, &ub));
  EXPECT_EQ(4, ub) << "an empty dimension ends one below its start";
  EXPECT_EQ(DISP_E_BADINDEX, SafeArrayGetLBound(psa, 0, &lb));
  EXPECT_EQ(DISP_E_BADINDEX, SafeArrayGetUBound(psa, 4, &ub));
  EXPECT_EQ(E_INVALIDARG, SafeArrayGetLBound(nullptr, 1, &lb));
  EXPECT_EQ(E_INVALIDARG, SafeArrayGetUBound(psa, 1, nullptr));
  EXPECT_EQ(2u, psa->rgsabound[2].cElements) << "the descriptor holds the last dimension first";
  EXPECT_EQ(S_OK, SafeArrayDestroy(psa));
  EXPECT_EQ(0u, SafeArrayGetDim(nullptr));
  EXPECT_EQ(0u, SafeArrayGetElemsize(nullptr));
}

TEST(SafeArray, FirstDimensionVariesFastest) {
  SAFEARRAYBOUND bounds[2] = {{2, 1}, {3, 0}};
  SAFEARRAY* psa = SafeArrayCreate(VT_I4, 2, bounds);
  for (LONG j = 0; j < 3; ++j) {
    for (LONG i = 1; i <= 2; ++i) {
      LONG indices[2] = {i, j};
      LONG value = 10 * j + i;
      ASSERT_EQ(S_OK, SafeArrayPutElement(psa, indices, &value));
    }
  }
  const LONG* data = static_cast<const LONG*>(psa->pvData);
  const LONG expected[6] = {1, 2, 11, 12, 21, 22};
  EXPECT_EQ(0, memcmp(expected, data, sizeof(expected)));
  LONG out = 0;
  LONG indices[2] = {2, 1};
  ASSERT_EQ(S_OK, SafeArrayGetElement(psa, indices, &out));
  EXPECT_EQ(12, out);
  LONG outside[][2] = {{0, 0}, {3, 0}, {1, -1}, {1, 3}};
  for (auto& index : outside) {
    EXPECT_EQ(DISP_E_BADINDEX, SafeArrayPutElement(psa, index, &out));
    EXPECT_EQ(DISP_E_BADINDEX, SafeArrayGetElement(psa, index, &out));
  }
  EXPECT_EQ(E_INVALIDARG, SafeArrayGetElement(psa, nullptr, &out));
  EXPECT_EQ(E_INVALIDARG, SafeArrayGetElement(psa, indices, nullptr));
  EXPECT_EQ(E_INVALIDARG, SafeArrayPutElement(psa, indices, nullptr));
  EXPECT_EQ(S_OK, SafeArrayDestroy(psa));
}

TEST(SafeArray, StringElementsAreCopiedInAndOut) {
  LONG blocks = PlatformTaskMemBlocks();
  SAFEARRAY* psa = SafeArrayCreateVector(VT_BSTR, 0, 2);
  BSTR text = SysAllocString(u"element");
  LONG i = 0;
  ASSERT_EQ(S_OK, SafeArrayPutElement(psa, &i, text));
  SysFreeString(text);  // the array holds its own copy
  ASSERT_EQ(S_OK, SafeArrayPutElement(psa, &i, text = SysAllocString(u"replaced")));
  SysFreeString(text);
  BSTR out = nullptr;
  ASSERT_EQ(S_OK, SafeArrayGetElement(psa, &i, &out));
  EXPECT_EQ(u"replaced", Text(out));
  SysFreeString(out);
  i = 1;
  ASSERT_EQ(S_OK, SafeArrayPutElement(psa, &i, nullptr)) << "a null BSTR is a valid element";
  ASSERT_EQ(S_OK, SafeArrayGetElement(psa, &i, &out));
  EXPECT_EQ(nullptr, out);
  EXPECT_EQ(S_OK, SafeArrayDestroy(psa));
  EXPECT_EQ(blocks, PlatformTaskMemBlocks());
}

TEST(SafeArray, InterfaceElementsHoldReferences) {
  FakeDispatch first;
  FakeDispatch second;
  SAFEARRAY* psa = SafeArrayCreateVector(VT_DISPATCH, 0, 1);
  LONG i = 0;
  ASSERT_EQ(S_OK, SafeArrayPutElement(psa, &i, static_cast<IDispatch*>(&first)));
  EXPECT_EQ(2u, RefCount(&first));
  ASSERT_EQ(S_OK, SafeArrayPutElement(psa, &i, static_cast<IDispatch*>(&second)));
  EXPECT_EQ(1u, RefCount(&first)) << "the replaced element was released";
  IDispatch* out = nullptr;
  ASSERT_EQ(S_OK, SafeArrayGetElement(psa, &i, &out));
  EXPECT_EQ(&second, out);
  EXPECT_EQ(3u, RefCount(&second));
  out->Release();
  EXPECT_EQ(S_OK, SafeArrayDestroy(psa));
  EXPECT_EQ(1u, RefCount(&second));

  FakeUnknown unk;
  psa = SafeArrayCreateVector(VT_UNKNOWN, 0, 1);
  ASSERT_EQ(S_OK, SafeArrayPutElement(psa, &i, static_cast<IUnknown*>(&unk)));
  EXPECT_EQ(2u, RefCount(&unk));
  EXPECT_EQ(S_OK, SafeArrayDestroy(psa));
  EXPECT_EQ(1u, RefCount(&unk));
}

TEST(SafeArray, VariantElementsAreCopied) {
  FakeDispatch disp;
  SAFEARRAY* psa = SafeArrayCreateVector(VT_VARIANT, 1, 2);
  VARIANT v;
  v.vt = VT_DISPATCH;
  v.pdispVal = &disp;
  LONG i = 1;
  ASSERT_EQ(S_OK, SafeArrayPutElement(psa, &i, &v));
  EXPECT_EQ(2u, RefCount(&disp));
  LONG blocks = PlatformTaskMemBlocks();
  VARIANT out;
  out.vt = VT_BSTR;
  out.bstrVal = SysAllocString(u"cleared first");
  ASSERT_EQ(S_OK, SafeArrayGetElement(psa, &i, &out));
  EXPECT_EQ(blocks, PlatformTaskMemBlocks()) << "the variant's old string was freed";
  EXPECT_EQ(VT_DISPATCH, out.vt);
  EXPECT_EQ(3u, RefCount(&disp));
  VariantClear(&out);
  EXPECT_EQ(S_OK, SafeArrayDestroy(psa));
  EXPECT_EQ(1u, RefCount(&disp));
}

TEST(SafeArray, LockingCountsAndADestroyedArrayMustBeUnlocked) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 0, 4);
  void* data = reinterpret_cast<void*>(1);
  ASSERT_EQ(S_OK, SafeArrayAccessData(psa, &data));
  EXPECT_EQ(psa->pvData, data);
  ASSERT_EQ(S_OK, SafeArrayLock(psa));
  EXPECT_EQ(2u, psa->cLocks);
  EXPECT_EQ(DISP_E_ARRAYISLOCKED, SafeArrayDestroy(psa));
  EXPECT_EQ(S_OK, SafeArrayUnlock(psa));
  EXPECT_EQ(DISP_E_ARRAYISLOCKED, SafeArrayDestroy(psa));
  EXPECT_EQ(S_OK, SafeArrayUnaccessData(psa));
  EXPECT_EQ(E_UNEXPECTED, SafeArrayUnlock(psa)) << "no lock left to remove";
  EXPECT_EQ(E_UNEXPECTED, SafeArrayUnaccessData(psa));
  EXPECT_EQ(E_INVALIDARG, SafeArrayLock(nullptr));
  EXPECT_EQ(E_INVALIDARG, SafeArrayUnlock(nullptr));
  EXPECT_EQ(E_INVALIDARG, SafeArrayAccessData(nullptr, &data));
  EXPECT_EQ(nullptr, data) << "the out-parameter is cleared on failure";
  EXPECT_EQ(E_INVALIDARG, SafeArrayAccessData(psa, nullptr));
  EXPECT_EQ(S_OK, SafeArrayDestroy(psa));
  EXPECT_EQ(S_OK, SafeArrayDestroy(nullptr));
}

TEST(SafeArray, LockCountHasACeiling) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 0, 1);
  ULONG taken = 0;
  while (SUCCEEDED(SafeArrayLock(psa)) && taken < 0x20000)
    ++taken;
  EXPECT_EQ(0xFFFFu, taken);
  EXPECT_EQ(E_UNEXPECTED, SafeArrayLock(psa));
  while (taken--)
    SafeArrayUnlock(psa);
  EXPECT_EQ(S_OK, SafeArrayDestroy(psa));
}

TEST(SafeArray, CopyIsDeepAndUnlocked) {
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 5}};
  SAFEARRAY* psa = SafeArrayCreate(VT_BSTR, 2, bounds);
  LONG index[2] = {1, 6};
  BSTR text = SysAllocString(u"deep");
  SafeArrayPutElement(psa, index, text);
  SysFreeString(text);
  SafeArrayLock(psa);
  SAFEARRAY* copy = reinterpret_cast<SAFEARRAY*>(1);
  ASSERT_EQ(S_OK, SafeArrayCopy(psa, &copy));
  SafeArrayUnlock(psa);
  EXPECT_EQ(0u, copy->cLocks);
  EXPECT_EQ(2u, SafeArrayGetDim(copy));
  LONG lb = 0;
  SafeArrayGetLBound(copy, 2, &lb);
  EXPECT_EQ(5, lb);
  EXPECT_EQ(S_OK, SafeArrayDestroy(psa));
  BSTR out = nullptr;
  ASSERT_EQ(S_OK, SafeArrayGetElement(copy, index, &out));
  EXPECT_EQ(u"deep", Text(out));
  SysFreeString(out);
  EXPECT_EQ(S_OK, SafeArrayDestroy(copy));

  SAFEARRAY* vector = SafeArrayCreateVector(VT_I4, 3, 2);
  for (LONG i = 3; i < 5; ++i) {
    LONG value = i * 1000 + 7;
    SafeArrayPutElement(vector, &i, &value);
  }
  ASSERT_EQ(S_OK, SafeArrayCopy(vector, &copy));
  EXPECT_EQ(S_OK, SafeArrayDestroy(vector)) << "a copy of a one-block vector has its own data";
  for (LONG i = 3; i < 5; ++i) {
    LONG value = 0;
    ASSERT_EQ(S_OK, SafeArrayGetElement(copy, &i, &value));
    EXPECT_EQ(i * 1000 + 7, value);
  }
  EXPECT_EQ(S_OK, SafeArrayDestroy(copy));

  EXPECT_EQ(S_OK, SafeArrayCopy(nullptr, &copy));
  EXPECT_EQ(nullptr, copy);
  EXPECT_EQ(E_INVALIDARG, SafeArrayCopy(nullptr, nullptr));
}

TEST(SafeArray, ShortMemoryGivesOutOfMemoryAndLeaksNothing) {
  for (VARTYPE vt : {VT_UI1, VT_VARIANT, VT_BSTR, VT_DISPATCH, VT_UNKNOWN}) {
    SCOPED_TRACE(vt);
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {3, 1}};
    ExpectOutOfMemorySafe([&] {
      SAFEARRAY* psa = SafeArrayCreate(vt, 2, bounds);
      return psa ? SafeArrayDestroy(psa) : E_OUTOFMEMORY;
    });
    ExpectOutOfMemorySafe([&] {
      SAFEARRAY* psa = SafeArrayCreateVector(vt, 0, 5);
      return psa ? SafeArrayDestroy(psa) : E_OUTOFMEMORY;
    });
  }
  FakeDispatch disp;
  SAFEARRAY* strings = SafeArrayCreateVector(VT_BSTR, 0, 3);
  SAFEARRAY* variants = SafeArrayCreateVector(VT_VARIANT, 0, 3);
  for (LONG i = 0; i < 3; ++i) {
    BSTR text = SysAllocString(u"abc");
    SafeArrayPutElement(strings, &i, text);
    VARIANT v;
    v.vt = VT_BSTR;
    v.bstrVal = text;
    if (i == 1) {
      v.vt = VT_DISPATCH;
      v.pdispVal = &disp;
    }
    SafeArrayPutElement(variants, &i, &v);
    SysFreeString(text);
  }
  for (SAFEARRAY* source : {strings, variants}) {
    ExpectOutOfMemorySafe([&] {
      SAFEARRAY* copy = nullptr;
      HRESULT hr = SafeArrayCopy(source, &copy);
      EXPECT_EQ(FAILED(hr), copy == nullptr);
      SafeArrayDestroy(copy);
      return hr;
    });
  }
  EXPECT_EQ(2u, RefCount(&disp)) << "failed copies released their references";
  LONG i = 2;
  ExpectOutOfMemorySafe([&] {
    BSTR text = nullptr;
    HRESULT hr = SafeArrayGetElement(strings, &i, &text);
    EXPECT_EQ(FAILED(hr), text == nullptr);
    SysFreeString(text);
    return hr;
  });
  ExpectOutOfMemorySafe([&] {
    VARIANT out;
    out.vt = VT_I4;
    out.lVal = 9;
    HRESULT hr = SafeArrayGetElement(variants, &i, &out);
    EXPECT_EQ(SUCCEEDED(hr) ? VT_BSTR : VT_I4, out.vt) << "all or nothing";
    VariantClear(&out);
    return hr;
  });
  BSTR fresh = SysAllocString(u"fresh");
  ExpectOutOfMemorySafe([&] { return SafeArrayPutElement(strings, &i, fresh); });
  VARIANT v;
  v.vt = VT_BSTR;
  v.bstrVal = fresh;
  ExpectOutOfMemorySafe([&] {
    const VARIANT& element = static_cast<const VARIANT*>(variants->pvData)[2];
    std::u16string before = Text(element.bstrVal);
    HRESULT hr = SafeArrayPutElement(variants, &i, &v);
    EXPECT_EQ(VT_BSTR, element.vt);
    EXPECT_EQ(SUCCEEDED(hr) ? u"fresh" : before, Text(element.bstrVal)) << "all or nothing";
    return hr;
  });
  SysFreeString(fresh);
  SafeArrayDestroy(strings);
  SafeArrayDestroy(variants);
  EXPECT_EQ(1u, RefCount(&disp));
}

}  // namespace
