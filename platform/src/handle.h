// Kernel objects behind HANDLE values: each handle is a pointer to one heap object of a class
// derived from KernelObject, released by CloseHandle.
#pragma once

#define PLATFORM_HIDDEN __attribute__((visibility("hidden")))

class PLATFORM_HIDDEN KernelObject {
 public:
  KernelObject() = default;
  KernelObject(const KernelObject&) = delete;
  KernelObject& operator=(const KernelObject&) = delete;
  virtual ~KernelObject() = default;
  // Lets go of what the object holds before it is deleted. False when that failed (a file whose
  // delayed writes did not reach the disk), with the thread's last error set.
  virtual bool Close() { return true; }
};
