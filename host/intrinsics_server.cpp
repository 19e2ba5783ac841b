// Server: activation of components through the registry (with their OnStartPage and OnEndPage
// calls), MapPath under the site root, HTML and URL encoding, and the script time-out.
#include <algorithm>
#include <new>
#include <string_view>
#include <vector>

#include "intrinsics.h"
#include "objbase.h"
#include "text.h"

namespace vhost {

namespace {

// text in UTF-16, converted again only when text changed since this thread's last call with
// this memo: the pages of a site map paths under one root, and one page maps most of its paths.
struct U16Memo {
  std::string text;  // empty at first, as its conversion is
  std::u16string converted;

  // backslashes: '/' becomes '\\' in the converted text (a memo is used with one setting).
  const std::u16string& of(const std::string& from, bool backslashes = false) {
    if (from != text) {
      converted = to_u16(from);
      if (backslashes)
        std::replace(converted.begin(), converted.end(), u'/', u'\\');
      text = from;
    }
    return converted;
  }
};

}  // namespace

bool map_virtual_path(const std::string& site_root, const std::string& page_path,
                      const std::u16string& logical, std::u16string* physical) {
  if (logical.find(u':') != std::u16string::npos || logical.find(u'\0') != std::u16string::npos)
    return false;
  if (logical.size() >= 2 && (logical[0] == u'/' || logical[0] == u'\\') &&
      (logical[1] == u'/' || logical[1] == u'\\'))
    return false;  // a network name
  // The segments are views into logical and into the page's folder, which outlive them.
  thread_local U16Memo root_memo;
  thread_local U16Memo page_memo;
  // Kept for the thread's next call, so that a path of a few segments needs no allocation.
  thread_local std::vector<std::u16string_view> segments;
  segments.clear();
  auto push_path = [](std::u16string_view path) {
    size_t start = 0;
    while (start <= path.size()) {
      size_t end = path.find_first_of(u"/\\", start);
      if (end == std::u16string_view::npos)
        end = path.size();
      const std::u16string_view part = path.substr(start, end - start);
      start = end + 1;
      if (part.empty() || part == u".")
        continue;
      if (part == u"..") {
        if (segments.empty())
          return false;
        segments.pop_back();
        continue;
      }
      segments.push_back(part);
    }
    return true;
  };
  if (logical.empty() || (logical[0] != u'/' && logical[0] != u'\\')) {
    const std::u16string& page = page_memo.of(page_path);
    if (!push_path(std::u16string_view(page).substr(0, page.find_last_of(u'/') + 1)))
      return false;
  }
  if (!push_path(logical))
    return false;
  const std::u16string& root = root_memo.of(site_root, true);
  size_t length = root.size();
  for (const std::u16string_view segment : segments)
    length += 1 + segment.size();
  std::u16string out;
  out.reserve(std::max<size_t>(length, 1));
  out = root;
  for (const std::u16string_view segment : segments) {
    out += u'\\';
    out += segment;
  }
  if (out.empty())
    out = u"\\";
  *physical = std::move(out);
  return true;
}

HRESULT ServerObject::get_ScriptTimeout(LONG* plTimeoutSeconds) {
  if (!plTimeoutSeconds)
    return E_POINTER;
  HRESULT hr = check_page();
  if (FAILED(hr))
    return hr;
  *plTimeoutSeconds = page_->script_timeout_seconds;
  return S_OK;
}

HRESULT ServerObject::put_ScriptTimeout(LONG lTimeoutSeconds) {
  HRESULT hr = check_page();
  if (FAILED(hr))
    return hr;
  if (lTimeoutSeconds <= 0)
    return set_error(E_INVALIDARG, u"Server.ScriptTimeout must be a positive number of seconds.");
  page_->script_timeout_seconds = lTimeoutSeconds;
  return S_OK;
}

HRESULT ServerObject::CreateObject(BSTR bstrProgID, IDispatch** ppDispObject) {
  if (!ppDispObject)
    return E_POINTER;
  *ppDispObject = nullptr;
  HRESULT hr = check_page();
  if (FAILED(hr))
    return hr;
  const std::u16string progid = bstr_text(bstrProgID);
  CLSID clsid{};
  hr = CLSIDFromProgID(progid.c_str(), &clsid);
  if (FAILED(hr))
    return set_error(hr, u"Server.CreateObject: no class is registered as '" + progid + u"'.");
  ComPtr<IDispatch> object;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                        reinterpret_cast<void**>(object.Receive()));
  if (FAILED(hr))
    return set_error(hr, u"Server.CreateObject: '" + progid + u"' could not be created.");
  std::u16string name = u"OnStartPage";
  LPOLESTR names[] = {name.data()};
  DISPID id = DISPID_UNKNOWN;
  if (SUCCEEDED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) {
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_UNKNOWN;
    arg.punkVal = page_->scripting_context();
    DISPPARAMS params{&arg, nullptr, 1, 0};
    EXCEPINFO excep{};
    hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                        /*pVarResult=*/nullptr, &excep, /*puArgErr=*/nullptr);
    // A component's own description arrives in the exception record; from an object that
    // reports no rich errors, as the thread's error information at most.
    std::u16string description = bstr_text(excep.bstrDescription);
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
    if (FAILED(hr)) {
      if (hr == DISP_E_EXCEPTION && excep.scode)
        hr = excep.scode;
      if (description.empty())
        description = take_error_description();
      return set_error(hr, u"Server.CreateObject: OnStartPage of '" + progid + u"' failed" +
                               (description.empty() ? u"." : u": " + description));
    }
    ComPtr<IDispatch> kept;
    kept.Set(object.Get());
    page_->page_objects.push_back(std::move(kept));
  }
  return object.CopyTo(ppDispObject);
}

HRESULT ServerObject::HTMLEncode(BSTR bstrIn, BSTR* pbstrEncoded) {
  return bstr_out(html_encode(bstr_text(bstrIn)), pbstrEncoded);
}

HRESULT ServerObject::MapPath(BSTR bstrLogicalPath, BSTR* pbstrPhysicalPath) {
  if (!pbstrPhysicalPath)
    return E_POINTER;
  *pbstrPhysicalPath = nullptr;
  HRESULT hr = check_page();
  if (FAILED(hr))
    return hr;
  std::u16string physical;
  const std::u16string logical = bstr_text(bstrLogicalPath);
  if (!map_virtual_path(page_->config.site_root, page_->page_path, logical, &physical))
    return set_error(E_ACCESSDENIED,
                     u"Server.MapPath: '" + logical + u"' is not a virtual path inside the site.");
  return bstr_out(physical, pbstrPhysicalPath);
}

HRESULT ServerObject::URLEncode(BSTR bstrIn, BSTR* pbstrEncoded) {
  const UINT cp = page_ ? page_->code_page : CP_UTF8;
  return bstr_out(url_encode(bstr_text(bstrIn), cp), pbstrEncoded);
}

HRESULT ServerObject::URLPathEncode(BSTR bstrIn, BSTR* pbstrEncoded) {
  static const char hex[] = "0123456789ABCDEF";
  const std::string bytes = encode_text(bstr_text(bstrIn), page_ ? page_->code_page : CP_UTF8);
  std::u16string out;
  for (unsigned char c : bytes) {
    if (c > 32 && c < 127 && c != '%' && c != '"' && c != '<' && c != '>' && c != '#') {
      out.push_back(c);
    } else {
      out.push_back(u'%');
      out.push_back(static_cast<char16_t>(hex[c >> 4]));
      out.push_back(static_cast<char16_t>(hex[c & 15]));
    }
  }
  return bstr_out(out, pbstrEncoded);
}

HRESULT ServerObject::Execute(BSTR) {
  return set_error(E_NOTIMPL, u"Server.Execute is not supported by this host.");
}

HRESULT ServerObject::Transfer(BSTR) {
  return set_error(E_NOTIMPL, u"Server.Transfer is not supported by this host.");
}

HRESULT ServerObject::GetLastError(IASPError** ppASPErrorObject) {
  if (ppASPErrorObject)
    *ppASPErrorObject = nullptr;
  return set_error(E_NOTIMPL, u"Server.GetLastError is not supported by this host.");
}

}  // namespace vhost
