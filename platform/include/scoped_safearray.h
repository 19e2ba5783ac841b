// ScopedSafeArray: owns one SAFEARRAY and destroys it. Its elements are reached only through a
// SafeArrayLockScope, which CreateLockScope gives when the array is one-dimensional, holds the
// expected element type and could be accessed; the scope's end unaccesses the data.
// SafeArrayDataScope gives the data of a borrowed array (a VARIANT's, a caller's) the same way,
// with the status of the access.
#pragma once

#include <assert.h>
#include <stddef.h>

#include <optional>
#include <utility>

// The system's headers below need windows.h first.
#include "windows.h"

#include "oleauto.h"

// The C++ type of an element of each VARTYPE that arrays hold here.
template <VARTYPE VT>
struct SafeArrayElement;
template <>
struct SafeArrayElement<VT_UI1> {
  using type = BYTE;
};
template <>
struct SafeArrayElement<VT_I2> {
  using type = SHORT;
};
template <>
struct SafeArrayElement<VT_I4> {
  using type = LONG;
};
template <>
struct SafeArrayElement<VT_UI4> {
  using type = ULONG;
};
template <>
struct SafeArrayElement<VT_R8> {
  using type = DOUBLE;
};
template <>
struct SafeArrayElement<VT_BOOL> {
  using type = VARIANT_BOOL;
};
template <>
struct SafeArrayElement<VT_BSTR> {
  using type = BSTR;
};
template <>
struct SafeArrayElement<VT_VARIANT> {
  using type = VARIANT;
};
template <>
struct SafeArrayElement<VT_DISPATCH> {
  using type = IDispatch*;
};
template <>
struct SafeArrayElement<VT_UNKNOWN> {
  using type = IUnknown*;
};

class ScopedSafeArray;

// Access to the elements of a locked one-dimensional array, for the length of a scope.
template <VARTYPE VT>
class SafeArrayLockScope {
 public:
  using value_type = typename SafeArrayElement<VT>::type;

  SafeArrayLockScope(SafeArrayLockScope&& other) noexcept
      : array_(std::exchange(other.array_, nullptr)),
        data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)) {}
  SafeArrayLockScope& operator=(SafeArrayLockScope&&) = delete;
  SafeArrayLockScope(const SafeArrayLockScope&) = delete;
  SafeArrayLockScope& operator=(const SafeArrayLockScope&) = delete;
  ~SafeArrayLockScope() {
    if (array_)
      SafeArrayUnaccessData(array_);
  }

  size_t size() const { return size_; }
  value_type* data() const { return data_; }
  value_type* begin() const { return data_; }
  value_type* end() const { return data_ + size_; }
  value_type& operator[](size_t i) const {
    assert(i < size_);
    return data_[i];
  }

 private:
  friend class ScopedSafeArray;
  SafeArrayLockScope(SAFEARRAY* array, value_type* data, size_t size)
      : array_(array), data_(data), size_(size) {}

  SAFEARRAY* array_;
  value_type* data_;
  size_t size_;
};

// Access to the data of an array the caller borrows, for the length of a scope: the status of
// SafeArrayAccessData, and the data while that succeeded. The scope's end unaccesses the data.
class SafeArrayDataScope {
 public:
  explicit SafeArrayDataScope(SAFEARRAY* array) {
    void* data = nullptr;
    status_ = array ? SafeArrayAccessData(array, &data) : E_INVALIDARG;
    if (SUCCEEDED(status_)) {
      array_ = array;
      data_ = data;
    }
  }
  SafeArrayDataScope(const SafeArrayDataScope&) = delete;
  SafeArrayDataScope& operator=(const SafeArrayDataScope&) = delete;
  ~SafeArrayDataScope() {
    if (array_)
      SafeArrayUnaccessData(array_);
  }

  HRESULT status() const { return status_; }
  // Null when the access failed.
  template <typename T = BYTE>
  T* data() const {
    return static_cast<T*>(data_);
  }

 private:
  SAFEARRAY* array_ = nullptr;
  void* data_ = nullptr;
  HRESULT status_;
};

class ScopedSafeArray {
 public:
  ScopedSafeArray() = default;
  ~ScopedSafeArray() { Reset(); }

  ScopedSafeArray(ScopedSafeArray&& other) noexcept : array_(other.Release()) {}
  ScopedSafeArray& operator=(ScopedSafeArray&& other) noexcept {
    if (this != &other)
      Reset(other.Release());
    return *this;
  }
  ScopedSafeArray(const ScopedSafeArray&) = delete;
  ScopedSafeArray& operator=(const ScopedSafeArray&) = delete;
  bool operator==(const ScopedSafeArray&) const = delete;

  // Borrows.
  SAFEARRAY* Get() const { return array_; }

  // Copies array in (SafeArrayCopy) and destroys the old one. On failure the old one is kept.
  [[nodiscard]] HRESULT Set(SAFEARRAY* array) {
    SAFEARRAY* copy = nullptr;
    HRESULT hr = SafeArrayCopy(array, &copy);
    if (SUCCEEDED(hr))
      Reset(copy);
    return hr;
  }
  // Adopts array and destroys the old one. The old one must not be locked.
  void Reset(SAFEARRAY* array = nullptr) {
    SAFEARRAY* old = std::exchange(array_, array);
    if (old && old != array) {
      HRESULT hr = SafeArrayDestroy(old);
      assert(SUCCEEDED(hr) && "a lock scope outlived its array");
      (void)hr;
    }
  }
  // Hands the array out; the holder is empty afterwards.
  [[nodiscard]] SAFEARRAY* Release() { return std::exchange(array_, nullptr); }
  // The address for an out-parameter. The holder must be empty, or the old array would leak.
  SAFEARRAY** Receive() {
    assert(!array_);
    return &array_;
  }
  void Swap(ScopedSafeArray& other) noexcept { std::swap(array_, other.array_); }

  // A lock scope over the elements when the array is one-dimensional with VT elements and its
  // data could be accessed; empty otherwise.
  template <VARTYPE VT>
  std::optional<SafeArrayLockScope<VT>> CreateLockScope() const {
    VARTYPE vt = VT_EMPTY;
    if (!array_ || SafeArrayGetDim(array_) != 1 || FAILED(SafeArrayGetVartype(array_, &vt)) ||
        vt != VT)
      return std::nullopt;
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(array_, &data)))
      return std::nullopt;
    using value_type = typename SafeArrayLockScope<VT>::value_type;
    return SafeArrayLockScope<VT>(array_, static_cast<value_type*>(data),
                                  array_->rgsabound[0].cElements);
  }

 private:
  SAFEARRAY* array_ = nullptr;
};

static_assert(sizeof(ScopedSafeArray) == sizeof(SAFEARRAY*),
              "ScopedSafeArray is exactly a SAFEARRAY pointer");
