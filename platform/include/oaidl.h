// Automation data structures and interfaces: VARIANT, DISPPARAMS, EXCEPINFO, the DISPID_
// constants, and IDispatch, IEnumVARIANT, IErrorInfo, ICreateErrorInfo, ISupportErrorInfo with
// their identifiers. ITypeInfo and IRecordInfo are only named here.
#pragma once

#include "unknwn.h"
#include "wtypes.h"

class ITypeInfo;
class IRecordInfo;
class IDispatch;

typedef LONG DISPID;
typedef DISPID MEMBERID;

#define DISPID_UNKNOWN (-1)
#define DISPID_VALUE 0
#define DISPID_PROPERTYPUT (-3)
#define DISPID_NEWENUM (-4)
#define DISPID_EVALUATE (-5)
#define DISPID_CONSTRUCTOR (-6)
#define DISPID_DESTRUCTOR (-7)
#define DISPID_COLLECT (-8)

// A tagged value. Layout: vt at offset 0, three reserved words, the value union at offset 8;
// decVal overlays the first 16 bytes. Trivially copyable, so that it can be passed by value
// through a call interface described as a plain structure.
typedef struct tagVARIANT {
  union {
    struct {
      VARTYPE vt;
      WORD wReserved1;
      WORD wReserved2;
      WORD wReserved3;
      union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        FLOAT fltVal;
        DOUBLE dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        CY cyVal;
        DATE date;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        SAFEARRAY* parray;
        BYTE* pbVal;
        SHORT* piVal;
        LONG* plVal;
        LONGLONG* pllVal;
        FLOAT* pfltVal;
        DOUBLE* pdblVal;
        VARIANT_BOOL* pboolVal;
        SCODE* pscode;
        CY* pcyVal;
        DATE* pdate;
        BSTR* pbstrVal;
        IUnknown** ppunkVal;
        IDispatch** ppdispVal;
        SAFEARRAY** pparray;
        struct tagVARIANT* pvarVal;
        PVOID byref;
        CHAR cVal;
        USHORT uiVal;
        ULONG ulVal;
        ULONGLONG ullVal;
        INT intVal;
        UINT uintVal;
        DECIMAL* pdecVal;
        CHAR* pcVal;
        USHORT* puiVal;
        ULONG* pulVal;
        ULONGLONG* pullVal;
        INT* pintVal;
        UINT* puintVal;
        struct {
          PVOID pvRecord;
          IRecordInfo* pRecInfo;
        };
      };
    };
    DECIMAL decVal;
  };
} VARIANT;
typedef VARIANT VARIANTARG;
typedef VARIANT* LPVARIANT;
typedef VARIANT* LPVARIANTARG;

static_assert(sizeof(VARIANT) == 24, "VARIANT is 24 bytes on this ABI");
static_assert(__is_trivially_copyable(VARIANT) && __is_standard_layout(VARIANT),
              "VARIANT must be passable by value as a plain structure");
static_assert(__builtin_offsetof(VARIANT, vt) == 0 && __builtin_offsetof(VARIANT, lVal) == 8 &&
                  __builtin_offsetof(VARIANT, pRecInfo) == 16,
              "VARIANT layout");

// Arguments of IDispatch::Invoke: rgvarg holds them last argument first.
typedef struct tagDISPPARAMS {
  VARIANTARG* rgvarg;
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
} DISPPARAMS;

// What a member that failed with DISP_E_EXCEPTION reports; wCode or scode is set, not both.
typedef struct tagEXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  PVOID pvReserved;
  HRESULT(STDMETHODCALLTYPE* pfnDeferredFillIn)(struct tagEXCEPINFO*);
  SCODE scode;
} EXCEPINFO;
typedef EXCEPINFO* LPEXCEPINFO;

PLATFORM_EXTERN_C PLATFORM_API const IID IID_IDispatch;
PLATFORM_EXTERN_C PLATFORM_API const IID IID_ITypeInfo;
PLATFORM_EXTERN_C PLATFORM_API const IID IID_ITypeLib;
PLATFORM_EXTERN_C PLATFORM_API const IID IID_IEnumVARIANT;
PLATFORM_EXTERN_C PLATFORM_API const IID IID_IErrorInfo;
PLATFORM_EXTERN_C PLATFORM_API const IID IID_ICreateErrorInfo;
PLATFORM_EXTERN_C PLATFORM_API const IID IID_ISupportErrorInfo;

class IDispatch : public IUnknown {
 public:
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames,
                                                  LCID lcid, DISPID* rgDispId) = 0;
  virtual HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid,
                                           WORD wFlags, DISPPARAMS* pDispParams,
                                           VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                                           UINT* puArgErr) = 0;

 protected:
  ~IDispatch() = default;
};
typedef IDispatch* LPDISPATCH;
PLATFORM_DECLARE_IID(IDispatch, IID_IDispatch);

class IEnumVARIANT : public IUnknown {
 public:
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, VARIANT* rgVar, ULONG* pCeltFetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** ppEnum) = 0;

 protected:
  ~IEnumVARIANT() = default;
};
PLATFORM_DECLARE_IID(IEnumVARIANT, IID_IEnumVARIANT);

class IErrorInfo : public IUnknown {
 public:
  virtual HRESULT STDMETHODCALLTYPE GetGUID(GUID* pGUID) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSource(BSTR* pBstrSource) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDescription(BSTR* pBstrDescription) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* pBstrHelpFile) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* pdwHelpContext) = 0;

 protected:
  ~IErrorInfo() = default;
};
PLATFORM_DECLARE_IID(IErrorInfo, IID_IErrorInfo);

class ICreateErrorInfo : public IUnknown {
 public:
  virtual HRESULT STDMETHODCALLTYPE SetGUID(REFGUID rguid) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetSource(LPOLESTR szSource) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDescription(LPOLESTR szDescription) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetHelpFile(LPOLESTR szHelpFile) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetHelpContext(DWORD dwHelpContext) = 0;

 protected:
  ~ICreateErrorInfo() = default;
};
PLATFORM_DECLARE_IID(ICreateErrorInfo, IID_ICreateErrorInfo);

class ISupportErrorInfo : public IUnknown {
 public:
  // S_OK when the interface riid reports errors through error information, else S_FALSE.
  virtual HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) = 0;

 protected:
  ~ISupportErrorInfo() = default;
};
PLATFORM_DECLARE_IID(ISupportErrorInfo, IID_ISupportErrorInfo);
