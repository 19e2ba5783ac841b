// What every provider shares.
#include "database.h"

#include "oleauto.h"

ULONGLONG ByteArraySize(SAFEARRAY* array) {
  ULONGLONG total = 1;
  for (UINT d = 1; d <= SafeArrayGetDim(array); ++d) {
    LONG lower = 0;
    LONG upper = -1;
    SafeArrayGetLBound(array, d, &lower);
    SafeArrayGetUBound(array, d, &upper);
    total *= upper >= lower ? static_cast<ULONGLONG>(upper - lower + 1) : 0;
  }
  return SafeArrayGetDim(array) ? total : 0;
}
