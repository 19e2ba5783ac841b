// ScopedBstr: owns one BSTR and frees it. No constructor adopts a raw BSTR (adopting is spelled
// Reset), and allocation is an explicit call whose result the caller checks.
#pragma once

#include <assert.h>

#include <utility>

// The system's headers below need windows.h first.
#include "windows.h"

#include "oleauto.h"

class ScopedBstr {
 public:
  ScopedBstr() = default;
  // A raw BSTR is never adopted by construction; text is copied only through Allocate.
  ScopedBstr(OLECHAR*) = delete;
  ScopedBstr(const OLECHAR*) = delete;
  ~ScopedBstr() { SysFreeString(bstr_); }

  ScopedBstr(ScopedBstr&& other) noexcept : bstr_(other.Release()) {}
  ScopedBstr& operator=(ScopedBstr&& other) noexcept {
    if (this != &other)
      Reset(other.Release());
    return *this;
  }
  ScopedBstr(const ScopedBstr&) = delete;
  ScopedBstr& operator=(const ScopedBstr&) = delete;
  bool operator==(const ScopedBstr&) const = delete;

  // Borrows: null reads as the empty string.
  BSTR Get() const { return bstr_; }
  UINT Length() const { return SysStringLen(bstr_); }
  UINT ByteLength() const { return SysStringByteLen(bstr_); }

  // Copies text in (null text gives an empty string) and frees the old string. Returns the new
  // BSTR, or null when memory is short; the old string is then kept.
  [[nodiscard]] BSTR Allocate(const OLECHAR* text) {
    return Adopt(text ? SysAllocString(text) : SysAllocStringLen(nullptr, 0));
  }
  // As Allocate, for length characters of text (zeros when text is null).
  [[nodiscard]] BSTR AllocateLen(const OLECHAR* text, UINT length) {
    return Adopt(SysAllocStringLen(text, length));
  }
  // As Allocate, for count bytes (zeros when bytes is null); the length may be odd.
  [[nodiscard]] BSTR AllocateBytes(const void* bytes, UINT count) {
    return Adopt(SysAllocStringByteLen(static_cast<LPCSTR>(bytes), count));
  }

  // Adopts bstr and frees the old string.
  void Reset(BSTR bstr = nullptr) {
    BSTR old = std::exchange(bstr_, bstr);
    if (old != bstr)
      SysFreeString(old);
  }
  // Hands the string out; the holder is empty afterwards.
  [[nodiscard]] BSTR Release() { return std::exchange(bstr_, nullptr); }
  // The address for an out-parameter. The holder must be empty, or the old string would leak.
  BSTR* Receive() {
    assert(!bstr_);
    return &bstr_;
  }
  void Swap(ScopedBstr& other) noexcept { std::swap(bstr_, other.bstr_); }

 private:
  BSTR Adopt(BSTR fresh) {
    if (fresh)
      Reset(fresh);
    return fresh;
  }

  BSTR bstr_ = nullptr;
};

static_assert(sizeof(ScopedBstr) == sizeof(BSTR), "ScopedBstr is exactly a BSTR");
