// The properties of a parameter and the pieces AppendChunk adds to its value.
#include "parameter.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "database.h"
#include "faultsim.h"
#include "scoped_safearray.h"

namespace {

HRESULT fail(HRESULT hr, const char16_t* description) {
  return ReportAdoError(CLSID_Command, IID__Parameter, hr, description);
}

const VARIANT& through_references(const VARIANT& value) {
  const VARIANT* v = &value;
  while (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal)
    v = v->pvarVal;
  return *v;
}

bool is_missing(const VARIANT& value) {
  return value.vt == VT_ERROR && value.scode == DISP_E_PARAMNOTFOUND;
}

constexpr ULONGLONG kMaxValueBytes = 0x7FFFFFFF;

// A copy of the one-dimensional byte array in chunk into *out, bounds kept, as VariantCopyInd
// makes it but in one block copy: the platform's array copy clears the block and then copies
// it element by element, which for a long blob costs more than its write into the database.
// Any other array is left to VariantCopyInd.
HRESULT copy_chunk(const VARIANT& chunk, VARIANT* out) {
  SAFEARRAY* source = (chunk.vt & VT_BYREF) ? *chunk.pparray : chunk.parray;
  if (!source || SafeArrayGetDim(source) != 1 || source->cbElements != 1)
    return VariantCopyInd(out, &chunk);
  const SafeArrayDataScope from(source);
  const SAFEARRAYBOUND bound = source->rgsabound[0];
  // An array whose data cannot be reached: the platform's copy decides.
  if (FAILED(from.status()) || (!from.data() && bound.cElements))
    return VariantCopyInd(out, &chunk);
  ScopedSafeArray copy;
  copy.Reset(SafeArrayCreateVector(VT_UI1, bound.lLbound, bound.cElements));
  if (copy.Get() && bound.cElements) {
    const std::optional<SafeArrayLockScope<VT_UI1>> to = copy.CreateLockScope<VT_UI1>();
    if (to)
      std::memcpy(to->data(), from.data(), bound.cElements);
    else
      copy.Reset();
  }
  if (!copy.Get())
    return E_OUTOFMEMORY;
  out->vt = VT_ARRAY | VT_UI1;
  out->parray = copy.Release();
  return S_OK;
}

}  // namespace

ParameterObject::~ParameterObject() {
  DiscardPending();
}

void ParameterObject::DiscardPending() {
  CoTaskMemFree(pending_);
  pending_ = nullptr;
  pending_size_ = pending_capacity_ = 0;
  pending_kind_ = ChunkKind::kNone;
}

HRESULT ParameterObject::AppendToPending(ChunkKind kind, const void* data, ULONGLONG bytes) {
  if (pending_kind_ == ChunkKind::kNone) {
    // The second chunk: the value so far moves into the buffer first.
    const VARIANT& value = value_.Get();
    const void* old = nullptr;
    ULONGLONG old_bytes = 0;
    std::optional<SafeArrayDataScope> locked;
    if (kind == ChunkKind::kBytes) {
      old_bytes = ByteArraySize(value.parray);
      if (old_bytes) {
        locked.emplace(value.parray);
        if (FAILED(locked->status()))
          return fail(AdoErrorStatus(adErrDataConversion), u"The value cannot be read.");
        old = locked->data();
      }
    } else {
      old = value.bstrVal;
      old_bytes = SysStringByteLen(value.bstrVal);
    }
    const ULONGLONG capacity = 2 * (old_bytes + bytes);
    pending_ = capacity <= kMaxValueBytes + 1 && !FaultSimStep()
                   ? static_cast<BYTE*>(CoTaskMemAlloc(static_cast<SIZE_T>(capacity)))
                   : nullptr;
    if (pending_ && old_bytes)
      std::memcpy(pending_, old, old_bytes);
    locked.reset();
    if (!pending_)
      return fail(E_OUTOFMEMORY, u"Out of memory.");
    pending_capacity_ = capacity;
    pending_size_ = old_bytes;
    pending_kind_ = kind;
    value_.Reset();
  } else if (pending_size_ + bytes > pending_capacity_) {
    const ULONGLONG capacity = std::max(2 * pending_capacity_, pending_size_ + bytes);
    void* grown = CoTaskMemRealloc(pending_, static_cast<SIZE_T>(capacity));
    if (!grown)
      return fail(E_OUTOFMEMORY, u"Out of memory.");
    pending_ = static_cast<BYTE*>(grown);
    pending_capacity_ = capacity;
  }
  if (bytes)
    std::memcpy(pending_ + pending_size_, data, bytes);
  pending_size_ += bytes;
  return S_OK;
}

HRESULT ParameterObject::PrepareValue() {
  if (pending_kind_ == ChunkKind::kNone)
    return S_OK;
  VARIANT joined;
  VariantInit(&joined);
  if (pending_kind_ == ChunkKind::kBytes) {
    const HRESULT hr = NewByteArray(pending_, static_cast<ULONG>(pending_size_), &joined.parray);
    if (hr == E_OUTOFMEMORY)
      return fail(hr, u"Out of memory.");
    if (FAILED(hr))
      return fail(hr, u"The value cannot be stored in an array.");
    joined.vt = VT_ARRAY | VT_UI1;
  } else {
    joined.vt = VT_BSTR;
    joined.bstrVal =
        SysAllocStringByteLen(reinterpret_cast<LPCSTR>(pending_), static_cast<UINT>(pending_size_));
    if (!joined.bstrVal)
      return fail(E_OUTOFMEMORY, u"Out of memory.");
  }
  value_.Reset(joined);
  DiscardPending();
  return S_OK;
}

HRESULT ParameterObject::get_Name(BSTR* pbstr) {
  if (!pbstr)
    return E_POINTER;
  *pbstr = SysAllocStringLen(name_.Get(), name_.Length());
  return *pbstr ? S_OK : fail(E_OUTOFMEMORY, u"Out of memory.");
}

HRESULT ParameterObject::put_Name(BSTR pbstr) {
  return name_.AllocateLen(pbstr, SysStringLen(pbstr)) ? S_OK
                                                       : fail(E_OUTOFMEMORY, u"Out of memory.");
}

HRESULT ParameterObject::get_Value(VARIANT* pvar) {
  if (!pvar)
    return E_POINTER;
  VariantInit(pvar);
  HRESULT hr = PrepareValue();
  if (FAILED(hr))
    return hr;
  hr = VariantCopy(pvar, &value_.Get());
  return FAILED(hr) ? fail(hr, u"Out of memory.") : S_OK;
}

HRESULT ParameterObject::put_Value(VARIANT pvar) {
  const VARIANT& given = through_references(pvar);
  if (is_missing(given)) {
    DiscardPending();
    value_.Reset();
    return S_OK;
  }
  ScopedVariant copy;
  HRESULT hr = VariantCopyInd(copy.Receive(), &given);
  if (FAILED(hr))
    return fail(hr, u"The value cannot be copied.");
  DiscardPending();
  value_.Swap(copy);
  return S_OK;
}

HRESULT ParameterObject::get_Type(DataTypeEnum* psDataType) {
  if (!psDataType)
    return E_POINTER;
  *psDataType = type_;
  return S_OK;
}

HRESULT ParameterObject::put_Type(DataTypeEnum psDataType) {
  type_ = psDataType;
  // Long types take their value in chunks.
  if (psDataType == adLongVarBinary || psDataType == adLongVarChar || psDataType == adLongVarWChar)
    attributes_ |= adParamLong;
  return S_OK;
}

HRESULT ParameterObject::put_Direction(ParameterDirectionEnum plParmDirection) {
  if (plParmDirection < adParamUnknown || plParmDirection > adParamReturnValue)
    return fail(AdoErrorStatus(adErrInvalidArgument), u"Unknown parameter direction.");
  direction_ = plParmDirection;
  return S_OK;
}

HRESULT ParameterObject::get_Direction(ParameterDirectionEnum* plParmDirection) {
  if (!plParmDirection)
    return E_POINTER;
  *plParmDirection = direction_;
  return S_OK;
}

HRESULT ParameterObject::put_Size(LONGLONG pl) {
  if (pl < 0)
    return fail(AdoErrorStatus(adErrInvalidArgument), u"The size is negative.");
  size_ = pl;
  return S_OK;
}

HRESULT ParameterObject::get_Size(LONGLONG* pl) {
  if (!pl)
    return E_POINTER;
  *pl = size_;
  return S_OK;
}

HRESULT ParameterObject::AppendChunk(VARIANT Val) {
  const VARIANT& chunk = through_references(Val);
  if (chunk.vt == VT_EMPTY || chunk.vt == VT_NULL || is_missing(chunk))
    return S_OK;
  ChunkKind kind = ChunkKind::kNone;
  if (chunk.vt == (VT_ARRAY | VT_UI1) || chunk.vt == (VT_BYREF | VT_ARRAY | VT_UI1))
    kind = ChunkKind::kBytes;
  else if (chunk.vt == VT_BSTR || chunk.vt == (VT_BYREF | VT_BSTR))
    kind = ChunkKind::kText;
  else
    return fail(AdoErrorStatus(adErrDataConversion), u"AppendChunk takes bytes or text.");
  const VARTYPE have = value_.Type();
  ChunkKind held = ChunkKind::kNone;
  if (pending_kind_ != ChunkKind::kNone)
    held = pending_kind_;
  else if (have == (VT_ARRAY | VT_UI1))
    held = ChunkKind::kBytes;
  else if (have == VT_BSTR)
    held = ChunkKind::kText;
  else if (have != VT_EMPTY && have != VT_NULL)
    return fail(AdoErrorStatus(adErrDataConversion), u"Chunks cannot be added to this value.");
  if (held != ChunkKind::kNone && held != kind)
    return fail(AdoErrorStatus(adErrDataConversion), kind == ChunkKind::kBytes
                                                         ? u"Bytes cannot be added to text."
                                                         : u"Text cannot be added to bytes.");
  if (held == ChunkKind::kNone) {
    // The first chunk becomes the value (a copy: the caller keeps its own).
    ScopedVariant copy;
    HRESULT hr = kind == ChunkKind::kBytes ? copy_chunk(chunk, copy.Receive())
                                           : VariantCopyInd(copy.Receive(), &chunk);
    if (FAILED(hr))
      return fail(hr, u"Out of memory.");
    value_.Swap(copy);
    return S_OK;
  }
  const void* data = nullptr;
  ULONGLONG bytes = 0;
  std::optional<SafeArrayDataScope> locked;
  if (kind == ChunkKind::kBytes) {
    SAFEARRAY* source = (chunk.vt & VT_BYREF) ? *chunk.pparray : chunk.parray;
    bytes = source ? ByteArraySize(source) : 0;
    if (bytes) {
      locked.emplace(source);
      if (FAILED(locked->status()))
        return fail(AdoErrorStatus(adErrDataConversion), u"The chunk cannot be read.");
      data = locked->data();
    }
  } else {
    BSTR text = chunk.vt == VT_BSTR ? chunk.bstrVal : *chunk.pbstrVal;
    data = text;
    bytes = SysStringByteLen(text);
  }
  const ULONGLONG have_bytes = pending_kind_ != ChunkKind::kNone ? pending_size_
                               : kind == ChunkKind::kBytes ? ByteArraySize(value_.Get().parray)
                                                           : SysStringByteLen(value_.Get().bstrVal);
  return bytes > kMaxValueBytes - have_bytes
             ? fail(AdoErrorStatus(adErrDataConversion), u"The value would exceed 2 GiB.")
             : AppendToPending(kind, data, bytes);
}

HRESULT ParameterObject::get_Attributes(LONG* plParmAttribs) {
  if (!plParmAttribs)
    return E_POINTER;
  *plParmAttribs = attributes_;
  return S_OK;
}

HRESULT ParameterObject::put_Attributes(LONG plParmAttribs) {
  attributes_ = plParmAttribs;
  return S_OK;
}
