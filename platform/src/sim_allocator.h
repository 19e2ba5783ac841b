// An allocator for the platform's standard containers that consults the fault simulator before
// each allocation, so tests can fail any allocation of the registry and its script interpreter
// and check that the API boundary turns the std::bad_alloc into an out-of-memory status.
#pragma once

#include <cstddef>
#include <memory>
#include <new>

#include "faultsim.h"

template <typename T>
struct SimAllocator {
  using value_type = T;

  SimAllocator() noexcept = default;
  template <typename U>
  SimAllocator(const SimAllocator<U>&) noexcept {}

  T* allocate(std::size_t n) {
    if (FaultSimStep())
      throw std::bad_alloc();
    return std::allocator<T>().allocate(n);
  }
  void deallocate(T* p, std::size_t n) noexcept { std::allocator<T>().deallocate(p, n); }

  template <typename U>
  bool operator==(const SimAllocator<U>&) const noexcept {
    return true;
  }
};
