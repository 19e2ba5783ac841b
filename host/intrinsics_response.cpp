// Response: the status, headers and body of the page's answer. The body is kept in memory and
// sent when the page ends; Write converts text to the page's code page.
#include <algorithm>
#include <cstring>
#include <string>

#include "intrinsics.h"
#include "text.h"

namespace vhost {

namespace {

bool is_token(const std::u16string& s) {
  if (s.empty())
    return false;
  for (char16_t c : s)
    if (c <= 32 || c >= 127 || c == u':' || c == u'(' || c == u')' || c == u',' || c == u';' ||
        c == u'"' || c == u'/' || c == u'[' || c == u']' || c == u'=' || c == u'{' || c == u'}' ||
        c == u'\\' || c == u'<' || c == u'>' || c == u'?' || c == u'@')
      return false;
  return true;
}

HRESULT refuse_line_breaks(const std::u16string& value, const char16_t* what) {
  if (has_cr_or_lf(value) || value.find(u'\0') != std::u16string::npos)
    return set_error(E_INVALIDARG, std::u16string(what) + u" must not hold CR, LF or NUL.");
  return S_OK;
}

}  // namespace

HRESULT ResponseObject::check_headers_open(const char16_t* member) const {
  HRESULT hr = check_page();
  if (FAILED(hr))
    return hr;
  if (page_->response.headers_sent)
    return set_error(E_FAIL, std::u16string(member) +
                                 u": the headers were already written (Response.Flush ran).");
  return S_OK;
}

HRESULT ResponseObject::set_header(const std::u16string& name, const std::u16string& value) {
  HRESULT hr = check_headers_open(u"Response.AddHeader");
  if (FAILED(hr))
    return hr;
  if (!is_token(name))
    return set_error(E_INVALIDARG, u"Response.AddHeader: the header name is not a valid token.");
  hr = refuse_line_breaks(value, u"A header value");
  if (FAILED(hr))
    return hr;
  page_->response.headers.emplace_back(to_utf8(name), to_utf8(value));
  return S_OK;
}

HRESULT ResponseObject::write_bytes(std::string_view bytes) {
  if (!page_ || page_->ended)
    return S_OK;
  ResponseBody& body = page_->response.body;
  const unsigned long long limit = page_->config.max_response;
  if (bytes.size() > limit - std::min<unsigned long long>(body.size(), limit))
    return set_error(E_FAIL, u"Response: the response would pass " + to_u16(std::to_string(limit)) +
                                 u" bytes, the largest this server sends (--max-response).");
  if (!body.append(bytes))
    return set_error(E_OUTOFMEMORY, u"Response: there is no memory for the response.");
  return S_OK;
}

HRESULT ResponseObject::get_Buffer(VARIANT_BOOL* fIsBuffering) {
  if (!fIsBuffering)
    return E_POINTER;
  HRESULT hr = check_page();
  if (FAILED(hr))
    return hr;
  *fIsBuffering = page_->response.buffer ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT ResponseObject::put_Buffer(VARIANT_BOOL fIsBuffering) {
  HRESULT hr = check_headers_open(u"Response.Buffer");
  if (FAILED(hr))
    return hr;
  page_->response.buffer = fIsBuffering != VARIANT_FALSE;
  return S_OK;
}

HRESULT ResponseObject::get_ContentType(BSTR* pbstrContentTypeRet) {
  HRESULT hr = check_page();
  return FAILED(hr) ? hr : bstr_out(to_u16(page_->response.content_type), pbstrContentTypeRet);
}

HRESULT ResponseObject::put_ContentType(BSTR bstrContentType) {
  HRESULT hr = check_headers_open(u"Response.ContentType");
  const std::u16string value = bstr_text(bstrContentType);
  if (SUCCEEDED(hr))
    hr = refuse_line_breaks(value, u"Response.ContentType");
  if (FAILED(hr))
    return hr;
  page_->response.content_type = to_utf8(value);
  return S_OK;
}

HRESULT ResponseObject::get_Expires(VARIANT* pvarExpiresMinutesRet) {
  if (!pvarExpiresMinutesRet)
    return E_POINTER;
  VariantInit(pvarExpiresMinutesRet);
  HRESULT hr = check_page();
  if (FAILED(hr))
    return hr;
  if (page_->response.has_expires) {
    pvarExpiresMinutesRet->vt = VT_I4;
    pvarExpiresMinutesRet->lVal = page_->response.expires_minutes;
  }
  return S_OK;
}

HRESULT ResponseObject::put_Expires(LONG lExpiresMinutes) {
  HRESULT hr = check_headers_open(u"Response.Expires");
  if (FAILED(hr))
    return hr;
  page_->response.has_expires = true;
  page_->response.expires_minutes = lExpiresMinutes;
  return S_OK;
}

HRESULT ResponseObject::get_ExpiresAbsolute(VARIANT*) {
  return set_error(E_NOTIMPL, u"Response.ExpiresAbsolute is not supported; use Response.Expires.");
}

HRESULT ResponseObject::put_ExpiresAbsolute(DATE) {
  return set_error(E_NOTIMPL, u"Response.ExpiresAbsolute is not supported; use Response.Expires.");
}

HRESULT ResponseObject::get_Cookies(IRequestDictionary** ppCookies) {
  if (ppCookies)
    *ppCookies = nullptr;
  return set_error(
      E_NOTIMPL,
      u"Response.Cookies is not supported; use Response.AddHeader(\"Set-Cookie\", ...).");
}

HRESULT ResponseObject::get_Status(BSTR* pbstrStatusRet) {
  HRESULT hr = check_page();
  if (FAILED(hr))
    return hr;
  const HttpResponseData& r = page_->response;
  return bstr_out(to_u16(std::to_string(r.status) + " " + r.status_text), pbstrStatusRet);
}

HRESULT ResponseObject::put_Status(BSTR bstrStatus) {
  HRESULT hr = check_headers_open(u"Response.Status");
  const std::u16string value = bstr_text(bstrStatus);
  if (SUCCEEDED(hr))
    hr = refuse_line_breaks(value, u"Response.Status");
  if (FAILED(hr))
    return hr;
  if (value.size() < 3 || value[0] < u'1' || value[0] > u'5' || value[1] < u'0' ||
      value[1] > u'9' || value[2] < u'0' || value[2] > u'9' ||
      (value.size() > 3 && value[3] != u' '))
    return set_error(E_INVALIDARG,
                     u"Response.Status must start with a three-digit code, as \"404 Not Found\".");
  page_->response.status =
      static_cast<unsigned>((value[0] - u'0') * 100 + (value[1] - u'0') * 10 + (value[2] - u'0'));
  page_->response.status_text = value.size() > 4 ? to_utf8(value.substr(4)) : std::string();
  return S_OK;
}

HRESULT ResponseObject::Add(BSTR bstrHeaderValue, BSTR bstrHeaderName) {
  return set_header(bstr_text(bstrHeaderName), bstr_text(bstrHeaderValue));
}

HRESULT ResponseObject::AddHeader(BSTR bstrHeaderName, BSTR bstrHeaderValue) {
  return set_header(bstr_text(bstrHeaderName), bstr_text(bstrHeaderValue));
}

HRESULT ResponseObject::AppendToLog(BSTR bstrLogEntry) {
  HRESULT hr = check_page();
  const std::u16string value = bstr_text(bstrLogEntry);
  if (SUCCEEDED(hr))
    hr = refuse_line_breaks(value, u"Response.AppendToLog");
  if (FAILED(hr))
    return hr;
  page_->response.log_entry += to_utf8(value);
  return S_OK;
}

HRESULT ResponseObject::BinaryWrite(VARIANT varInput) {
  HRESULT hr = check_page();
  if (FAILED(hr))
    return hr;
  SAFEARRAY* array = nullptr;
  if (varInput.vt == (VT_ARRAY | VT_UI1))
    array = varInput.parray;
  else if (varInput.vt == (VT_BYREF | VT_ARRAY | VT_UI1) && varInput.pparray)
    array = *varInput.pparray;
  else if (varInput.vt == (VT_BYREF | VT_VARIANT) && varInput.pvarVal)
    return BinaryWrite(*varInput.pvarVal);
  else if (varInput.vt == VT_EMPTY || varInput.vt == VT_NULL)
    return S_OK;
  if (!array)
    return set_error(DISP_E_TYPEMISMATCH, u"Response.BinaryWrite needs an array of bytes.");
  if (SafeArrayGetDim(array) != 1)
    return set_error(DISP_E_TYPEMISMATCH, u"Response.BinaryWrite needs a one-dimensional array.");
  LONG lower = 0, upper = -1;
  SafeArrayGetLBound(array, 1, &lower);
  SafeArrayGetUBound(array, 1, &upper);
  const LONG count = upper - lower + 1;
  if (count <= 0)
    return S_OK;
  const SafeArrayDataScope data(array);
  if (FAILED(data.status()))
    return data.status();
  return write_bytes(std::string_view(data.data<const char>(), static_cast<size_t>(count)));
}

HRESULT ResponseObject::Clear() {
  HRESULT hr = check_page();
  if (FAILED(hr))
    return hr;
  if (!page_->response.buffer)
    return set_error(E_FAIL, u"Response.Clear needs Response.Buffer to be true.");
  page_->response.body.clear();
  return S_OK;
}

HRESULT ResponseObject::End() {
  HRESULT hr = check_page();
  if (FAILED(hr))
    return hr;
  page_->ended = true;
  return S_OK;
}

HRESULT ResponseObject::Flush() {
  HRESULT hr = check_page();
  if (FAILED(hr))
    return hr;
  if (!page_->response.buffer)
    return set_error(E_FAIL, u"Response.Flush needs Response.Buffer to be true.");
  page_->response.headers_sent = true;
  return S_OK;
}

HRESULT ResponseObject::Redirect(BSTR bstrURL) {
  HRESULT hr = check_headers_open(u"Response.Redirect");
  const std::u16string url = bstr_text(bstrURL);
  if (SUCCEEDED(hr))
    hr = refuse_line_breaks(url, u"Response.Redirect's address");
  if (FAILED(hr))
    return hr;
  HttpResponseData& r = page_->response;
  r.status = 302;
  r.status_text = "Object moved";
  r.headers.emplace_back("Location", to_utf8(url));
  r.content_type = "text/html";
  r.body.assign("<html><body><h1>Object moved</h1><p>This object may be found <a href=\"" +
                to_utf8(html_encode(url)) + "\">here</a>.</p></body></html>\n");
  page_->ended = true;
  return S_OK;
}

HRESULT ResponseObject::Write(VARIANT varText) {
  HRESULT hr = check_page();
  if (FAILED(hr))
    return hr;
  // Text, what a page writes most, is encoded where it is.
  if (varText.vt == VT_BSTR)
    return write_bytes(encode_text(
        varText.bstrVal ? std::u16string_view(varText.bstrVal, SysStringLen(varText.bstrVal))
                        : std::u16string_view(),
        page_->code_page));
  ScopedVariant text;
  hr = VariantCopyInd(text.Receive(), &varText);
  if (FAILED(hr))
    return hr;
  if (text.Type() == VT_EMPTY || text.Type() == VT_NULL)
    return S_OK;
  if (text.Type() == VT_BOOL)
    return write_bytes(text.Get().boolVal ? "True" : "False");
  hr = text.ChangeType(VT_BSTR);
  if (FAILED(hr))
    return set_error(hr, u"Response.Write cannot show this value as text.");
  return write_bytes(encode_text(bstr_text(text.Get().bstrVal), page_->code_page));
}

HRESULT ResponseObject::WriteBlock(SHORT) {
  return set_error(E_NOTIMPL, u"Response.WriteBlock is not used by this host.");
}

HRESULT ResponseObject::IsClientConnected(VARIANT_BOOL* pfIsClientConnected) {
  if (!pfIsClientConnected)
    return E_POINTER;
  // The request was read whole before the page started, so the client was there.
  *pfIsClientConnected = VARIANT_TRUE;
  return check_page();
}

HRESULT ResponseObject::get_CharSet(BSTR* pbstrCharSetRet) {
  HRESULT hr = check_page();
  return FAILED(hr) ? hr : bstr_out(to_u16(page_->response.charset), pbstrCharSetRet);
}

HRESULT ResponseObject::put_CharSet(BSTR bstrCharSet) {
  HRESULT hr = check_headers_open(u"Response.CharSet");
  const std::u16string value = bstr_text(bstrCharSet);
  if (SUCCEEDED(hr))
    hr = refuse_line_breaks(value, u"Response.CharSet");
  if (FAILED(hr))
    return hr;
  page_->response.charset = to_utf8(value);
  return S_OK;
}

HRESULT ResponseObject::Pics(BSTR bstrHeaderValue) {
  return set_header(u"PICS-Label", bstr_text(bstrHeaderValue));
}

HRESULT ResponseObject::get_CacheControl(BSTR* pbstrCacheControl) {
  HRESULT hr = check_page();
  if (FAILED(hr))
    return hr;
  for (auto& [name, value] : page_->response.headers)
    if (iequals(name, "Cache-Control"))
      return bstr_out(to_u16(value), pbstrCacheControl);
  return bstr_out(u"private", pbstrCacheControl);
}

HRESULT ResponseObject::put_CacheControl(BSTR bstrCacheControl) {
  return set_header(u"Cache-Control", bstr_text(bstrCacheControl));
}

HRESULT ResponseObject::get_CodePage(LONG* plvar) {
  if (!plvar)
    return E_POINTER;
  HRESULT hr = check_page();
  if (FAILED(hr))
    return hr;
  *plvar = static_cast<LONG>(page_->code_page);
  return S_OK;
}

HRESULT ResponseObject::put_CodePage(LONG lvar) {
  HRESULT hr = check_page();
  if (FAILED(hr))
    return hr;
  const char probe = 'a';
  if (lvar <= 0 || MultiByteToWideChar(static_cast<UINT>(lvar), 0, &probe, 1, nullptr, 0) <= 0)
    return set_error(E_INVALIDARG, u"Response.CodePage: this code page is not available.");
  page_->code_page = static_cast<UINT>(lvar);
  return S_OK;
}

HRESULT ResponseObject::get_LCID(LONG* plvar) {
  if (!plvar)
    return E_POINTER;
  *plvar = lcid_;
  return check_page();
}

HRESULT ResponseObject::put_LCID(LONG lvar) {
  lcid_ = lvar;
  return check_page();
}

}  // namespace vhost
