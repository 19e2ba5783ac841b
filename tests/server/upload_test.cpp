// Tests of the upload road as a script drives it: the upload object created by ProgID through
// the registry and called by name only, on bodies shaped as browsers send them.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "com_ptr.h"
#include "fake_page.h"
#include "faultsim.h"
#include "late_bound.h"
#include "platform_config.h"
#include "scoped_variant.h"
#include "upload_fixture.h"
#include "windows.h"

namespace {

using late_bound::Call;
using late_bound::Get;
using late_bound::I4;
using late_bound::Str;

const char kBoundary[] = "----WebKitFormBoundary7MA4YWxkTrZu0gW";
const char16_t kContentType[] =
    u"multipart/form-data; boundary=----WebKitFormBoundary7MA4YWxkTrZu0gW";
// "한글 값" in code page 949.
const char kKorean949[] = "\xC7\xD1\xB1\xDB \xB0\xAA";

std::string part(const std::string& headers, const std::string& content) {
  return std::string("--") + kBoundary + "\r\n" + headers + "\r\n\r\n" + content + "\r\n";
}

std::string closing() {
  return std::string("--") + kBoundary + "--\r\n";
}

std::string binary_content() {
  std::string bytes;
  for (int i = 0; i < 600; ++i)
    bytes += static_cast<char>((i * 37) % 256);  // zero bytes inside
  bytes += std::string("\r\n--") +
           std::string(kBoundary).substr(0, 10);  // a near-delimiter stays content
  return bytes;
}

std::string browser_body() {
  return part("Content-Disposition: form-data; name=\"title\"", "hello") +
         part("Content-Disposition: form-data; name=\"note\"", kKorean949) +
         part(
             "Content-Disposition: form-data; name=\"upfile\"; filename=\"C:\\Docs\\a.bin\"\r\n"
             "Content-Type: application/octet-stream",
             binary_content()) +
         part(
             "Content-Disposition: form-data; name=\"empty\"; filename=\"\"\r\n"
             "Content-Type: application/octet-stream",
             "") +
         part("Content-Disposition: form-data; name=\"tag\"", "a") +
         part("Content-Disposition: form-data; name=\"TAG\"", "b") + closing();
}

class Upload : public UploadFixture {};

TEST_F(Upload, BrowserBodyGivesRecordsAndCollections) {
  ASSERT_EQ(S_OK, start(kContentType, browser_body()));
  ComPtr<IDispatch> items = collection(u"Items");
  ComPtr<IDispatch> attachments = collection(u"Attachments");
  ASSERT_TRUE(items && attachments);
  EXPECT_EQ(5, count(items.Get())) << "title, note, the empty file input, tag, TAG";
  EXPECT_EQ(1, count(attachments.Get()));

  EXPECT_EQ(u"hello", element_text(items.Get(), Str(u"TITLE"), u"Value")) << "names ignore case";
  EXPECT_EQ(u"한글 값", element_text(items.Get(), Str(u"note"), u"Value"));
  EXPECT_EQ(u"", element_text(items.Get(), Str(u"empty"), u"Value"));
  EXPECT_EQ(u"a", element_text(items.Get(), Str(u"tag"), u"Value")) << "the first of a name";
  EXPECT_EQ(u"TAG", element_text(items.Get(), I4(5), u"Name"));
  EXPECT_EQ(u"title", element_text(items.Get(), I4(1), u"Name"));

  ScopedVariant found;
  EXPECT_EQ(E_INVALIDARG, Get(items.Get(), u"Item", {I4(0)}, found.Receive()));
  EXPECT_EQ(E_INVALIDARG, Get(items.Get(), u"Item", {I4(6)}, found.Receive()));
  EXPECT_EQ(E_INVALIDARG, Get(items.Get(), u"Item", {Str(u"missing")}, found.Receive()));
  VARIANT real;
  VariantInit(&real);
  real.vt = VT_R8;
  real.dblVal = 1.0;
  EXPECT_EQ(E_INVALIDARG, Get(items.Get(), u"Item", {real}, found.Receive()))
      << "a number of another kind is never taken for an object";
  VARIANT empty;
  VariantInit(&empty);
  EXPECT_EQ(E_INVALIDARG, Get(items.Get(), u"Item", {empty}, found.Receive()));
  VARIANT short_index;
  VariantInit(&short_index);
  short_index.vt = VT_I2;
  short_index.iVal = 1;
  EXPECT_EQ(u"title", element_text(items.Get(), short_index, u"Name"));

  ScopedVariant v;
  ASSERT_EQ(S_OK, Call(upload_.Get(), u"IsItem", DISPATCH_METHOD, {Str(u"title")}, v.Receive()));
  EXPECT_EQ(1, v.Get().lVal);
  ASSERT_EQ(S_OK, Call(upload_.Get(), u"IsItem", DISPATCH_METHOD, {Str(u"Title")}, v.Receive()));
  EXPECT_EQ(0, v.Get().lVal) << "IsItem compares exactly";
  ASSERT_EQ(S_OK, Call(upload_.Get(), u"IsItem", DISPATCH_METHOD, {Str(u"upfile")}, v.Receive()));
  EXPECT_EQ(1, v.Get().lVal) << "file parts count too";
}

// Every allocation of a Data read fails in turn: the read either succeeds with all the bytes or
// fails with nothing, never succeeds with nothing (which a script would take for no content).
TEST_F(Upload, DataThatCannotBeMadeIsAFailureNotEmptyContent) {
  ASSERT_EQ(S_OK, start(kContentType, browser_body()));
  ComPtr<IDispatch> upfile = attachment(u"upfile");
  ASSERT_TRUE(upfile);
  IDispatch* file = upfile.Get();
  const std::string expected = binary_content();
  int failures = 0;
  for (int n = 1;; ++n) {
    ScopedVariant v;
    FaultSimConfig(n, FALSE);
    const HRESULT hr = Get(file, u"Data", {}, v.Receive());
    const int faults = FaultSimFaults();
    FaultSimConfig(0, FALSE);
    if (SUCCEEDED(hr)) {
      ASSERT_EQ(VT_ARRAY | VT_UI1, v.Type()) << "step " << n;
      void* bytes = nullptr;
      ASSERT_EQ(S_OK, SafeArrayAccessData(v.Get().parray, &bytes));
      EXPECT_EQ(expected, std::string(static_cast<char*>(bytes), expected.size()));
      SafeArrayUnaccessData(v.Get().parray);
    } else {
      EXPECT_EQ(E_OUTOFMEMORY, hr) << "step " << n;
      EXPECT_EQ(VT_EMPTY, v.Type()) << "step " << n;
      ++failures;
    }
    if (faults == 0)
      break;
    ASSERT_LT(n, 100);
  }
  EXPECT_GT(failures, 0) << "no allocation of the read reached the simulator";
}

TEST_F(Upload, AttachmentPropertiesAndBytes) {
  ASSERT_EQ(S_OK, start(kContentType, browser_body()));
  ComPtr<IDispatch> upfile = attachment(u"upfile");
  ASSERT_TRUE(upfile);
  IDispatch* file = upfile.Get();
  ScopedVariant v;
  ASSERT_EQ(S_OK, Get(file, u"FileName", {}, (v.Reset(), v.Receive())));
  EXPECT_EQ(std::u16string(u"a.bin"), v.Get().bstrVal);
  ASSERT_EQ(S_OK, Get(file, u"Name", {}, (v.Reset(), v.Receive())));
  EXPECT_EQ(std::u16string(u"upfile"), v.Get().bstrVal);
  ASSERT_EQ(S_OK, Get(file, u"MimeType", {}, (v.Reset(), v.Receive())));
  EXPECT_EQ(std::u16string(u" application/octet-stream\r\n"), v.Get().bstrVal);
  const std::string expected = binary_content();
  ASSERT_EQ(S_OK, Get(file, u"Size", {}, (v.Reset(), v.Receive())));
  EXPECT_EQ(static_cast<LONG>(expected.size()), v.Get().lVal);
  ASSERT_EQ(S_OK, Get(file, u"ZipSize", {}, (v.Reset(), v.Receive())));
  EXPECT_EQ(0, v.Get().lVal);
  ASSERT_EQ(S_OK, Get(file, u"Data", {}, (v.Reset(), v.Receive())));
  ASSERT_EQ(VT_ARRAY | VT_UI1, v.Type());
  LONG lower = -1;
  LONG upper = -1;
  SafeArrayGetLBound(v.Get().parray, 1, &lower);
  SafeArrayGetUBound(v.Get().parray, 1, &upper);
  EXPECT_EQ(0, lower);
  EXPECT_EQ(static_cast<LONG>(expected.size()) - 1, upper);
  void* bytes = nullptr;
  ASSERT_EQ(S_OK, SafeArrayAccessData(v.Get().parray, &bytes));
  EXPECT_EQ(expected, std::string(static_cast<char*>(bytes), expected.size()));
  SafeArrayUnaccessData(v.Get().parray);
  // The default member is the file name.
  DISPPARAMS none{};
  ASSERT_EQ(S_OK, file->Invoke(DISPID_VALUE, GUID_NULL, 0, DISPATCH_PROPERTYGET, &none,
                               (v.Reset(), v.Receive()), nullptr, nullptr));
  EXPECT_EQ(std::u16string(u"a.bin"), v.Get().bstrVal);
  // The element itself as the index gives that element.
  ScopedVariant again;
  VARIANT self;
  VariantInit(&self);
  self.vt = VT_DISPATCH;
  self.pdispVal = file;
  file->AddRef();
  ASSERT_EQ(S_OK, Get(collection(u"Attachments").Get(), u"Item", {self}, again.Receive()));
  EXPECT_EQ(file, again.Get().pdispVal);
}

TEST_F(Upload, MultiValAndEnumeration) {
  ASSERT_EQ(S_OK, start(kContentType, browser_body()));
  ScopedVariant values;
  ASSERT_EQ(S_OK, Get(upload_.Get(), u"MultiVal", {Str(u"Tag")}, values.Receive()));
  ASSERT_EQ(VT_ARRAY | VT_VARIANT, values.Type());
  LONG lower = 0;
  LONG upper = 0;
  SafeArrayGetLBound(values.Get().parray, 1, &lower);
  SafeArrayGetUBound(values.Get().parray, 1, &upper);
  EXPECT_EQ(1, lower);
  EXPECT_EQ(2, upper);
  ScopedVariant second;
  LONG index = 2;
  ASSERT_EQ(S_OK, SafeArrayGetElement(values.Get().parray, &index, second.Receive()));
  EXPECT_EQ(std::u16string(u"b"), second.Get().bstrVal);
  ScopedVariant none;
  ASSERT_EQ(S_OK, Get(upload_.Get(), u"MultiVal", {Str(u"upfile")}, none.Receive()));
  SafeArrayGetUBound(none.Get().parray, 1, &upper);
  EXPECT_EQ(0, upper) << "file parts are never values; no match is an empty array";

  ComPtr<IDispatch> items = collection(u"Items");
  ScopedVariant enum_unknown;
  DISPPARAMS params{};
  ASSERT_EQ(S_OK, items->Invoke(DISPID_NEWENUM, GUID_NULL, 0, DISPATCH_PROPERTYGET, &params,
                                enum_unknown.Receive(), nullptr, nullptr));
  ComPtr<IEnumVARIANT> e;
  ASSERT_EQ(S_OK, enum_unknown.Get().punkVal->QueryInterface(
                      IID_IEnumVARIANT, reinterpret_cast<void**>(e.Receive())));
  VARIANT got[10];
  ULONG fetched = 99;
  EXPECT_EQ(S_FALSE, e->Next(10, got, &fetched));
  EXPECT_EQ(5u, fetched);
  for (ULONG i = 0; i < fetched; ++i)
    VariantClear(&got[i]);
  EXPECT_EQ(S_FALSE, e->Next(10, got, &fetched));
  EXPECT_EQ(0u, fetched);
  EXPECT_EQ(S_OK, e->Reset());
  EXPECT_EQ(S_OK, e->Skip(4));
  EXPECT_EQ(S_FALSE, e->Skip(2));
  e->Reset();
  ComPtr<IEnumVARIANT> clone;
  ASSERT_EQ(S_OK, e->Clone(clone.Receive()));
  ASSERT_EQ(S_OK, clone->Next(1, got, nullptr));
  ScopedVariant name;
  ASSERT_EQ(S_OK, Get(got[0].pdispVal, u"Name", {}, name.Receive()));
  EXPECT_EQ(std::u16string(u"title"), name.Get().bstrVal);
  VariantClear(&got[0]);
  EXPECT_EQ(E_POINTER, e->Next(2, got, nullptr));
}

// Values are read back whole on either side of the length up to which a text is converted in
// one pass (256 bytes), in ASCII, in double-byte text and with a lead byte cut off at the end.
TEST_F(Upload, ValuesOfEveryLengthReadBackWhole) {
  std::vector<std::string> values;
  for (size_t n : {size_t{1}, size_t{255}, size_t{256}, size_t{257}, size_t{600}})
    values.push_back(std::string(n, 'v'));
  for (size_t characters : {size_t{127}, size_t{128}, size_t{129}}) {
    std::string korean;
    for (size_t i = 0; i < characters; ++i)
      korean += "\xC7\xD1";  // one Hangul syllable in code page 949
    values.push_back(korean);
  }
  values.push_back(std::string(255, 'w') + "\xC7");
  values.push_back(std::string(256, 'w') + "\xC7");
  std::string body;
  for (size_t i = 0; i < values.size(); ++i)
    body += part("Content-Disposition: form-data; name=\"v" + std::to_string(i) + "\"", values[i]);
  ASSERT_EQ(S_OK, start(kContentType, body + closing()));
  ComPtr<IDispatch> items = collection(u"Items");
  for (size_t i = 0; i < values.size(); ++i) {
    SCOPED_TRACE(i);
    const std::string& value = values[i];
    const int bytes = static_cast<int>(value.size());
    std::u16string expected(value.size(), u'\0');
    expected.resize(static_cast<size_t>(
        MultiByteToWideChar(CP_ACP, 0, value.data(), bytes, expected.data(), bytes)));
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(expected, element_text(items.Get(), I4(static_cast<LONG>(i + 1)), u"Value"));
  }
}

TEST_F(Upload, RequestsThatAreNotMultipart) {
  late_bound::TakeErrorDescription();
  fake_page::Context* context = nullptr;
  ASSERT_EQ(S_OK, start(u"application/x-www-form-urlencoded", "a=1&b=2", &context));
  EXPECT_EQ(0, context->request->binary_reads) << "the body stays unread";
  context->Release();
  EXPECT_EQ(u"폼태그의 enctype이 multipart/form-data로 지정되어 있지 않습니다.",
            late_bound::TakeErrorDescription());
  EXPECT_EQ(0, count(collection(u"Items").Get()));
  ScopedVariant found;
  EXPECT_EQ(E_INVALIDARG, Get(collection(u"Items").Get(), u"Item", {I4(1)}, found.Receive()));

  // Another spelling of the type is accepted.
  ASSERT_EQ(S_OK, start(u"Multipart/Form-Data; boundary=" + std::u16string(kContentType + 30),
                        browser_body()));
  EXPECT_EQ(5, count(collection(u"Items").Get()));
}

TEST_F(Upload, PageStartFailures) {
  EXPECT_EQ(E_POINTER, Call(upload_.Get(), u"OnStartPage", DISPATCH_METHOD,
                            {late_bound::Unknown(nullptr)}, nullptr));
  for (int read = 0; read < 5; ++read) {
    fake_page::Context* context = fake_page::MakeContext(kContentType, browser_body());
    context->fail_read = read;
    EXPECT_EQ(E_FAIL, Call(upload_.Get(), u"OnStartPage", DISPATCH_METHOD,
                           {late_bound::Unknown(context)}, nullptr));
    EXPECT_EQ(1u, context->refs) << "nothing held after a failed start, read " << read;
    context->Release();
  }
  // Content type that cannot be read: its status and the message.
  fake_page::Context* context = fake_page::MakeContext(kContentType, browser_body());
  context->request->variables->has_content_type = false;
  EXPECT_EQ(E_FAIL, Call(upload_.Get(), u"OnStartPage", DISPATCH_METHOD,
                         {late_bound::Unknown(context)}, nullptr));
  EXPECT_EQ(u"폼태그의 enctype이 multipart/form-data로 지정되어 있지 않습니다.",
            late_bound::TakeErrorDescription());
  context->Release();
  // BinaryRead without an array, and a failing TotalBytes.
  context = fake_page::MakeContext(kContentType, browser_body());
  context->request->binary_read_gives_no_array = true;
  EXPECT_EQ(E_FAIL, Call(upload_.Get(), u"OnStartPage", DISPATCH_METHOD,
                         {late_bound::Unknown(context)}, nullptr));
  context->request->binary_read_gives_no_array = false;
  context->request->fail_total_bytes = E_ACCESSDENIED;
  EXPECT_EQ(E_ACCESSDENIED, Call(upload_.Get(), u"OnStartPage", DISPATCH_METHOD,
                                 {late_bound::Unknown(context)}, nullptr));
  EXPECT_EQ(1u, context->refs);
  context->Release();
  EXPECT_EQ(0, count(collection(u"Items").Get())) << "no collection entries without a full parse";
  EXPECT_EQ(S_OK, Call(upload_.Get(), u"OnEndPage", DISPATCH_METHOD, {}, nullptr));
  EXPECT_EQ(S_OK, Call(upload_.Get(), u"OnEndPage", DISPATCH_METHOD, {}, nullptr));
}

TEST_F(Upload, MalformedBodies) {
  const std::string body = browser_body();
  EXPECT_EQ(E_FAIL, start(kContentType, "")) << "an empty body";
  EXPECT_EQ(E_FAIL, start(kContentType, body.substr(0, body.size() / 2))) << "truncated";
  // An unquoted boundary ends at ';': a charset after it no longer hides the delimiter.
  EXPECT_EQ(S_OK, start(std::u16string(kContentType) + u"; charset=UTF-8", body));
  // A quoted boundary.
  EXPECT_EQ(S_OK, start(u"multipart/form-data; boundary=\"----WebKitFormBoundary7MA4YWxkTrZu0gW\"",
                        body));
  // A delimiter one byte after the read position leaves no room for its CR LF.
  const std::string tight = std::string("--") + kBoundary + "\r\n\r\nx--" + kBoundary + "--\r\n";
  EXPECT_EQ(E_FAIL, start(kContentType, tight));
  // A closing delimiter with nothing after it ends the parse normally.
  const std::string no_final_newline =
      part("Content-Disposition: form-data; name=\"x\"", "1") + "--" + kBoundary + "--";
  EXPECT_EQ(S_OK, start(kContentType, no_final_newline));
  // The body is read where the request keeps it, with no byte after it: a body cut anywhere
  // in its last delimiter has a part without an end, and the search for that end stops at the
  // body's last byte (the sanitizer build reads the array exactly as large as the body).
  const std::string closing = "\r\n--" + std::string(kBoundary) + "--";
  const std::string first = "--" + std::string(kBoundary) + "\r\n" +
                            "Content-Disposition: form-data; name=\"x\"\r\n\r\n1";
  for (size_t cut = 0; cut < closing.size() - 2; ++cut) {
    SCOPED_TRACE(cut);
    EXPECT_EQ(E_FAIL, start(kContentType, first + closing.substr(0, cut)));
  }
  EXPECT_EQ(S_OK, start(kContentType, first + closing));
}

TEST_F(Upload, ElementsOutliveTheUploadObject) {
  ASSERT_EQ(S_OK, start(kContentType, browser_body()));
  ComPtr<IDispatch> attachments = collection(u"Attachments");
  ScopedVariant file;
  ASSERT_EQ(S_OK, Get(attachments.Get(), u"Item", {I4(1)}, file.Receive()));
  ASSERT_EQ(S_OK, Call(upload_.Get(), u"OnEndPage", DISPATCH_METHOD, {}, nullptr));
  upload_.Reset();
  attachments.Reset();
  // The records are still there for the element a script kept.
  ScopedVariant data;
  ASSERT_EQ(S_OK, Get(file.Get().pdispVal, u"Data", {}, data.Receive()));
  LONG upper = 0;
  SafeArrayGetUBound(data.Get().parray, 1, &upper);
  EXPECT_EQ(static_cast<LONG>(binary_content().size()) - 1, upper);
}

TEST_F(Upload, ModuleUnloadsWhenItsObjectsAreGone) {
  ASSERT_EQ(S_OK, start(kContentType, browser_body()));
  ComPtr<IDispatch> items = collection(u"Items");
  upload_.Reset();
  char real[4096];
  ASSERT_NE(nullptr, realpath(VTRLSRV_PATH, real));
  CoFreeUnusedLibraries();
  EXPECT_NE(nullptr, GetModuleHandleA(real)) << "a collection a script keeps holds the module";
  items.Reset();
  CoFreeUnusedLibraries();
  EXPECT_EQ(nullptr, GetModuleHandleA(real));
}

TEST_F(Upload, EveryAllocationOfThePageStartMayFail) {
  const std::string body = browser_body();
  for (BOOL persistent : {FALSE, TRUE}) {
    for (int n = 1;; ++n) {
      ComPtr<IDispatch> fresh;
      CLSID clsid{};
      CLSIDFromProgID(u"Vantrel.FileUpload", &clsid);
      ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                       reinterpret_cast<void**>(fresh.Receive())));
      fake_page::Context* context = fake_page::MakeContext(kContentType, body);
      VARIANT arg = late_bound::Unknown(context);
      DISPPARAMS params{&arg, nullptr, 1, 0};
      const DISPID id = late_bound::Id(fresh.Get(), u"OnStartPage");
      FaultSimConfig(n, persistent);
      const HRESULT hr = late_bound::InvokeId(fresh.Get(), id, DISPATCH_METHOD, &params, nullptr);
      const int faults = FaultSimFaults();
      FaultSimConfig(0, FALSE);
      VariantClear(&arg);
      EXPECT_TRUE(hr == S_OK || hr == E_OUTOFMEMORY || hr == E_FAIL) << n << ": " << std::hex << hr;
      EXPECT_EQ(1u, context->refs) << "nothing held after the start, step " << n;
      context->Release();
      late_bound::TakeErrorDescription();
      if (faults == 0) {
        EXPECT_EQ(S_OK, hr);
        break;
      }
      ASSERT_LT(n, 500);
    }
  }
}

}  // namespace
