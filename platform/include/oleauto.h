// The automation run time: BSTR functions, VARIANT functions (init, clear, copy, change type),
// SAFEARRAY functions, and the calling thread's error information.
#pragma once

#include "oaidl.h"

// wFlags of IDispatch::Invoke.
#define DISPATCH_METHOD 0x1
#define DISPATCH_PROPERTYGET 0x2
#define DISPATCH_PROPERTYPUT 0x4
#define DISPATCH_PROPERTYPUTREF 0x8

// wFlags of VariantChangeType(Ex).
#define VARIANT_NOVALUEPROP 0x01
#define VARIANT_ALPHABOOL 0x02
#define VARIANT_NOUSEROVERRIDE 0x04
#define VARIANT_CALENDAR_HIJRI 0x08
#define VARIANT_LOCALBOOL 0x10
#define VARIANT_CALENDAR_THAI 0x20
#define VARIANT_CALENDAR_GREGORIAN 0x40
#define VARIANT_USE_NLS 0x80

// ---- BSTR ----------------------------------------------------------------------------------
// A BSTR points at UTF-16 text; the DWORD just before it holds the length in bytes and a zero
// character follows it. Embedded zeros are allowed: the length is authoritative. A null BSTR
// reads as the empty string everywhere.

// SysAllocString
// Allocates a BSTR holding a copy of the zero-terminated psz.
// Returns: the BSTR; null when psz is null or memory is short.
WINAPI_EXPORT BSTR SysAllocString(const OLECHAR* psz);

// SysAllocStringLen
// Allocates a BSTR of ui characters copied from strIn.
// Params:  strIn [I] may be null: the characters are then zero; ui [I] character count.
// Returns: the BSTR, or null when memory is short or the length does not fit the prefix.
WINAPI_EXPORT BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui);

// SysAllocStringByteLen
// Allocates a BSTR of len bytes copied from psz (not converted).
// Params:  psz [I] may be null: the bytes are then zero; len [I] byte count, may be odd.
// Returns: the BSTR, or null when memory is short.
// Notes:   after the data come a zero byte and a zero character, so an odd-length BSTR is still
//          terminated.
WINAPI_EXPORT BSTR SysAllocStringByteLen(LPCSTR psz, UINT len);

// SysReAllocString
// Replaces *pbstr with a new BSTR copied from psz.
// Params:  pbstr [I/O], psz [I] may be null (gives a null BSTR) or point into *pbstr.
// Returns: TRUE; FALSE when pbstr is null or memory is short, and *pbstr is then unchanged.
WINAPI_EXPORT INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz);

// SysReAllocStringLen
// As SysReAllocString with a character count (psz may be null: zero characters).
WINAPI_EXPORT INT SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len);

// SysFreeString
// Frees a BSTR. Null is a harmless no-op.
WINAPI_EXPORT void SysFreeString(BSTR bstrString);

// SysStringLen
// Returns the length of bstr in characters (its byte length / 2); 0 for null.
WINAPI_EXPORT UINT SysStringLen(BSTR bstr);

// SysStringByteLen
// Returns the length of bstr in bytes; 0 for null.
WINAPI_EXPORT UINT SysStringByteLen(BSTR bstr);

// ---- VARIANT -------------------------------------------------------------------------------

// VariantInit
// Makes pvarg an empty variant (VT_EMPTY). Nothing it held is freed.
WINAPI_EXPORT void VariantInit(VARIANTARG* pvarg);

// VariantClear
// Frees what pvarg owns and leaves it VT_EMPTY.
// Params:  pvarg [I/O].
// Returns: S_OK.
//          E_INVALIDARG         pvarg is null.
//          DISP_E_BADVARTYPE    vt is not a valid variant type; pvarg is left alone.
//          DISP_E_ARRAYISLOCKED an owned array is locked; the variant is still set to VT_EMPTY.
// Notes:   by-reference values are never freed: they belong to someone else.
WINAPI_EXPORT HRESULT VariantClear(VARIANTARG* pvarg);

// VariantCopy
// Frees pvargDest, then makes it a copy of pvargSrc: BSTRs and arrays are copied deeply,
// interfaces are AddRef'd, by-reference values copy only the pointer.
// Params:  pvargDest [I/O], pvargSrc [I].
// Returns: S_OK (also when both are the same variant).
//          E_INVALIDARG       a pointer is null.
//          DISP_E_BADVARTYPE  pvargSrc has an invalid type, or is VT_CLSID.
//          E_OUTOFMEMORY      memory is short; pvargDest is then VT_EMPTY.
//          DISP_E_ARRAYISLOCKED  freeing a locked array held by pvargDest failed.
WINAPI_EXPORT HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc);

// VariantCopyInd
// As VariantCopy, but a by-reference source is copied as the value it points to.
// Returns: as VariantCopy, and E_INVALIDARG for an invalid by-reference type or a
//          VT_VARIANT|VT_BYREF that points at another VT_VARIANT|VT_BYREF.
// Notes:   pvargDest may be pvargSrc: the variant is then dereferenced in place. The value is
//          copied before pvargDest is freed (the platform frees first), so the source may point
//          at pvargDest; on failure pvargDest is unchanged.
WINAPI_EXPORT HRESULT VariantCopyInd(VARIANT* pvargDest, const VARIANTARG* pvargSrc);

// VariantChangeType
// VariantChangeTypeEx with the user's default locale.
WINAPI_EXPORT HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc,
                                        USHORT wFlags, VARTYPE vt);

// VariantChangeTypeEx
// Converts pvargSrc to type vt into pvargDest.
// Params:  pvargDest [I/O] may be pvargSrc (converted in place); lcid [I]; wFlags [I]
//          VARIANT_ flags; vt [I] the type wanted (by-reference types are not).
// Returns: S_OK, and pvargDest->vt is vt.
//          E_INVALIDARG         a pointer is null.
//          DISP_E_BADVARTYPE    the source or target type is invalid, or vt is VT_CLSID.
//          DISP_E_TYPEMISMATCH  the value cannot be expressed in type vt.
//          DISP_E_OVERFLOW      the value is out of the range of type vt.
//          E_OUTOFMEMORY        memory is short.
// Notes:   pvargDest is changed only on success. Text is read and written in the ANSI code
//          page's characters with a '.' decimal point, whatever lcid says. A VT_DISPATCH source
//          is converted through its default member (DISPID_VALUE) unless VARIANT_NOVALUEPROP.
WINAPI_EXPORT HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc,
                                          LCID lcid, USHORT wFlags, VARTYPE vt);

// ---- SAFEARRAY -----------------------------------------------------------------------------

// SafeArrayCreate
// Creates an array of cDims dimensions with zeroed elements of type vt.
// Params:  vt [I] element type; cDims [I] >= 1; rgsabound [I] bounds, first dimension first.
// Returns: the array, or null for an unsupported vt, no dimension, null bounds, a size that does
//          not fit 32 bits, or short memory.
WINAPI_EXPORT SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound);

// SafeArrayCreateVector
// Creates a one-dimensional array of cElements elements from lLbound, in one block.
// Returns: the array, or null as for SafeArrayCreate.
WINAPI_EXPORT SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements);

// SafeArrayDestroy
// Frees the elements (BSTRs, interfaces, variants) and the array.
// Returns: S_OK, also for null.
//          DISP_E_ARRAYISLOCKED  the array is locked; nothing is freed.
WINAPI_EXPORT HRESULT SafeArrayDestroy(SAFEARRAY* psa);

// SafeArrayLock / SafeArrayUnlock
// Counts a lock on the array's data; a locked array cannot be destroyed.
// Returns: S_OK.
//          E_INVALIDARG  psa is null.
//          E_UNEXPECTED  too many locks (Lock), or no lock to remove (Unlock).
WINAPI_EXPORT HRESULT SafeArrayLock(SAFEARRAY* psa);
WINAPI_EXPORT HRESULT SafeArrayUnlock(SAFEARRAY* psa);

// SafeArrayAccessData
// Locks the array and gives the address of its data.
// Params:  psa [I], ppvData [O] null on failure.
// Returns: S_OK; E_INVALIDARG for a null pointer; E_UNEXPECTED as SafeArrayLock.
WINAPI_EXPORT HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData);

// SafeArrayUnaccessData
// Removes the lock of SafeArrayAccessData. Returns as SafeArrayUnlock.
WINAPI_EXPORT HRESULT SafeArrayUnaccessData(SAFEARRAY* psa);

// SafeArrayGetDim
// Returns the number of dimensions of psa; 0 for null.
WINAPI_EXPORT UINT SafeArrayGetDim(SAFEARRAY* psa);

// SafeArrayGetElemsize
// Returns the size of one element of psa in bytes; 0 for null.
WINAPI_EXPORT UINT SafeArrayGetElemsize(SAFEARRAY* psa);

// SafeArrayGetLBound / SafeArrayGetUBound
// Returns the lower / upper bound of dimension nDim (1-based, first dimension is 1) of psa.
// Params:  psa [I], nDim [I], plLbound / plUbound [O].
// Returns: S_OK.
//          E_INVALIDARG     psa or the out-pointer is null.
//          DISP_E_BADINDEX  nDim is 0 or greater than the dimension count.
// Notes:   the upper bound of an empty dimension is its lower bound - 1.
WINAPI_EXPORT HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound);
WINAPI_EXPORT HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound);

// SafeArrayGetVartype
// Gives the element type of psa.
// Returns: S_OK; E_INVALIDARG when a pointer is null or the array does not record its type.
WINAPI_EXPORT HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt);

// SafeArrayPutElement
// Stores a copy of the value at pv into the element at rgIndices (one index per dimension,
// first dimension first): a BSTR is copied, an interface AddRef'd, a VARIANT VariantCopy'd.
// Params:  psa [I/O], rgIndices [I], pv [I] points at the value (for BSTR and interface
//          elements: is the BSTR or interface pointer itself).
// Returns: S_OK.
//          E_INVALIDARG     a pointer is null.
//          DISP_E_BADINDEX  an index is out of bounds.
//          E_OUTOFMEMORY    memory is short; the element keeps its old value.
WINAPI_EXPORT HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);

// SafeArrayGetElement
// Copies the element at rgIndices to pv (BSTR copied, interface AddRef'd, VARIANT copied);
// the caller owns the copy.
// Returns: as SafeArrayPutElement; on failure nothing is owned by pv.
WINAPI_EXPORT HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);

// SafeArrayCopy
// Makes a deep copy of psa (unlocked, with its own data).
// Params:  psa [I] may be null (the copy is then null); ppsaOut [O] null on failure.
// Returns: S_OK; E_INVALIDARG when ppsaOut is null; E_OUTOFMEMORY.
WINAPI_EXPORT HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut);

// ---- Error information ---------------------------------------------------------------------

// SetErrorInfo
// Makes perrinfo (AddRef'd; may be null) the calling thread's error information, releasing the
// one it had.
// Returns: S_OK; E_INVALIDARG when dwReserved is not 0.
WINAPI_EXPORT HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo);

// GetErrorInfo
// Hands the calling thread's error information to the caller and clears it.
// Params:  dwReserved [I] 0; pperrinfo [O] the caller releases it; null when there is none.
// Returns: S_OK; S_FALSE when there is none; E_INVALIDARG when dwReserved is not 0 or
//          pperrinfo is null.
WINAPI_EXPORT HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo);

// CreateErrorInfo
// Creates an empty error object; it answers ICreateErrorInfo and IErrorInfo.
// Returns: S_OK; E_INVALIDARG when pperrinfo is null; E_OUTOFMEMORY.
WINAPI_EXPORT HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo);

// ---- Type libraries and dispatch through type information -----------------------------------

typedef enum tagREGKIND { REGKIND_DEFAULT, REGKIND_REGISTER, REGKIND_NONE } REGKIND;

// LoadTypeLib
// Loads a type library: from the TYPELIB resource of a module (resource 1, or N for a path
// ending in "\N"), or from an interface description file.
// Params:  szFile [I] path in the system's namespace; pptlib [O].
// Returns: S_OK; E_INVALIDARG for null arguments; TYPE_E_CANTLOADLIBRARY when the file or its
//          resource cannot be read or does not describe a library (the reason, with its line,
//          goes to the platform trace channel); E_OUTOFMEMORY.
WINAPI_EXPORT HRESULT LoadTypeLib(LPCOLESTR szFile, ITypeLib** pptlib);

// LoadTypeLibEx
// LoadTypeLib, registering the library too for REGKIND_REGISTER.
WINAPI_EXPORT HRESULT LoadTypeLibEx(LPCOLESTR szFile, REGKIND regkind, ITypeLib** pptlib);

// LoadRegTypeLib
// Loads the registered type library rguid of version wVerMajor.wVerMinor, found under
// HKEY_CLASSES_ROOT\TypeLib\{rguid}\<major>.<minor>\<lcid>\win64 (lcid 0 as the fallback).
// Returns: S_OK; TYPE_E_LIBNOTREGISTERED when no such registration exists; the status of
//          LoadTypeLib for the registered path.
WINAPI_EXPORT HRESULT LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                                     ITypeLib** pptlib);

// RegisterTypeLib
// Writes the library's registration (TypeLib\{libid}\<version>, with its path, flags and help
// directory) and, for every dual or automation interface, Interface\{iid} with its TypeLib.
// Returns: S_OK; E_INVALIDARG; TYPE_E_REGISTRYACCESS when the registry refuses.
WINAPI_EXPORT HRESULT RegisterTypeLib(ITypeLib* ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir);

// UnRegisterTypeLib
// Removes what RegisterTypeLib wrote for that library version.
// Returns: S_OK; TYPE_E_REGISTRYACCESS when the library is not registered.
WINAPI_EXPORT HRESULT UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                                        SYSKIND syskind);

// DispInvoke
// Calls ptinfo->Invoke(_this, ...): the IDispatch::Invoke of an object described by ptinfo.
WINAPI_EXPORT HRESULT DispInvoke(void* _this, ITypeInfo* ptinfo, DISPID dispidMember, WORD wFlags,
                                 DISPPARAMS* pparams, VARIANT* pvarResult, EXCEPINFO* pexcepinfo,
                                 UINT* puArgErr);

// DispGetIDsOfNames
// Calls ptinfo->GetIDsOfNames.
WINAPI_EXPORT HRESULT DispGetIDsOfNames(ITypeInfo* ptinfo, OLECHAR** rgszNames, UINT cNames,
                                        DISPID* rgdispid);

// DispCallFunc
// Calls the vtable member at byte offset oVft of pvInstance (or the function at oVft when
// pvInstance is null) with cActuals arguments.
// Params:  cc [I] CC_STDCALL or CC_CDECL (the same on this ABI); vtReturn [I] type of the
//          result; prgvt [I] argument types; prgpvarg [I] argument values: for VT_VARIANT the
//          whole VARIANT is passed by value, otherwise its value field; pvargResult [O].
// Returns: S_OK (the member's own status is in pvargResult); E_INVALIDARG for an argument type
//          that cannot be passed; DISP_E_BADCALLEE for an unknown calling convention.
WINAPI_EXPORT HRESULT DispCallFunc(void* pvInstance, ULONG_PTR oVft, CALLCONV cc, VARTYPE vtReturn,
                                   UINT cActuals, VARTYPE* prgvt, VARIANTARG** prgpvarg,
                                   VARIANT* pvargResult);
