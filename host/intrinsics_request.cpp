// Request: the collections of the HTTP request (QueryString, Form, ServerVariables, Cookies),
// its size and BinaryRead, which hands out the body array itself when the whole body is read.
#include <cctype>
#include <cstring>
#include <memory>
#include <new>

#include "intrinsics.h"
#include "text.h"

namespace vhost {

namespace {

HRESULT dictionary_out(std::vector<RequestDictionary::Entry> entries, std::u16string whole,
                       IRequestDictionary** out) {
  if (!out)
    return E_POINTER;
  *out = nullptr;
  return hand_out(new (std::nothrow) RequestDictionary(std::move(entries), std::move(whole)), out);
}

char16_t ascii_upper(char16_t c) {
  return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
}

// The variable of a header: HTTP_ and its name in capitals, with _ for -.
char16_t cgi_char(char c) {
  return c == '-' ? u'_' : ascii_upper(static_cast<unsigned char>(c));
}

std::string cgi_name(const std::string& header) {
  std::string out = "HTTP_";
  for (char c : header)
    out.push_back(static_cast<char>(cgi_char(c)));
  return out;
}

// True when key names the variable name (ASCII), without regard to case.
bool names_variable(std::u16string_view key, std::string_view name) {
  if (key.size() != name.size())
    return false;
  for (size_t i = 0; i < key.size(); ++i)
    if (key[i] > 0x7F || ascii_upper(key[i]) != ascii_upper(static_cast<unsigned char>(name[i])))
      return false;
  return true;
}

// True when key names the variable of header (cgi_name), without regard to case.
bool names_header(std::u16string_view key, std::string_view header) {
  if (key.size() != header.size() + 5 || !names_variable(key.substr(0, 5), "HTTP_"))
    return false;
  for (size_t i = 0; i < header.size(); ++i)
    if (key[5 + i] > 0x7F || ascii_upper(key[5 + i]) != cgi_char(header[i]))
      return false;
  return true;
}

}  // namespace

HRESULT RequestObject::query_entries(std::vector<RequestDictionary::Entry>* out) {
  for (auto& [key, value] : parse_urlencoded(page_->request.raw_query))
    RequestDictionary::add(*out, decode_bytes(key, page_->code_page),
                           decode_bytes(value, page_->code_page));
  return S_OK;
}

HRESULT RequestObject::form_entries(std::vector<RequestDictionary::Entry>* out,
                                    std::u16string* whole) {
  const HttpRequestData& r = page_->request;
  const std::string* type = r.header("Content-Type");
  if (!type || r.body_size == 0)
    return S_OK;
  std::string media = type->substr(0, type->find(';'));
  while (!media.empty() && media.back() == ' ')
    media.pop_back();
  if (!iequals(media, "application/x-www-form-urlencoded"))
    return S_OK;
  if (page_->binary_read_used || !r.body.Get())
    return set_error(E_FAIL, u"Request.Form cannot be used after Request.BinaryRead.");
  page_->form_used = true;
  const SafeArrayDataScope data(r.body.Get());
  if (FAILED(data.status()))
    return data.status();
  const std::string_view text(data.data<const char>(), r.body_size);
  *whole = decode_bytes(text, page_->code_page);
  for (auto& [key, value] : parse_urlencoded(text))
    RequestDictionary::add(*out, decode_bytes(key, page_->code_page),
                           decode_bytes(value, page_->code_page));
  return S_OK;
}

HRESULT RequestObject::server_variables(const std::u16string* only, UINT code_page,
                                        std::vector<RequestDictionary::Entry>* out) {
  HRESULT hr = check_page();
  if (FAILED(hr))
    return hr;
  const HttpRequestData& r = page_->request;
  // A value is made only for a variable that is wanted: a page reads one or two of them.
  auto add = [&](const char* name, auto&& value) {
    if (!only || names_variable(*only, name))
      RequestDictionary::add(*out, to_u16(name), decode_bytes(value(), code_page));
  };
  auto text = [](std::string value) { return [value = std::move(value)] { return value; }; };
  add("ALL_HTTP", [&] {
    std::string all;
    for (auto& [name, value] : r.headers)
      all += cgi_name(name) + ":" + value + "\n";
    return all;
  });
  add("ALL_RAW", [&] {
    std::string all;
    for (auto& [name, value] : r.headers)
      all += name + ": " + value + "\r\n";
    return all;
  });
  add("APPL_PHYSICAL_PATH", [&] { return page_->config.site_root + "/"; });
  add("CONTENT_LENGTH", [&] { return std::to_string(r.body_size); });
  add("CONTENT_TYPE", [&] {
    const std::string* type = r.header("Content-Type");
    return type ? *type : std::string();
  });
  add("GATEWAY_INTERFACE", text("CGI/1.1"));
  add("HTTPS", text("off"));
  add("LOCAL_ADDR", [&] { return r.local_addr; });
  add("PATH_INFO", [&] { return r.path; });
  add("PATH_TRANSLATED", [&] {
    std::string physical = page_->config.site_root + r.path;
    for (char& c : physical)
      if (c == '/')
        c = '\\';
    return physical;
  });
  add("QUERY_STRING", [&] { return r.raw_query; });
  add("REMOTE_ADDR", [&] { return r.remote_addr; });
  add("REMOTE_HOST", [&] { return r.remote_addr; });
  add("REMOTE_PORT", [&] { return std::to_string(r.remote_port); });
  add("REQUEST_METHOD", [&] { return r.method; });
  add("SCRIPT_NAME", [&] { return r.path; });
  add("SERVER_NAME", [&] {
    const std::string* host = r.header("Host");
    if (!host)
      return r.local_addr;
    return host->find(':') == std::string::npos ? *host : host->substr(0, host->rfind(':'));
  });
  add("SERVER_PORT", [&] { return std::to_string(r.local_port); });
  add("SERVER_PORT_SECURE", text("0"));
  add("SERVER_PROTOCOL", [&] { return r.protocol; });
  add("SERVER_SOFTWARE", text("vhost/1.0"));
  add("URL", [&] { return r.path; });
  for (const auto& header : r.headers)
    if (!only || names_header(*only, header.first))
      RequestDictionary::add(*out, to_u16(cgi_name(header.first)),
                             decode_bytes(header.second, code_page));
  return S_OK;
}

std::vector<RequestDictionary::Entry> RequestObject::cookies() {
  std::vector<RequestDictionary::Entry> out;
  for (auto& [name, value] : page_->request.headers) {
    if (!iequals(name, "Cookie"))
      continue;
    size_t start = 0;
    while (start < value.size()) {
      size_t end = value.find(';', start);
      if (end == std::string::npos)
        end = value.size();
      std::string pair = value.substr(start, end - start);
      start = end + 1;
      const size_t first = pair.find_first_not_of(' ');
      if (first == std::string::npos)
        continue;
      pair.erase(0, first);
      const size_t eq = pair.find('=');
      const std::string key = url_decode(pair.substr(0, eq), true);
      const std::string val = eq == std::string::npos ? "" : url_decode(pair.substr(eq + 1), true);
      RequestDictionary::add(out, decode_bytes(key, page_->code_page),
                             decode_bytes(val, page_->code_page));
    }
  }
  return out;
}

HRESULT RequestObject::get_Item(BSTR bstrVar, IDispatch** ppObjReturn) {
  if (!ppObjReturn)
    return E_POINTER;
  *ppObjReturn = nullptr;
  HRESULT hr = check_page();
  if (FAILED(hr))
    return hr;
  const std::u16string key = bstr_text(bstrVar);
  // Searched in the order script hosts use: QueryString, Form, Cookies, ServerVariables.
  std::vector<RequestDictionary::Entry> sets[4];
  query_entries(&sets[0]);
  std::u16string whole;
  hr = form_entries(&sets[1], &whole);
  if (FAILED(hr))
    return hr;
  sets[2] = cookies();
  hr = server_variables(&key, page_->code_page, &sets[3]);
  if (FAILED(hr))
    return hr;
  std::vector<std::u16string> values;
  for (auto& set : sets) {
    for (auto& e : set)
      if (iequals(e.key, key)) {
        values = e.values;
        break;
      }
    if (!values.empty())
      break;
  }
  IStringList* list = nullptr;
  hr = hand_out(new (std::nothrow) StringList(std::move(values)), &list);
  *ppObjReturn = list;
  return hr;
}

HRESULT RequestObject::get_QueryString(IRequestDictionary** ppDictReturn) {
  HRESULT hr = check_page();
  if (FAILED(hr))
    return hr;
  std::vector<RequestDictionary::Entry> entries;
  query_entries(&entries);
  return dictionary_out(std::move(entries),
                        decode_bytes(page_->request.raw_query, page_->code_page), ppDictReturn);
}

HRESULT RequestObject::get_Form(IRequestDictionary** ppDictReturn) {
  if (ppDictReturn)
    *ppDictReturn = nullptr;
  HRESULT hr = check_page();
  if (FAILED(hr))
    return hr;
  std::vector<RequestDictionary::Entry> entries;
  std::u16string whole;
  hr = form_entries(&entries, &whole);
  if (FAILED(hr))
    return hr;
  return dictionary_out(std::move(entries), std::move(whole), ppDictReturn);
}

HRESULT RequestObject::get_Body(IRequestDictionary** ppDictReturn) {
  return get_Form(ppDictReturn);
}

HRESULT RequestObject::get_ServerVariables(IRequestDictionary** ppDictReturn) {
  if (!ppDictReturn)
    return E_POINTER;
  *ppDictReturn = nullptr;
  HRESULT hr = check_page();
  if (FAILED(hr))
    return hr;
  // The collection holds a reference to this object: once the page has ended it answers with
  // the page's error, as this object does. Values are decoded with the code page of the moment
  // the collection was asked for.
  AddRef();
  std::shared_ptr<RequestObject> self(this, [](RequestObject* request) { request->Release(); });
  const UINT code_page = page_->code_page;
  return hand_out(new (std::nothrow) RequestDictionary(
                      [self, code_page](const std::u16string* only,
                                        std::vector<RequestDictionary::Entry>* out) {
                        return self->server_variables(only, code_page, out);
                      }),
                  ppDictReturn);
}

HRESULT RequestObject::get_ClientCertificate(IRequestDictionary** ppDictReturn) {
  HRESULT hr = check_page();
  if (FAILED(hr))
    return hr;
  return dictionary_out({}, std::u16string(), ppDictReturn);  // plain HTTP: no certificate
}

HRESULT RequestObject::get_Cookies(IRequestDictionary** ppDictReturn) {
  HRESULT hr = check_page();
  if (FAILED(hr))
    return hr;
  return dictionary_out(cookies(), std::u16string(), ppDictReturn);
}

HRESULT RequestObject::get_TotalBytes(LONG* pcbTotal) {
  if (!pcbTotal)
    return E_POINTER;
  *pcbTotal = 0;
  HRESULT hr = check_page();
  if (FAILED(hr))
    return hr;
  *pcbTotal = static_cast<LONG>(page_->request.body_size);
  return S_OK;
}

HRESULT RequestObject::BinaryRead(VARIANT* pvarCountToRead, VARIANT* pvarReturn) {
  if (!pvarCountToRead || !pvarReturn)
    return E_POINTER;
  VariantInit(pvarReturn);
  HRESULT hr = check_page();
  if (FAILED(hr))
    return hr;
  if (page_->form_used)
    return set_error(E_FAIL, u"Request.BinaryRead cannot be used after Request.Form.");
  ScopedVariant count;
  hr = VariantCopyInd(count.Receive(), pvarCountToRead);
  if (SUCCEEDED(hr))
    hr = count.ChangeType(VT_I4);
  if (FAILED(hr))
    return hr;
  if (count.Get().lVal < 0)
    return set_error(E_INVALIDARG, u"The byte count to read is negative.");
  HttpRequestData& r = page_->request;
  const ULONG left = r.body_size - page_->read_position;
  const ULONG n =
      static_cast<ULONG>(count.Get().lVal) < left ? static_cast<ULONG>(count.Get().lVal) : left;
  ScopedSafeArray out;
  if (page_->read_position == 0 && n == r.body_size && r.body.Get()) {
    out = std::move(r.body);  // the whole body: hand out the array it was read into
  } else {
    out.Reset(SafeArrayCreateVector(VT_UI1, 0, n));
    if (!out.Get())
      return E_OUTOFMEMORY;
    if (n) {
      const SafeArrayDataScope src(r.body.Get());
      if (FAILED(src.status()))
        return set_error(E_UNEXPECTED, u"The request body was already handed out.");
      const SafeArrayDataScope dst(out.Get());
      if (FAILED(dst.status()))
        return dst.status();
      std::memcpy(dst.data(), src.data() + page_->read_position, n);
    }
  }
  page_->read_position += n;
  page_->binary_read_used = true;
  pvarReturn->vt = VT_ARRAY | VT_UI1;
  pvarReturn->parray = out.Release();
  // The count is [in, out]: it says how many bytes were read.
  if (pvarCountToRead->vt == (VT_BYREF | VT_VARIANT) && pvarCountToRead->pvarVal) {
    VariantClear(pvarCountToRead->pvarVal);
    pvarCountToRead->pvarVal->vt = VT_I4;
    pvarCountToRead->pvarVal->lVal = static_cast<LONG>(n);
  } else if (pvarCountToRead->vt == (VT_BYREF | VT_I4) && pvarCountToRead->plVal) {
    *pvarCountToRead->plVal = static_cast<LONG>(n);
  } else if (!(pvarCountToRead->vt & VT_BYREF)) {
    VariantClear(pvarCountToRead);
    pvarCountToRead->vt = VT_I4;
    pvarCountToRead->lVal = static_cast<LONG>(n);
  }
  return S_OK;
}

}  // namespace vhost
