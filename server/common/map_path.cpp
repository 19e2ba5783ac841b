// MapPathIfRelative.
#include "map_path.h"

#include "scoped_bstr.h"

namespace {

bool is_physical(const char* text) {
  // Reads stop at the terminator: a position beyond the end matches nothing.
  const char first = text[0];
  const char second = first ? text[1] : '\0';
  const char third = second ? text[2] : '\0';
  return first == '\\' || second == '\\' || second == ':' || third == '\\';
}

}  // namespace

HRESULT MapPathIfRelative(IServer* server, BSTR path, CKaText* out) {
  HRESULT hr = BstrToAcp(path, out);
  if (FAILED(hr) || is_physical(*out))
    return hr;
  if (!server)
    return E_UNEXPECTED;
  ScopedBstr mapped;
  hr = server->MapPath(path, mapped.Receive());
  if (FAILED(hr))
    return hr;
  return BstrToAcp(mapped.Get(), out);
}
