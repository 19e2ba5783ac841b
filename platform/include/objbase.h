// Component object services: identifier text (StringFromGUID2, CLSIDFromString, IIDFromString)
// the task memory allocator that BSTRs, SAFEARRAYs and out-parameters are allocated from, and
// activation: apartments, class objects and instances of registered in-process classes.
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

// ---- Activation ----------------------------------------------------------------------------

typedef enum tagCLSCTX {
  CLSCTX_INPROC_SERVER = 0x1,
  CLSCTX_INPROC_HANDLER = 0x2,
  CLSCTX_LOCAL_SERVER = 0x4,
  CLSCTX_REMOTE_SERVER = 0x10,
  CLSCTX_SERVER = 0x15,
  CLSCTX_ALL = 0x17
} CLSCTX;

typedef enum tagCOINIT {
  COINIT_MULTITHREADED = 0x0,
  COINIT_APARTMENTTHREADED = 0x2,
  COINIT_DISABLE_OLE1DDE = 0x4,
  COINIT_SPEED_OVER_MEMORY = 0x8
} COINIT;

typedef struct _COSERVERINFO COSERVERINFO;

// CoInitializeEx / CoInitialize
// Enters the calling thread into the object run time; calls nest.
// Returns: S_OK for the first call on the thread, S_FALSE for a nested one.
// Notes:   the apartment kind is recorded only; objects of apartment classes are called on the
//          thread that created them by their users, as the host does.
WINAPI_EXPORT HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
WINAPI_EXPORT HRESULT CoInitialize(LPVOID pvReserved);

// CoUninitialize
// Leaves the run time once for each CoInitialize(Ex) of the thread.
WINAPI_EXPORT void CoUninitialize(void);

// CoGetClassObject
// Loads the in-process server of class rclsid (HKEY_CLASSES_ROOT\CLSID\{rclsid}\InprocServer32)
// once per process and asks its DllGetClassObject for riid.
// Returns: S_OK; E_INVALIDARG; CO_E_NOTINITIALIZED when the thread has not called
//          CoInitialize(Ex); REGDB_E_CLASSNOTREG when the class or its server path is not
//          registered, or no in-process context was asked for; CO_E_DLLNOTFOUND when the
//          module cannot be loaded; CO_E_ERRORINDLL when it has no DllGetClassObject; the
//          status of DllGetClassObject otherwise.
WINAPI_EXPORT HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext,
                                       COSERVERINFO* pServerInfo, REFIID riid, LPVOID* ppv);

// CoCreateInstance
// CoGetClassObject for IClassFactory, then IClassFactory::CreateInstance(pUnkOuter, riid).
// Returns: S_OK; E_POINTER for a null ppv; the statuses of those two calls.
WINAPI_EXPORT HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext,
                                       REFIID riid, LPVOID* ppv);

// CLSIDFromProgID
// The class of a ProgID: HKEY_CLASSES_ROOT\<lpszProgID>\CLSID.
// Returns: S_OK; E_INVALIDARG; CO_E_CLASSSTRING when the ProgID is not registered or its
//          CLSID text is malformed.
WINAPI_EXPORT HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid);

// ProgIDFromCLSID
// The ProgID of a class: HKEY_CLASSES_ROOT\CLSID\{clsid}\ProgID, in task memory.
// Returns: S_OK; E_INVALIDARG; REGDB_E_CLASSNOTREG; E_OUTOFMEMORY.
WINAPI_EXPORT HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID);

// StringFromCLSID
// The text form of a GUID, braces included, in task memory. Returns S_OK, E_OUTOFMEMORY.
WINAPI_EXPORT HRESULT StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz);

// CoFreeUnusedLibraries
// Unloads every in-process server that activation loaded and whose DllCanUnloadNow answers
// S_OK.
WINAPI_EXPORT void CoFreeUnusedLibraries(void);
