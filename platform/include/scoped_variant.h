// ScopedVariant: owns one VARIANT and clears it. Values reach APIs as `const VARIANT&` (by-value
// parameters), AsInput() (VARIANT* parameters that are only read) or AsInOut() ([in, out]
// parameters); nothing else hands out a mutable pointer but Receive, for out-parameters.
#pragma once

#include <assert.h>
#include <string.h>

// The system's headers below need windows.h first.
#include "windows.h"

#include "oleauto.h"

class ScopedVariant {
 public:
  ScopedVariant() { VariantInit(&var_); }
  ~ScopedVariant() { VariantClear(&var_); }

  ScopedVariant(ScopedVariant&& other) noexcept : var_(other.Release()) {}
  ScopedVariant& operator=(ScopedVariant&& other) noexcept {
    if (this != &other)
      Reset(other.Release());
    return *this;
  }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
  bool operator==(const ScopedVariant&) const = delete;

  // Borrows.
  const VARIANT& Get() const { return var_; }
  operator const VARIANT&() const { return var_; }
  // For VARIANT* parameters that the callee only reads.
  VARIANT* AsInput() const { return const_cast<VARIANT*>(&var_); }
  // For [in, out] VARIANT* parameters: the callee reads the value and may replace it with one
  // that this holder then owns.
  VARIANT* AsInOut() { return &var_; }
  VARTYPE Type() const { return var_.vt; }

  // Copies value in (VariantCopy) and clears the old value. On failure the old value is kept.
  [[nodiscard]] HRESULT Set(const VARIANT& value) {
    VARIANT copy;
    VariantInit(&copy);
    // Some system headers declare the source without const; VariantCopy only reads it.
    HRESULT hr = VariantCopy(&copy, const_cast<VARIANT*>(&value));
    if (SUCCEEDED(hr))
      Reset(copy);
    return hr;
  }
  // Adopts value (it must not be used by the caller afterwards) and clears the old value.
  void Reset(const VARIANT& value) {
    VariantClear(&var_);
    var_ = value;
  }
  void Reset() { VariantClear(&var_); }
  // Hands the value out; the holder is VT_EMPTY afterwards.
  [[nodiscard]] VARIANT Release() {
    VARIANT out = var_;
    VariantInit(&var_);
    return out;
  }
  // The address for an out-parameter. The holder must hold nothing that could leak.
  VARIANT* Receive() {
    assert(!IsLeakable(var_.vt));
    return &var_;
  }
  void Swap(ScopedVariant& other) noexcept {
    VARIANT t = var_;
    var_ = other.var_;
    other.var_ = t;
  }
  // Converts the value in place (VariantChangeType); on failure it is unchanged.
  [[nodiscard]] HRESULT ChangeType(VARTYPE vt, USHORT flags = 0) {
    return VariantChangeType(&var_, &var_, flags, vt);
  }

  // True for the types whose value owns memory or a reference.
  static bool IsLeakable(VARTYPE vt) {
    if (vt & VT_BYREF)
      return false;
    if (vt & VT_ARRAY)
      return true;
    switch (vt) {
      case VT_BSTR:
      case VT_DISPATCH:
      case VT_UNKNOWN:
      case VT_RECORD:
        return true;
      default:
        return false;
    }
  }

 private:
  VARIANT var_;
};

static_assert(sizeof(ScopedVariant) == sizeof(VARIANT), "ScopedVariant is exactly a VARIANT");
