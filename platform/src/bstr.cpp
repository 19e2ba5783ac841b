// BSTR functions: SysAllocString, SysAllocStringLen, SysAllocStringByteLen, SysReAllocString,
// SysReAllocStringLen, SysFreeString, SysStringLen, SysStringByteLen.
//
// Block layout (one task-memory block per string):
//   offset  size      contents
//   0       4         zero (keeps the characters 8-byte aligned, as the platform does on 64-bit)
//   4       4         byte length of the data, terminator excluded (the DWORD before the BSTR)
//   8       len       the data; the BSTR points here
//   8+len   3         zero: a zero byte and then a zero character, so that odd lengths are
//                     terminated too
// The platform also keeps a per-size cache of freed strings; this one frees at once, so that
// the sanitizers see every use after free.
#include "oleauto.h"

#include <string.h>

#include "objbase.h"
#include "oleaut_private.h"
#include "winnls.h"

namespace {

constexpr size_t kHeader = 8;
constexpr size_t kTail = 3;
// The byte length must fit the DWORD prefix together with the header and the tail.
constexpr UINT kMaxByteLength = 0xFFFFFFFFu - 16;

BYTE* block_of(BSTR bstr) { return reinterpret_cast<BYTE*>(bstr) - kHeader; }

DWORD byte_length_of(BSTR bstr) {
  DWORD len;
  memcpy(&len, reinterpret_cast<BYTE*>(bstr) - sizeof(DWORD), sizeof(len));
  return len;
}

// A BSTR of len bytes copied from data (zero-filled when data is null); null when short of
// memory or too long.
BSTR bstr_alloc(const void* data, UINT len) {
  if (len > kMaxByteLength) return nullptr;
  BYTE* block = static_cast<BYTE*>(CoTaskMemAlloc(kHeader + len + kTail));
  if (!block) return nullptr;
  const DWORD prefix[2] = {0, len};
  memcpy(block, prefix, sizeof(prefix));
  BYTE* text = block + kHeader;
  if (data)
    memcpy(text, data, len);
  else
    memset(text, 0, len);
  memset(text + len, 0, kTail);
  return reinterpret_cast<BSTR>(text);
}

size_t text_length(const OLECHAR* psz) {
  size_t n = 0;
  while (psz[n]) ++n;
  return n;
}

}  // namespace

BSTR bstr_from_acp(const char* text, size_t n) {
  if (n == 0) return bstr_alloc(nullptr, 0);
  int wide = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(n), nullptr, 0);
  if (wide <= 0) return nullptr;
  BSTR out = bstr_alloc(nullptr, static_cast<UINT>(wide) * 2);
  if (!out) return nullptr;
  MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(n), out, wide);
  return out;
}

BSTR SysAllocString(const OLECHAR* psz) {
  if (!psz) return nullptr;
  size_t n = text_length(psz);
  if (n > kMaxByteLength / 2) return nullptr;
  return bstr_alloc(psz, static_cast<UINT>(n * 2));
}

BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
  if (ui > kMaxByteLength / 2) return nullptr;
  return bstr_alloc(strIn, ui * 2);
}

BSTR SysAllocStringByteLen(LPCSTR psz, UINT len) { return bstr_alloc(psz, len); }

INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz) {
  if (!pbstr) return FALSE;
  BSTR fresh = nullptr;
  // Allocate before freeing: psz may point into *pbstr.
  if (psz && !(fresh = SysAllocString(psz))) return FALSE;
  SysFreeString(*pbstr);
  *pbstr = fresh;
  return TRUE;
}

INT SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len) {
  if (!pbstr) return FALSE;
  BSTR fresh = SysAllocStringLen(psz, len);
  if (!fresh) return FALSE;
  SysFreeString(*pbstr);
  *pbstr = fresh;
  return TRUE;
}

void SysFreeString(BSTR bstrString) {
  if (bstrString) CoTaskMemFree(block_of(bstrString));
}

UINT SysStringLen(BSTR bstr) { return bstr ? byte_length_of(bstr) / 2 : 0; }

UINT SysStringByteLen(BSTR bstr) { return bstr ? byte_length_of(bstr) : 0; }
