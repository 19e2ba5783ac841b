// Globally unique identifiers: GUID and its IID/CLSID spellings, the reference types that
// interface methods take, and comparison.
#pragma once

#include <string.h>

#include "windef.h"

typedef struct _GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} GUID;

typedef GUID IID;
typedef GUID CLSID;
typedef GUID FMTID;
typedef GUID* LPGUID;
typedef IID* LPIID;
typedef CLSID* LPCLSID;

// Interface methods take identifiers by reference, which the ABI passes as a pointer.
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;

static_assert(sizeof(GUID) == 16, "GUID is 16 bytes");

// IsEqualGUID
// Returns TRUE when the two identifiers are the same 16 bytes.
inline BOOL IsEqualGUID(REFGUID a, REFGUID b) { return memcmp(&a, &b, sizeof(GUID)) == 0; }
inline BOOL IsEqualIID(REFIID a, REFIID b) { return IsEqualGUID(a, b); }
inline BOOL IsEqualCLSID(REFCLSID a, REFCLSID b) { return IsEqualGUID(a, b); }

inline bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b) != FALSE; }
inline bool operator!=(REFGUID a, REFGUID b) { return !(a == b); }

// The all-zero identifier.
PLATFORM_EXTERN_C PLATFORM_API const GUID GUID_NULL;
#define IID_NULL GUID_NULL
#define CLSID_NULL GUID_NULL
