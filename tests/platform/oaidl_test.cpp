// Tests of the automation layouts: vtable slots of the interfaces in the platform's order, and
// the VARIANT, DECIMAL, SAFEARRAY and structure layouts that callers and call interfaces use.
#include <gtest/gtest.h>

#include <stddef.h>
#include <string.h>

#include <type_traits>

#include "oaidl.h"
#include "oleauto.h"

namespace {

// The vtable slot of a virtual member: on this ABI a pointer to a virtual member holds
// 1 + the byte offset of its slot.
template <typename M>
size_t Slot(M member) {
  static_assert(sizeof(member) == 2 * sizeof(void*));
  uintptr_t repr[2];
  memcpy(repr, &member, sizeof(repr));
  EXPECT_EQ(1u, repr[0] % sizeof(void*)) << "not a virtual member";
  return (repr[0] - 1) / sizeof(void*);
}

TEST(InterfaceLayout, MembersSitInThePlatformsSlots) {
  EXPECT_EQ(0u,
            Slot(static_cast<HRESULT (IUnknown::*)(REFIID, void**)>(&IUnknown::QueryInterface)));
  EXPECT_EQ(1u, Slot(&IUnknown::AddRef));
  EXPECT_EQ(2u, Slot(&IUnknown::Release));

  EXPECT_EQ(3u, Slot(&IClassFactory::CreateInstance));
  EXPECT_EQ(4u, Slot(&IClassFactory::LockServer));

  EXPECT_EQ(3u, Slot(&IDispatch::GetTypeInfoCount));
  EXPECT_EQ(4u, Slot(&IDispatch::GetTypeInfo));
  EXPECT_EQ(5u, Slot(&IDispatch::GetIDsOfNames));
  EXPECT_EQ(6u, Slot(&IDispatch::Invoke));

  EXPECT_EQ(3u, Slot(&IEnumVARIANT::Next));
  EXPECT_EQ(4u, Slot(&IEnumVARIANT::Skip));
  EXPECT_EQ(5u, Slot(&IEnumVARIANT::Reset));
  EXPECT_EQ(6u, Slot(&IEnumVARIANT::Clone));

  EXPECT_EQ(3u, Slot(&IErrorInfo::GetGUID));
  EXPECT_EQ(4u, Slot(&IErrorInfo::GetSource));
  EXPECT_EQ(5u, Slot(&IErrorInfo::GetDescription));
  EXPECT_EQ(6u, Slot(&IErrorInfo::GetHelpFile));
  EXPECT_EQ(7u, Slot(&IErrorInfo::GetHelpContext));

  EXPECT_EQ(3u, Slot(&ICreateErrorInfo::SetGUID));
  EXPECT_EQ(4u, Slot(&ICreateErrorInfo::SetSource));
  EXPECT_EQ(5u, Slot(&ICreateErrorInfo::SetDescription));
  EXPECT_EQ(6u, Slot(&ICreateErrorInfo::SetHelpFile));
  EXPECT_EQ(7u, Slot(&ICreateErrorInfo::SetHelpContext));

  EXPECT_EQ(3u, Slot(&ISupportErrorInfo::InterfaceSupportsErrorInfo));
}

// No virtual destructor (it would add slots), and nobody deletes through an interface pointer.
static_assert(!std::has_virtual_destructor_v<IUnknown>);
static_assert(!std::has_virtual_destructor_v<IDispatch>);
static_assert(!std::is_destructible_v<IUnknown>);
static_assert(!std::is_destructible_v<IErrorInfo>);
static_assert(sizeof(IDispatch) == sizeof(void*), "an interface is a vtable pointer");

TEST(VariantLayout, FieldsSitAtThePlatformsOffsets) {
  EXPECT_EQ(24u, sizeof(VARIANT));
  EXPECT_EQ(0u, offsetof(VARIANT, vt));
  EXPECT_EQ(2u, offsetof(VARIANT, wReserved1));
  EXPECT_EQ(8u, offsetof(VARIANT, llVal));
  EXPECT_EQ(8u, offsetof(VARIANT, bstrVal));
  EXPECT_EQ(8u, offsetof(VARIANT, pvRecord));
  EXPECT_EQ(16u, offsetof(VARIANT, pRecInfo));
  EXPECT_EQ(0u, offsetof(VARIANT, decVal));
  static_assert(std::is_trivially_copyable_v<VARIANT> && std::is_standard_layout_v<VARIANT>);
}

TEST(VariantLayout, DecimalOverlaysTheTypeWithItsReservedWord) {
  VARIANT v;
  VariantInit(&v);
  v.decVal.scale = 2;
  v.decVal.sign = DECIMAL_NEG;
  v.decVal.Hi32 = 1;
  v.decVal.Lo64 = 12345;
  v.vt = VT_DECIMAL;
  EXPECT_EQ(VT_DECIMAL, v.decVal.wReserved);
  EXPECT_EQ(2, v.decVal.scale);
  EXPECT_EQ(12345u, v.decVal.Lo64);
  EXPECT_EQ(12345u, v.decVal.Lo32);
  EXPECT_EQ(1u, v.decVal.Hi32);
}

TEST(StructureLayout, SafeArrayDispParamsExcepInfoAndCurrency) {
  EXPECT_EQ(0u, offsetof(SAFEARRAY, cDims));
  EXPECT_EQ(2u, offsetof(SAFEARRAY, fFeatures));
  EXPECT_EQ(4u, offsetof(SAFEARRAY, cbElements));
  EXPECT_EQ(8u, offsetof(SAFEARRAY, cLocks));
  EXPECT_EQ(16u, offsetof(SAFEARRAY, pvData));
  EXPECT_EQ(24u, offsetof(SAFEARRAY, rgsabound));
  EXPECT_EQ(24u, sizeof(DISPPARAMS));
  EXPECT_EQ(16u, offsetof(DISPPARAMS, cArgs));
  EXPECT_EQ(8u, offsetof(EXCEPINFO, bstrSource));
  EXPECT_EQ(56u, offsetof(EXCEPINFO, scode));
  EXPECT_EQ(64u, sizeof(EXCEPINFO));
  CY cy;
  cy.int64 = -2;
  EXPECT_EQ(0xFFFFFFFEu, cy.Lo);
  EXPECT_EQ(-1, cy.Hi);
}

TEST(Constants, ValuesOfThePlatform) {
  EXPECT_EQ(0x4000, VT_BYREF);
  EXPECT_EQ(0x2000, VT_ARRAY);
  EXPECT_EQ(0x0FFF, VT_TYPEMASK);
  EXPECT_EQ(36, VT_RECORD);
  EXPECT_EQ(72, VT_CLSID);
  EXPECT_EQ(-4, DISPID_NEWENUM);
  EXPECT_EQ(-3, DISPID_PROPERTYPUT);
  EXPECT_EQ(-1, VARIANT_TRUE);
  EXPECT_EQ(0x0800, FADF_VARIANT);
  EXPECT_EQ(0xF008, FADF_RESERVED);
}

}  // namespace
