// Identifier text: StringFromGUID2, CLSIDFromString, IIDFromString. The text form is
// {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}: Data1, Data2, Data3 as numbers, then the eight bytes
// of Data4 in order.
#include "objbase.h"

#include <string.h>

namespace {

const char kHexDigits[] = "0123456789ABCDEF";

int hex_value(OLECHAR c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Reads digits hex digits at s into *value; false when one is not a hex digit.
bool read_hex(const OLECHAR* s, int digits, uint32_t* value) {
  uint32_t v = 0;
  for (int i = 0; i < digits; ++i) {
    int d = hex_value(s[i]);
    if (d < 0) return false;
    v = (v << 4) | static_cast<uint32_t>(d);
  }
  *value = v;
  return true;
}

int guid_text_length(const OLECHAR* s) {
  int n = 0;
  while (n < CHARS_IN_GUID && s[n]) ++n;
  return n;
}

// Parses exactly the braced 38-character form; *guid is GUID_NULL unless it succeeds.
bool guid_from_text(const OLECHAR* s, GUID* guid) {
  memset(guid, 0, sizeof(*guid));
  if (guid_text_length(s) != CHARS_IN_GUID - 1) return false;
  if (s[0] != u'{' || s[9] != u'-' || s[14] != u'-' || s[19] != u'-' || s[24] != u'-' ||
      s[37] != u'}')
    return false;
  GUID g;
  uint32_t v;
  if (!read_hex(s + 1, 8, &v)) return false;
  g.Data1 = v;
  if (!read_hex(s + 10, 4, &v)) return false;
  g.Data2 = static_cast<uint16_t>(v);
  if (!read_hex(s + 15, 4, &v)) return false;
  g.Data3 = static_cast<uint16_t>(v);
  static const int kByteAt[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!read_hex(s + kByteAt[i], 2, &v)) return false;
    g.Data4[i] = static_cast<uint8_t>(v);
  }
  *guid = g;
  return true;
}

OLECHAR* put_hex(OLECHAR* out, uint32_t value, int digits) {
  for (int i = digits - 1; i >= 0; --i) *out++ = kHexDigits[(value >> (4 * i)) & 0xF];
  return out;
}

}  // namespace

int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
  if (!lpsz || cchMax < CHARS_IN_GUID) return 0;
  OLECHAR* p = lpsz;
  *p++ = u'{';
  p = put_hex(p, rguid.Data1, 8);
  *p++ = u'-';
  p = put_hex(p, rguid.Data2, 4);
  *p++ = u'-';
  p = put_hex(p, rguid.Data3, 4);
  *p++ = u'-';
  for (int i = 0; i < 8; ++i) {
    if (i == 2) *p++ = u'-';
    p = put_hex(p, rguid.Data4[i], 2);
  }
  *p++ = u'}';
  *p = u'\0';
  return CHARS_IN_GUID;
}

HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) {
  if (!pclsid) return E_INVALIDARG;
  if (!lpsz) {
    *pclsid = CLSID_NULL;
    return S_OK;
  }
  // The platform would look a program identifier up here; there is no registry lookup yet.
  return guid_from_text(lpsz, pclsid) ? S_OK : CO_E_CLASSSTRING;
}

HRESULT IIDFromString(LPCOLESTR lpsz, LPIID lpiid) {
  if (!lpiid) return E_INVALIDARG;
  if (!lpsz) {
    *lpiid = IID_NULL;
    return S_OK;
  }
  // A wrong length is told apart from a wrong form, as on the platform.
  if (guid_text_length(lpsz) != CHARS_IN_GUID - 1) return E_INVALIDARG;
  return guid_from_text(lpsz, lpiid) ? S_OK : CO_E_IIDSTRING;
}
