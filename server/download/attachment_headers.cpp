// The attachment response's header values that carry the file name (see attachment_headers.h).
#include "attachment_headers.h"

#include <string.h>

#include <utility>

#include "report_error.h"

namespace {

bool is_control(OLECHAR c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

bool is_alnum(OLECHAR c) {
  return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

// A character of an HTTP token (RFC 9110 tchar).
bool is_tchar(OLECHAR c) {
  return is_alnum(c) ||
         (c > 0x20 && c < 0x7F && strchr("!#$%&'*+-.^_`|~", static_cast<char>(c)) != nullptr);
}

// A byte that stands for itself in an encoded value (RFC 8187 attr-char); every other byte is
// written %XX.
bool is_attr_char(unsigned char c) {
  return is_alnum(c) || (c != 0 && strchr("!#$&+-.^_`|~", c) != nullptr);
}

// Writes a value twice over: first only counting (no buffer), then into a buffer of that count.
class Writer {
 public:
  explicit Writer(OLECHAR* out) : out_(out) {}
  void Put(OLECHAR c) {
    if (out_)
      out_[count_] = c;
    ++count_;
  }
  void Put(const char* ascii) {
    while (*ascii)
      Put(static_cast<OLECHAR>(*ascii++));
  }
  UINT count() const { return count_; }

 private:
  OLECHAR* out_;
  UINT count_ = 0;
};

// The parts of one name, as both values write it.
struct Name {
  const OLECHAR* wide;
  UINT length;
  bool token;
  const char* utf8;  // null when the encoded form is not written
  int utf8_length;
};

// head; param=NAME, or param="NAME" with '"' and '\' escaped, then for an encoded name
// ; param*=UTF-8''%XX...
void write_value(Writer* w, const char* head, const char* param, const Name& name) {
  static const char kHex[] = "0123456789ABCDEF";
  w->Put(head);
  w->Put("; ");
  w->Put(param);
  w->Put(u'=');
  if (!name.token)
    w->Put(u'"');
  for (UINT i = 0; i < name.length; ++i) {
    if (!name.token && (name.wide[i] == u'"' || name.wide[i] == u'\\'))
      w->Put(u'\\');
    w->Put(name.wide[i]);
  }
  if (!name.token)
    w->Put(u'"');
  if (!name.utf8)
    return;
  w->Put("; ");
  w->Put(param);
  w->Put("*=UTF-8''");
  for (int i = 0; i < name.utf8_length; ++i) {
    const auto c = static_cast<unsigned char>(name.utf8[i]);
    if (is_attr_char(c)) {
      w->Put(static_cast<OLECHAR>(c));
    } else {
      w->Put(u'%');
      w->Put(static_cast<OLECHAR>(kHex[c >> 4]));
      w->Put(static_cast<OLECHAR>(kHex[c & 15]));
    }
  }
}

HRESULT make_value(const char* head, const char* param, const Name& name, ScopedBstr* out) {
  Writer count(nullptr);
  write_value(&count, head, param, name);
  BSTR value = SysAllocStringLen(nullptr, count.count());
  if (!value)
    return E_OUTOFMEMORY;
  Writer fill(value);
  write_value(&fill, head, param, name);
  out->Reset(value);
  return S_OK;
}

}  // namespace

const char* AttachmentFileName(const char* path) {
  const char* name = path;
  for (const char* p = path; *p; ++p)
    if (*p == '\\' || *p == '/')
      name = p + 1;
  return name;
}

HRESULT RefuseEmbeddedNul(const CLSID& clsid, BSTR text) {
  const UINT length = SysStringLen(text);
  for (UINT i = 0; i < length; ++i) {
    if (text[i] == 0) {
      ReportError(clsid, VtrlMessageText(VtrlMessage::kControlInFileName), GUID_NULL, 0);
      return E_INVALIDARG;
    }
  }
  return S_OK;
}

HRESULT MakeAttachmentHeaders(const CLSID& clsid, const char* fileName, AttachmentHeaders* out) {
  out->content_type.Reset();
  out->disposition.Reset();
  ScopedBstr wide;
  HRESULT hr = AcpToBstr(fileName, wide.Receive());
  if (FAILED(hr))
    return hr;
  Name name{wide.Get(), wide.Length(), wide.Length() > 0, nullptr, 0};
  bool encoded = false;
  for (UINT i = 0; i < name.length; ++i) {
    const OLECHAR c = name.wide[i];
    if (is_control(c)) {
      ReportError(clsid, VtrlMessageText(VtrlMessage::kControlInFileName), GUID_NULL, 0);
      return E_INVALIDARG;
    }
    name.token = name.token && is_tchar(c);
    encoded = encoded || c >= 0x80 || c == u'%';
  }
  CKaText utf8;
  if (encoded) {
    const int n = static_cast<int>(name.length);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, name.wide, n, nullptr, 0, nullptr, nullptr);
    char* buffer = bytes > 0 ? utf8.GetBuffer(static_cast<unsigned>(bytes)) : nullptr;
    if (!buffer)
      return bytes > 0 ? E_OUTOFMEMORY : E_FAIL;
    WideCharToMultiByte(CP_UTF8, 0, name.wide, n, buffer, bytes, nullptr, nullptr);
    name.utf8 = buffer;
    name.utf8_length = bytes;
  }
  AttachmentHeaders made;
  hr = make_value("application/octet-stream", "name", name, &made.content_type);
  if (SUCCEEDED(hr))
    hr = make_value("attachment", "filename", name, &made.disposition);
  if (FAILED(hr))
    return hr;
  *out = std::move(made);
  return S_OK;
}
