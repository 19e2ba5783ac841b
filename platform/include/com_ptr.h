// ComPtr<T>: owns one reference to an interface. Queries build their result in a ComPtr through
// IID_PPV_ARGS(p.Receive()), and a function hands its result out with `return p.CopyTo(out);`
// as its last statement, so every other path releases the reference.
#pragma once

#include <assert.h>

#include <utility>

// The system's headers below need windows.h first.
#include "windows.h"

#include "unknwn.h"

template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { Reset(); }

  ComPtr(ComPtr&& other) noexcept : p_(other.Release()) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other)
      Reset(other.Release());
    return *this;
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  bool operator==(const ComPtr&) const = delete;

  // Borrows: the reference stays here.
  T* Get() const { return p_; }
  T* operator->() const {
    assert(p_);
    return p_;
  }
  explicit operator bool() const { return p_ != nullptr; }

  // Copies in: takes a new reference to p and drops the old one.
  void Set(T* p) {
    if (p)
      p->AddRef();
    Reset(p);
  }
  // Adopts the reference p already carries and drops the old one.
  void Reset(T* p = nullptr) {
    T* old = p_;
    p_ = p;
    if (old)
      old->Release();
  }
  // Hands the reference out; this holder is empty afterwards.
  [[nodiscard]] T* Release() { return std::exchange(p_, nullptr); }
  // The address for an out-parameter. The holder must be empty, or the old reference would leak.
  T** Receive() {
    assert(!p_);
    return &p_;
  }
  void Swap(ComPtr& other) noexcept { std::swap(p_, other.p_); }

  // Gives the caller its own reference (null when empty). Returns S_OK; E_POINTER for null out.
  HRESULT CopyTo(T** out) const {
    if (!out)
      return E_POINTER;
    *out = p_;
    if (p_)
      p_->AddRef();
    return S_OK;
  }
  // Queries for interface U into the empty *out. E_POINTER when this holder is empty.
  template <typename U>
  HRESULT As(ComPtr<U>* out) const {
    if (!p_)
      return E_POINTER;
    return p_->QueryInterface(IID_PPV_ARGS(out->Receive()));
  }

 private:
  T* p_ = nullptr;
};
