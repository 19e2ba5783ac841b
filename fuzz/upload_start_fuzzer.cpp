// The upload object's page start on arbitrary requests, driven as a script page drives it:
// OnStartPage with a page whose request carries the content type and the body, then every item
// and attachment read back through the collections, MultiVal and IsItem of the first field,
// ViewParam, and OnEndPage. Each input runs twice: with the whole body, and with a client that
// stopped sending partway (TotalBytes counts the whole body, the read hands out a beginning of
// it).
//
// Input: the content type up to the first line feed (ANSI code page text), the body after it.
// The object comes from VtrlSrv registered into a registry file of the target's own.
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <string_view>

#include "com_ptr.h"
#include "fake_page.h"
#include "fuzz_check.h"
#include "late_bound.h"
#include "platform_config.h"
#include "scoped_variant.h"
#include "scratch_dir.h"
#include "windows.h"

namespace {

IClassFactory* factory = nullptr;

void start_up() {
  const std::string registry = fuzz::ScratchDir() + "/registry.reg";
  PlatformSetRegistryPath(registry.c_str());
  FUZZ_CHECK(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)), "CoInitializeEx");
  HMODULE module = LoadLibraryA(VTRLSRV_PATH);
  FUZZ_CHECK(module != nullptr, "VtrlSrv loads");
  auto do_register = reinterpret_cast<HRESULT (*)()>(GetProcAddress(module, "DllRegisterServer"));
  FUZZ_CHECK(do_register && do_register() == S_OK, "VtrlSrv registers");
  CLSID clsid{};
  FUZZ_CHECK(CLSIDFromProgID(u"Vantrel.FileUpload", &clsid) == S_OK, "the ProgID is registered");
  // The class object keeps the module loaded for the whole run.
  FUZZ_CHECK(CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                              reinterpret_cast<void**>(&factory)) == S_OK,
             "the class object is there");
}

// The text of a string property of element (the empty text when the read fails).
void read_text(IDispatch* element, const char16_t* property) {
  ScopedVariant v;
  if (SUCCEEDED(late_bound::Get(element, property, {}, v.Receive())))
    FUZZ_CHECK(v.Type() == VT_BSTR || v.Type() == VT_I4 || v.Type() == (VT_ARRAY | VT_UI1),
               "a property gives text, a number or bytes");
}

// Reads every element of the collection name with the properties given; returns the name of
// the first element (empty when there is none).
std::u16string walk(IDispatch* upload, const char16_t* name,
                    std::initializer_list<const char16_t*> properties) {
  std::u16string first_name;
  ScopedVariant collection;
  FUZZ_CHECK(late_bound::Get(upload, name, {}, collection.Receive()) == S_OK &&
                 collection.Type() == VT_DISPATCH,
             "a started upload has its collections");
  IDispatch* c = collection.Get().pdispVal;
  ScopedVariant count;
  FUZZ_CHECK(late_bound::Get(c, u"Count", {}, count.Receive()) == S_OK, "Count");
  for (LONG i = 1; i <= count.Get().lVal; ++i) {
    ScopedVariant element;
    FUZZ_CHECK(late_bound::Get(c, u"Item", {late_bound::I4(i)}, element.Receive()) == S_OK &&
                   element.Type() == VT_DISPATCH,
               "each element up to Count is there");
    for (const char16_t* property : properties)
      read_text(element.Get().pdispVal, property);
    if (i == 1) {
      ScopedVariant element_name;
      if (SUCCEEDED(late_bound::Get(element.Get().pdispVal, u"Name", {}, element_name.Receive())))
        first_name.assign(element_name.Get().bstrVal, SysStringLen(element_name.Get().bstrVal));
    }
  }
  // Past the last one.
  ScopedVariant none;
  FUZZ_CHECK(
      FAILED(late_bound::Get(c, u"Item", {late_bound::I4(count.Get().lVal + 1)}, none.Receive())),
      "no element past Count");
  return first_name;
}

void start(const std::u16string& content_type, std::string_view body, size_t delivered) {
  ComPtr<IDispatch> upload;
  FUZZ_CHECK(factory->CreateInstance(nullptr, IID_IDispatch,
                                     reinterpret_cast<void**>(upload.Receive())) == S_OK,
             "an upload object is made");
  fake_page::Context* context = fake_page::MakeContext(content_type, std::string(body));
  context->request->delivered = delivered;
  const HRESULT hr = late_bound::Call(upload.Get(), u"OnStartPage", DISPATCH_METHOD,
                                      {late_bound::Unknown(context)}, nullptr);
  if (hr == S_OK) {
    const std::u16string field = walk(upload.Get(), u"Items", {u"Value"});
    walk(upload.Get(), u"Attachments", {u"FileName", u"Size", u"MimeType", u"Data"});
    ScopedVariant multi;
    late_bound::Get(upload.Get(), u"MultiVal", {late_bound::Str(field.c_str())}, multi.Receive());
    ScopedVariant is_item;
    late_bound::Call(upload.Get(), u"IsItem", DISPATCH_METHOD, {late_bound::Str(field.c_str())},
                     is_item.Receive());
    late_bound::Call(upload.Get(), u"ViewParam", DISPATCH_METHOD, {}, nullptr);
  }
  late_bound::Call(upload.Get(), u"OnEndPage", DISPATCH_METHOD, {}, nullptr);
  context->Release();
  late_bound::TakeErrorDescription();
}

uint32_t fnv1a(std::string_view bytes) {
  uint32_t h = 2166136261u;
  for (unsigned char c : bytes)
    h = (h ^ c) * 16777619u;
  return h;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  start_up();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t line_end = input.find('\n');
  const std::string_view type_bytes = input.substr(0, line_end);
  const std::string_view body =
      line_end == std::string_view::npos ? std::string_view() : input.substr(line_end + 1);

  std::u16string content_type(type_bytes.size(), u'\0');
  if (!type_bytes.empty()) {
    const int n =
        MultiByteToWideChar(CP_ACP, 0, type_bytes.data(), static_cast<int>(type_bytes.size()),
                            content_type.data(), static_cast<int>(content_type.size()));
    content_type.resize(n > 0 ? static_cast<size_t>(n) : 0);
  }
  start(content_type, body, std::string::npos);
  // The cut comes from the input itself, so that a crash reproduces from the input alone.
  start(content_type, body, fnv1a(input) % (body.size() + 1));
  return 0;
}
