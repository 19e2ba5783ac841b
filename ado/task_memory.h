// TaskMemory: owns one block of task memory (CoTaskMemAlloc), which the fault simulator can
// fail like every allocation of ours. Move-only; frees its block when it goes.
#pragma once

#include <utility>

#include "objbase.h"

class TaskMemory {
 public:
  TaskMemory() = default;
  ~TaskMemory() { CoTaskMemFree(data_); }
  TaskMemory(TaskMemory&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
  TaskMemory& operator=(TaskMemory&& other) noexcept {
    if (this != &other) {
      CoTaskMemFree(std::exchange(data_, std::exchange(other.data_, nullptr)));
      size_ = std::exchange(other.size_, 0);
    }
    return *this;
  }
  TaskMemory(const TaskMemory&) = delete;
  TaskMemory& operator=(const TaskMemory&) = delete;

  // A block of at least bytes bytes, the old contents gone; false (and the old block kept) when
  // it cannot be had. A block already large enough is kept.
  [[nodiscard]] bool Reserve(size_t bytes) {
    if (data_ && bytes <= size_)
      return true;
    void* block = CoTaskMemAlloc(bytes ? bytes : 1);
    if (!block)
      return false;
    CoTaskMemFree(std::exchange(data_, block));
    size_ = bytes;
    return true;
  }

  template <class T = void>
  T* Get() const {
    return static_cast<T*>(data_);
  }

 private:
  void* data_ = nullptr;
  size_t size_ = 0;
};
