// Component object services: identifier text (StringFromGUID2, CLSIDFromString, IIDFromString)
// and the task memory allocator that BSTRs, SAFEARRAYs and out-parameters are allocated from.
#pragma once

#include "unknwn.h"

#define CO_E_IIDSTRING ((HRESULT)0x800401F4)

// Characters of a GUID's text form, braces and terminator included.
#define CHARS_IN_GUID 39

// CoTaskMemAlloc
// Allocates cb bytes of task memory, which any module may free with CoTaskMemFree.
// Params:  cb [I] byte count; 0 still gives a distinct block.
// Returns: the block, or null when memory is short.
// Notes:   the block is not cleared.
WINAPI_EXPORT LPVOID CoTaskMemAlloc(SIZE_T cb);

// CoTaskMemRealloc
// Resizes a block of task memory.
// Params:  pv [I] a block of CoTaskMemAlloc or null; cb [I] the new size.
// Returns: the moved or grown block; null on failure, and pv is then left as it was.
// Notes:   a null pv allocates; a cb of 0 with a block frees it and returns null.
WINAPI_EXPORT LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb);

// CoTaskMemFree
// Frees a block of task memory. Null is a harmless no-op.
WINAPI_EXPORT void CoTaskMemFree(LPVOID pv);

// StringFromGUID2
// Writes the text form {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX} (upper case) of rguid.
// Params:  rguid [I], lpsz [O], cchMax [I] room in characters.
// Returns: the characters written including the terminator (39); 0 when cchMax is too small
//          or lpsz is null (nothing is written then).
WINAPI_EXPORT int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);

// CLSIDFromString
// Reads a class identifier from its braced text form.
// Params:  lpsz [I], pclsid [O].
// Returns: S_OK; a null lpsz gives CLSID_NULL and S_OK.
//          E_INVALIDARG      pclsid is null.
//          CO_E_CLASSSTRING  the text is not a braced identifier; *pclsid is CLSID_NULL.
// Notes:   the platform also looks a program identifier up in the registry here; this one
//          reads identifier text only.
WINAPI_EXPORT HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid);

// IIDFromString
// Reads an interface identifier from its braced text form.
// Params:  lpsz [I], lpiid [O].
// Returns: S_OK; a null lpsz gives IID_NULL and S_OK.
//          E_INVALIDARG    lpiid is null, or the text is not 38 characters long.
//          CO_E_IIDSTRING  the text has the length but not the form; *lpiid is IID_NULL.
WINAPI_EXPORT HRESULT IIDFromString(LPCOLESTR lpsz, LPIID lpiid);
