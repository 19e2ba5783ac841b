// Conversion between automation strings and the system's narrow text (ANSI code page).
#include "vtrl_module.h"

#include <string.h>

#include "KaString.h"

namespace {

// The longest text, in bytes, that AcpToBstr converts in a single pass.
constexpr int kShortText = 256;

}  // namespace

HRESULT AcpToBstr(const char* text, BSTR* out) {
  *out = nullptr;
  const int bytes = text ? static_cast<int>(strlen(text)) : 0;
  if (bytes == 0) {
    *out = SysAllocStringLen(nullptr, 0);
    return *out ? S_OK : E_OUTOFMEMORY;
  }
  // A short text is converted once, on the stack, and copied into its string; a longer one is
  // measured first. No code page gives more units than bytes; one that did would fail the short
  // conversion and be measured as well.
  if (bytes <= kShortText) {
    OLECHAR at_hand[kShortText];
    const int units = MultiByteToWideChar(CP_ACP, 0, text, bytes, at_hand, bytes);
    if (units > 0) {
      *out = SysAllocStringLen(at_hand, static_cast<UINT>(units));
      return *out ? S_OK : E_OUTOFMEMORY;
    }
  }
  const int units = MultiByteToWideChar(CP_ACP, 0, text, bytes, nullptr, 0);
  if (units <= 0)
    return E_FAIL;
  BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(units));
  if (!result)
    return E_OUTOFMEMORY;
  MultiByteToWideChar(CP_ACP, 0, text, bytes, result, units);
  *out = result;
  return S_OK;
}

HRESULT BstrToAcp(BSTR text, CKaText* out) {
  const UINT units = SysStringLen(text);
  if (units == 0) {
    *out = "";
    return S_OK;
  }
  const int bytes =
      WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(units), nullptr, 0, nullptr, nullptr);
  if (bytes <= 0)
    return E_FAIL;
  // Converted straight into the block the text takes over: the old text stays when it cannot
  // be made.
  char* block = kaNewString(static_cast<unsigned>(bytes));
  if (!block)
    return E_OUTOFMEMORY;
  WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(units), block, bytes, nullptr, nullptr);
  ResetText(out, block);
  return S_OK;
}

void ResetText(CKaText* text, char* block) {
  char* old = text->GetData();
  text->SetData(block);
  kaFreeString(&old);
}
