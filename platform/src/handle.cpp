// Kernel object handles (CloseHandle): files and file mappings.
#include "handleapi.h"

#include "errhandlingapi.h"
#include "handle.h"
#include "winerror.h"

BOOL CloseHandle(HANDLE hObject) {
  if (!hObject || hObject == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  auto* object = static_cast<KernelObject*>(hObject);
  const bool closed = object->Close();
  delete object;
  return closed ? TRUE : FALSE;
}
