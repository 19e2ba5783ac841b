// SAFEARRAY functions: SafeArrayCreate, SafeArrayCreateVector, SafeArrayDestroy, SafeArrayLock,
// SafeArrayUnlock, SafeArrayAccessData, SafeArrayUnaccessData, SafeArrayGetDim,
// SafeArrayGetElemsize, SafeArrayGetLBound, SafeArrayGetUBound, SafeArrayGetVartype,
// SafeArrayPutElement, SafeArrayGetElement, SafeArrayCopy.
//
// Block layout of an array made here (one task-memory block for the descriptor):
//   offset  size        contents
//   0       16          hidden header: the element IID (FADF_HAVEIID), or the element VARTYPE
//                       as a DWORD in its last 4 bytes (FADF_HAVEVARTYPE)
//   16      24 + 8*n    the SAFEARRAY descriptor; the SAFEARRAY* points here. rgsabound holds
//                       the n bounds in reverse order: the last dimension first
//   48      data        SafeArrayCreateVector only: the elements follow in the same block
// SafeArrayCreate allocates the elements in a second block. Elements are stored with the first
// dimension varying fastest. Sizes are limited to 32 bits, as the system's interfaces are.
#include "oleauto.h"

#include <string.h>

#include <atomic>

#include "objbase.h"
#include "oleaut_private.h"

// Undocumented flag, as on the platform: descriptor and data share one block.
#define FADF_CREATEVECTOR 0x2000

namespace {

constexpr size_t kHidden = 16;
constexpr ULONG kMaxLocks = 0xFFFF;
constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFu;

UINT element_size(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_R4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR:
      return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_DATE:
    case VT_CY:
      return 8;
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_UNKNOWN:
    case VT_INT_PTR:
    case VT_UINT_PTR:
      return sizeof(void*);
    case VT_DECIMAL:
      return sizeof(DECIMAL);
    case VT_VARIANT:
      return sizeof(VARIANT);
    default:
      // Records and everything else are not supported as elements here.
      return 0;
  }
}

size_t descriptor_size(UINT dims) {
  return offsetof(SAFEARRAY, rgsabound) + dims * sizeof(SAFEARRAYBOUND);
}

BYTE* block_of(SAFEARRAY* psa) {
  return reinterpret_cast<BYTE*>(psa) - kHidden;
}

// Number of elements, or false when the data would not fit 32 bits.
bool cell_count(const SAFEARRAY* psa, uint64_t* cells) {
  uint64_t n = 1;
  for (UINT d = 0; d < psa->cDims; ++d) {
    n *= psa->rgsabound[d].cElements;
    if (n * psa->cbElements > kMaxDataBytes)
      return false;
  }
  *cells = n;
  return true;
}

// A descriptor (hidden header included) for dims dimensions of vt elements; extra bytes are
// added at its end. Null for an unsupported vt or short memory.
SAFEARRAY* alloc_descriptor(VARTYPE vt, UINT dims, size_t extra) {
  UINT size = element_size(vt);
  if (size == 0 || dims == 0 || dims > 0xFFFF)
    return nullptr;
  size_t bytes = kHidden + descriptor_size(dims) + extra;
  BYTE* block = static_cast<BYTE*>(task_mem_alloc_zeroed(bytes));
  if (!block)
    return nullptr;
  SAFEARRAY* psa = reinterpret_cast<SAFEARRAY*>(block + kHidden);
  psa->cDims = static_cast<USHORT>(dims);
  psa->cbElements = size;
  switch (vt) {
    case VT_BSTR:
      psa->fFeatures = FADF_BSTR | FADF_HAVEVARTYPE;
      break;
    case VT_VARIANT:
      psa->fFeatures = FADF_VARIANT | FADF_HAVEVARTYPE;
      break;
    case VT_UNKNOWN:
      psa->fFeatures = FADF_UNKNOWN | FADF_HAVEIID;
      break;
    case VT_DISPATCH:
      psa->fFeatures = FADF_DISPATCH | FADF_HAVEIID;
      break;
    default:
      psa->fFeatures = FADF_HAVEVARTYPE;
      break;
  }
  if (vt == VT_UNKNOWN)
    memcpy(block, &IID_IUnknown, sizeof(IID));
  if (vt == VT_DISPATCH)
    memcpy(block, &IID_IDispatch, sizeof(IID));
  if (psa->fFeatures & FADF_HAVEVARTYPE) {
    DWORD stored = vt;
    memcpy(block + kHidden - sizeof(DWORD), &stored, sizeof(stored));
  }
  return psa;
}

// Frees what the elements own (strings, references, variant contents) and zeroes them.
void clear_elements(SAFEARRAY* psa) {
  if (!psa->pvData)
    return;
  uint64_t cells = 0;
  cell_count(psa, &cells);
  if (psa->fFeatures & FADF_BSTR) {
    BSTR* p = static_cast<BSTR*>(psa->pvData);
    for (uint64_t i = 0; i < cells; ++i)
      SysFreeString(p[i]), p[i] = nullptr;
  } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
    IUnknown** p = static_cast<IUnknown**>(psa->pvData);
    for (uint64_t i = 0; i < cells; ++i) {
      if (p[i])
        p[i]->Release();
      p[i] = nullptr;
    }
  } else if (psa->fFeatures & FADF_VARIANT) {
    VARIANT* p = static_cast<VARIANT*>(psa->pvData);
    for (uint64_t i = 0; i < cells; ++i)
      VariantClear(&p[i]);
  }
}

// The address of the element at indices (first dimension first), or null when an index is out
// of bounds.
BYTE* element_at(SAFEARRAY* psa, const LONG* indices) {
  uint64_t cell = 0;
  uint64_t stride = 1;
  for (UINT d = 0; d < psa->cDims; ++d) {
    const SAFEARRAYBOUND& bound = psa->rgsabound[psa->cDims - 1 - d];
    int64_t offset = static_cast<int64_t>(indices[d]) - bound.lLbound;
    if (offset < 0 || offset >= static_cast<int64_t>(bound.cElements))
      return nullptr;
    cell += static_cast<uint64_t>(offset) * stride;
    stride *= bound.cElements;
  }
  return static_cast<BYTE*>(psa->pvData) + cell * psa->cbElements;
}

// Copies the element at src into the zeroed element at dest.
HRESULT copy_element(const SAFEARRAY* psa, BYTE* dest, const BYTE* src) {
  if (psa->fFeatures & FADF_BSTR) {
    BSTR from;
    memcpy(&from, src, sizeof(from));
    if (!from)
      return S_OK;
    BSTR copy = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(from), SysStringByteLen(from));
    if (!copy)
      return oom_fault();
    memcpy(dest, &copy, sizeof(copy));
  } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
    IUnknown* unk;
    memcpy(&unk, src, sizeof(unk));
    if (unk)
      unk->AddRef();
    memcpy(dest, &unk, sizeof(unk));
  } else if (psa->fFeatures & FADF_VARIANT) {
    return VariantCopy(reinterpret_cast<VARIANT*>(dest), reinterpret_cast<const VARIANT*>(src));
  } else {
    memcpy(dest, src, psa->cbElements);
  }
  return S_OK;
}

// Locks psa for the length of a scope.
class ScopedLock {
 public:
  explicit ScopedLock(SAFEARRAY* psa) : psa_(psa), hr_(SafeArrayLock(psa)) {}
  ~ScopedLock() {
    if (SUCCEEDED(hr_))
      SafeArrayUnlock(psa_);
  }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;
  HRESULT status() const { return hr_; }

 private:
  SAFEARRAY* psa_;
  HRESULT hr_;
};

}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) {
  if (!rgsabound)
    return nullptr;
  SAFEARRAY* psa = alloc_descriptor(vt, cDims, 0);
  if (!psa)
    return nullptr;
  for (UINT d = 0; d < cDims; ++d)
    psa->rgsabound[d] = rgsabound[cDims - 1 - d];
  uint64_t cells = 0;
  if (!cell_count(psa, &cells)) {
    CoTaskMemFree(block_of(psa));
    return nullptr;
  }
  size_t bytes = static_cast<size_t>(cells * psa->cbElements);
  psa->pvData = task_mem_alloc_zeroed(bytes);
  if (!psa->pvData) {
    CoTaskMemFree(block_of(psa));
    return nullptr;
  }
  return psa;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
  UINT size = element_size(vt);
  if (size == 0 || static_cast<uint64_t>(cElements) * size > kMaxDataBytes)
    return nullptr;
  // The data starts 16-byte aligned right after the one-dimension descriptor.
  size_t head = (descriptor_size(1) + 15) & ~size_t{15};
  size_t bytes = static_cast<size_t>(cElements) * size;
  SAFEARRAY* psa = alloc_descriptor(vt, 1, head - descriptor_size(1) + bytes);
  if (!psa)
    return nullptr;
  psa->fFeatures |= FADF_CREATEVECTOR;
  psa->rgsabound[0].cElements = cElements;
  psa->rgsabound[0].lLbound = lLbound;
  psa->pvData = reinterpret_cast<BYTE*>(psa) + head;
  return psa;
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
  if (!psa)
    return S_OK;
  if (std::atomic_ref<ULONG>(psa->cLocks).load() > 0) {
    OLEAUT_TRACE("array is locked");
    return DISP_E_ARRAYISLOCKED;
  }
  clear_elements(psa);
  const USHORT caller_owned = FADF_AUTO | FADF_STATIC | FADF_EMBEDDED;
  if (!(psa->fFeatures & (caller_owned | FADF_CREATEVECTOR)))
    CoTaskMemFree(psa->pvData);
  psa->pvData = nullptr;
  if (!(psa->fFeatures & caller_owned))
    CoTaskMemFree(block_of(psa));
  return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* psa) {
  if (!psa)
    return E_INVALIDARG;
  std::atomic_ref<ULONG> locks(psa->cLocks);
  if (locks.fetch_add(1) >= kMaxLocks) {
    locks.fetch_sub(1);
    return E_UNEXPECTED;
  }
  return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* psa) {
  if (!psa)
    return E_INVALIDARG;
  std::atomic_ref<ULONG> locks(psa->cLocks);
  ULONG current = locks.load();
  do {
    if (current == 0)
      return E_UNEXPECTED;
  } while (!locks.compare_exchange_weak(current, current - 1));
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
  if (ppvData)
    *ppvData = nullptr;
  if (!psa || !ppvData)
    return E_INVALIDARG;
  HRESULT hr = SafeArrayLock(psa);
  if (SUCCEEDED(hr))
    *ppvData = psa->pvData;
  return hr;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) {
  return SafeArrayUnlock(psa);
}

UINT SafeArrayGetDim(SAFEARRAY* psa) {
  return psa ? psa->cDims : 0;
}

UINT SafeArrayGetElemsize(SAFEARRAY* psa) {
  return psa ? psa->cbElements : 0;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
  if (!psa || !plLbound)
    return E_INVALIDARG;
  if (nDim == 0 || nDim > psa->cDims)
    return DISP_E_BADINDEX;
  *plLbound = psa->rgsabound[psa->cDims - nDim].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
  if (!psa || !plUbound)
    return E_INVALIDARG;
  if (nDim == 0 || nDim > psa->cDims)
    return DISP_E_BADINDEX;
  const SAFEARRAYBOUND& bound = psa->rgsabound[psa->cDims - nDim];
  *plUbound = static_cast<LONG>(static_cast<int64_t>(bound.lLbound) + bound.cElements - 1);
  return S_OK;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
  if (!psa || !pvt)
    return E_INVALIDARG;
  if (psa->fFeatures & FADF_HAVEVARTYPE) {
    DWORD stored;
    memcpy(&stored, block_of(psa) + kHidden - sizeof(DWORD), sizeof(stored));
    *pvt = static_cast<VARTYPE>(stored);
  } else if (psa->fFeatures & FADF_BSTR) {
    *pvt = VT_BSTR;
  } else if (psa->fFeatures & FADF_DISPATCH) {
    *pvt = VT_DISPATCH;
  } else if (psa->fFeatures & FADF_UNKNOWN) {
    *pvt = VT_UNKNOWN;
  } else if (psa->fFeatures & FADF_VARIANT) {
    *pvt = VT_VARIANT;
  } else {
    return E_INVALIDARG;
  }
  return S_OK;
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
  if (!psa || !rgIndices)
    return E_INVALIDARG;
  // For string and interface elements pv is the value itself, and null is a valid one.
  bool pointer_elements = psa->fFeatures & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH);
  if (!pv && !pointer_elements)
    return E_INVALIDARG;
  BYTE* cell = element_at(psa, rgIndices);
  if (!cell)
    return DISP_E_BADINDEX;
  ScopedLock lock(psa);
  if (FAILED(lock.status()))
    return lock.status();

  if (psa->fFeatures & FADF_BSTR) {
    BSTR from = static_cast<BSTR>(pv);
    BSTR copy = nullptr;
    if (from &&
        !(copy = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(from), SysStringByteLen(from))))
      return oom_fault();
    BSTR old;
    memcpy(&old, cell, sizeof(old));
    SysFreeString(old);
    memcpy(cell, &copy, sizeof(copy));
  } else if (pointer_elements) {
    IUnknown* fresh = static_cast<IUnknown*>(pv);
    if (fresh)
      fresh->AddRef();
    IUnknown* old;
    memcpy(&old, cell, sizeof(old));
    memcpy(cell, &fresh, sizeof(fresh));
    if (old)
      old->Release();
  } else if (psa->fFeatures & FADF_VARIANT) {
    // Copy aside first, so that the element keeps its value when the copy fails.
    VARIANT copy;
    VariantInit(&copy);
    HRESULT hr = VariantCopy(&copy, static_cast<const VARIANT*>(pv));
    if (FAILED(hr))
      return hr;
    VARIANT* target = reinterpret_cast<VARIANT*>(cell);
    hr = VariantClear(target);
    if (FAILED(hr)) {
      VariantClear(&copy);
      return hr;
    }
    *target = copy;
  } else {
    memcpy(cell, pv, psa->cbElements);
  }
  return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
  if (!psa || !rgIndices || !pv)
    return E_INVALIDARG;
  BYTE* cell = element_at(psa, rgIndices);
  if (!cell)
    return DISP_E_BADINDEX;
  ScopedLock lock(psa);
  if (FAILED(lock.status()))
    return lock.status();
  if (psa->fFeatures & FADF_VARIANT) {
    // As on the platform, a VARIANT at pv is cleared before it receives the copy, so it must be
    // initialised; here the copy is made first, so that pv is unchanged on failure.
    VARIANT copy;
    VariantInit(&copy);
    HRESULT hr = VariantCopy(&copy, reinterpret_cast<const VARIANT*>(cell));
    if (FAILED(hr))
      return hr;
    hr = VariantClear(static_cast<VARIANT*>(pv));
    if (FAILED(hr)) {
      VariantClear(&copy);
      return hr;
    }
    *static_cast<VARIANT*>(pv) = copy;
    return S_OK;
  }
  // Strings and interfaces: pv is an out-parameter, and what it held is not released.
  BYTE* out = static_cast<BYTE*>(pv);
  if (psa->fFeatures & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH))
    memset(out, 0, sizeof(void*));
  return copy_element(psa, out, cell);
}

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
  if (!ppsaOut)
    return E_INVALIDARG;
  *ppsaOut = nullptr;
  if (!psa)
    return S_OK;
  uint64_t cells = 0;
  if (!cell_count(psa, &cells) || (cells && !psa->pvData))
    return E_INVALIDARG;
  size_t head = kHidden + descriptor_size(psa->cDims);
  BYTE* block = static_cast<BYTE*>(CoTaskMemAlloc(head));
  if (!block)
    return oom_fault();
  memcpy(block, block_of(psa), head);
  SAFEARRAY* copy = reinterpret_cast<SAFEARRAY*>(block + kHidden);
  copy->fFeatures &= ~(FADF_AUTO | FADF_STATIC | FADF_EMBEDDED | FADF_CREATEVECTOR);
  copy->cLocks = 0;
  size_t bytes = static_cast<size_t>(cells * psa->cbElements);
  copy->pvData = CoTaskMemAlloc(bytes);
  if (!copy->pvData) {
    CoTaskMemFree(block);
    return oom_fault();
  }
  const BYTE* from = static_cast<const BYTE*>(psa->pvData);
  BYTE* to = static_cast<BYTE*>(copy->pvData);
  // Plain data (bytes, numbers, records of them) is copied in one piece.
  if (!(psa->fFeatures & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH | FADF_VARIANT))) {
    if (bytes)
      memcpy(to, from, bytes);
    *ppsaOut = copy;
    return S_OK;
  }
  memset(copy->pvData, 0, bytes);
  for (uint64_t i = 0; i < cells; ++i) {
    HRESULT hr = copy_element(psa, to + i * psa->cbElements, from + i * psa->cbElements);
    if (FAILED(hr)) {
      // The elements not yet copied are zero, so destroying the partial copy is safe.
      SafeArrayDestroy(copy);
      return hr;
    }
  }
  *ppsaOut = copy;
  return S_OK;
}
