// VtrlSrv.dll driven as a Windows script host drives it, run under Wine: registered by the
// system's regsvr32, created by ProgID, called late-bound through GetIDsOfNames and Invoke (so
// the system's ITypeInfo::Invoke calls the DLL's vtables from the registered type library),
// given a page whose request carries a browser's body; then unregistered, leaving no key.
//
// Usage: vtrlsrv_wine_test <body file>, beside VtrlSrv.dll. The body is Firefox's post from a
// page in code page 949, so the process's ANSI code page must be 949 (LANG=ko_KR.UTF-8 under
// Wine). Exit status 0 when every check passed.
#include <windows.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "fake_context.h"

namespace {

int failures = 0;

void report(bool ok, const char* what, int line) {
  if (!ok) {
    ++failures;
    fprintf(stderr, "FAILED line %d: %s\n", line, what);
  }
}

#define CHECK(cond) report((cond), #cond, __LINE__)
#define CHECK_HR(expected, expr)                                                      \
  do {                                                                                \
    const HRESULT hr_ = (expr);                                                       \
    if (hr_ != (expected))                                                            \
      fprintf(stderr, "  %s gave 0x%08lX\n", #expr, static_cast<unsigned long>(hr_)); \
    report(hr_ == (expected), #expected " == " #expr, __LINE__);                      \
  } while (0)

constexpr wchar_t kUploadClsid[] = L"{02E33F60-4DAF-4EEE-8443-0FE020710631}";
constexpr wchar_t kDownloadClsid[] = L"{B6FBDF18-27F9-48E0-87E8-5FC3B11AC1C8}";
constexpr wchar_t kLibid[] = L"{006963E8-53A0-4845-A0B1-C9D313563701}";
constexpr wchar_t kUploadIid[] = L"{E54197C9-5606-4A1E-9CCB-7262146D1FB9}";
constexpr wchar_t kBoundary[] = L"----geckoformboundary9d1e6a2c4b7f03e58aa1";

// A VARIANT that clears itself.
class Var {
 public:
  Var() { VariantInit(&v); }
  ~Var() { VariantClear(&v); }
  Var(const Var&) = delete;
  Var& operator=(const Var&) = delete;
  VARIANT v;
};

VARIANT Str(const std::wstring& text) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return v;
}

VARIANT I4(LONG n) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = n;
  return v;
}

VARIANT Unknown(IUnknown* p) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_UNKNOWN;
  v.punkVal = p;
  p->AddRef();
  return v;
}

// What the last failed call left in its EXCEPINFO.
std::wstring last_description;

// Calls member name of object late-bound with args (in script order; they are cleared after the
// call). A failure that the member reports as an exception gives its scode.
HRESULT Call(IDispatch* object, const wchar_t* name, WORD flags, std::vector<VARIANT> args,
             VARIANT* result) {
  last_description.clear();
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (SUCCEEDED(hr)) {
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    EXCEPINFO info{};
    UINT arg_error = 0;
    hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &info,
                        &arg_error);
    if (hr == DISP_E_EXCEPTION) {
      if (info.bstrDescription)
        last_description.assign(info.bstrDescription, SysStringLen(info.bstrDescription));
      hr = info.scode;
    }
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
  }
  for (VARIANT& v : args)
    VariantClear(&v);
  return hr;
}

// A property or method result converted to text ("" when the call fails).
std::wstring Text(IDispatch* object, const wchar_t* name, std::vector<VARIANT> args = {}) {
  Var result;
  if (FAILED(
          Call(object, name, DISPATCH_PROPERTYGET | DISPATCH_METHOD, std::move(args), &result.v)) ||
      FAILED(VariantChangeType(&result.v, &result.v, 0, VT_BSTR)))
    return L"";
  return std::wstring(result.v.bstrVal, SysStringLen(result.v.bstrVal));
}

LONG Number(IDispatch* object, const wchar_t* name, std::vector<VARIANT> args = {}) {
  Var result;
  if (FAILED(
          Call(object, name, DISPATCH_PROPERTYGET | DISPATCH_METHOD, std::move(args), &result.v)) ||
      FAILED(VariantChangeType(&result.v, &result.v, 0, VT_I4)))
    return -1;
  return result.v.lVal;
}

// An object-valued property; null when the call fails. The caller releases it.
IDispatch* Object(IDispatch* object, const wchar_t* name, std::vector<VARIANT> args = {}) {
  Var result;
  if (FAILED(
          Call(object, name, DISPATCH_PROPERTYGET | DISPATCH_METHOD, std::move(args), &result.v)) ||
      result.v.vt != VT_DISPATCH || !result.v.pdispVal)
    return nullptr;
  IDispatch* out = result.v.pdispVal;
  out->AddRef();
  return out;
}

std::string Bytes(const VARIANT& v) {
  if (v.vt != (VT_ARRAY | VT_UI1) || SafeArrayGetDim(v.parray) != 1)
    return "<not a byte array>";
  LONG lower = 0;
  LONG upper = -1;
  SafeArrayGetLBound(v.parray, 1, &lower);
  SafeArrayGetUBound(v.parray, 1, &upper);
  void* data = nullptr;
  SafeArrayAccessData(v.parray, &data);
  std::string out(static_cast<const char*>(data), static_cast<size_t>(upper - lower + 1));
  SafeArrayUnaccessData(v.parray);
  return out;
}

std::string FileBytes(const std::wstring& path) {
  std::string out;
  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return "<missing>";
  char buffer[65536];
  DWORD n = 0;
  while (ReadFile(file, buffer, sizeof buffer, &n, nullptr) && n > 0)
    out.append(buffer, n);
  CloseHandle(file);
  return out;
}

// The content of the part named name in a multipart body.
std::string PartContent(const std::string& body, const std::string& name) {
  const size_t header = body.find("name=\"" + name + "\"");
  const size_t start = body.find("\r\n\r\n", header) + 4;
  const size_t end = body.find("\r\n--", start);
  return body.substr(start, end - start);
}

IDispatch* Create(const wchar_t* progid) {
  CLSID clsid{};
  IDispatch* object = nullptr;
  if (FAILED(CLSIDFromProgID(progid, &clsid)) ||
      FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                              reinterpret_cast<void**>(&object))))
    return nullptr;
  return object;
}

// Exit code of regsvr32 with arguments args, run by the system and waited for.
DWORD RunRegsvr32(const std::wstring& args) {
  std::wstring command = L"regsvr32.exe " + args;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return static_cast<DWORD>(-1);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = static_cast<DWORD>(-1);
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

// The default value of HKCR\key, or "<absent>".
std::wstring ClassesValue(const std::wstring& key, const wchar_t* value = nullptr) {
  wchar_t data[1024];
  DWORD size = sizeof data;
  if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), value, RRF_RT_REG_SZ, nullptr, data, &size) !=
      ERROR_SUCCESS)
    return L"<absent>";
  return data;
}

bool ClassesKeyExists(const std::wstring& key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
    return false;
  RegCloseKey(handle);
  return true;
}

// Every key that registration makes, by both ProgIDs, class, type library and interface.
const std::vector<std::wstring> kRegisteredKeys = {
    L"Vantrel.FileUpload",
    L"Vantrel.FileUpload.1",
    L"Vantrel.FileDownload",
    L"Vantrel.FileDownload.1",
    std::wstring(L"CLSID\\") + kUploadClsid,
    std::wstring(L"CLSID\\") + kDownloadClsid,
    std::wstring(L"TypeLib\\") + kLibid,
    std::wstring(L"Interface\\") + kUploadIid,
};

void CheckRegistered(const std::wstring& dll) {
  for (const std::wstring& key : kRegisteredKeys)
    report(ClassesKeyExists(key), "registered key present", __LINE__);
  CHECK(ClassesValue(L"Vantrel.FileUpload\\CLSID") == kUploadClsid);
  const std::wstring server =
      ClassesValue(std::wstring(L"CLSID\\") + kUploadClsid + L"\\InprocServer32");
  CHECK(lstrcmpiW(server.c_str(), dll.c_str()) == 0);
  CHECK(ClassesValue(std::wstring(L"CLSID\\") + kUploadClsid + L"\\InprocServer32",
                     L"ThreadingModel") == L"Apartment");
  CHECK(ClassesValue(std::wstring(L"CLSID\\") + kDownloadClsid + L"\\TypeLib") == kLibid);
  // The type library is registered from the DLL's own resource, under its own locale.
  CHECK(lstrcmpiW(ClassesValue(std::wstring(L"TypeLib\\") + kLibid + L"\\1.0\\409\\win64").c_str(),
                  dll.c_str()) == 0);
  CHECK(ClassesValue(std::wstring(L"Interface\\") + kUploadIid + L"\\TypeLib") == kLibid);
}

void CheckUnregistered() {
  for (const std::wstring& key : kRegisteredKeys) {
    if (ClassesKeyExists(key))
      fprintf(stderr, "  left behind: HKCR\\%ls\n", key.c_str());
    report(!ClassesKeyExists(key), "no registered key left", __LINE__);
  }
}

// The upload object on the browser's body: items, attachments and the saves.
void TestUpload(const std::string& body, const std::wstring& work) {
  IDispatch* upload = Create(L"Vantrel.FileUpload");
  CHECK(upload != nullptr);
  if (!upload)
    return;
  auto* page =
      new fake_context::Context(std::wstring(L"multipart/form-data; boundary=") + kBoundary, body);
  CHECK_HR(S_OK, Call(upload, L"OnStartPage", DISPATCH_METHOD, {Unknown(page)}, nullptr));
  CHECK(page->request->binary_reads == 1);

  IDispatch* items = Object(upload, L"Items");
  CHECK(items != nullptr);
  if (items) {
    CHECK(Number(items, L"Count") == 3);
    IDispatch* title = Object(items, L"Item", {Str(L"title")});
    CHECK(title != nullptr);
    if (title) {
      CHECK(Text(title, L"Value") == L"한글 제목");
      title->Release();
    }
    items->Release();
  }
  CHECK(Number(upload, L"IsItem", {Str(L"tag")}) != 0);
  CHECK(Number(upload, L"IsItem", {Str(L"missing")}) == 0);
  Var tags;
  CHECK_HR(S_OK, Call(upload, L"MultiVal", DISPATCH_PROPERTYGET, {Str(L"tag")}, &tags.v));
  CHECK(tags.v.vt == (VT_ARRAY | VT_VARIANT));
  if (tags.v.vt == (VT_ARRAY | VT_VARIANT)) {
    LONG index = 2;
    Var second;
    CHECK_HR(S_OK, SafeArrayGetElement(tags.v.parray, &index, &second.v));
    CHECK(second.v.vt == VT_BSTR && std::wstring(second.v.bstrVal) == L"b");
  }

  const std::string content = PartContent(body, "upfile");
  IDispatch* attachments = Object(upload, L"Attachments");
  IDispatch* file = attachments ? Object(attachments, L"Item", {I4(1)}) : nullptr;
  CHECK(file != nullptr);
  if (attachments) {
    CHECK(Number(attachments, L"Count") == 1);
    attachments->Release();
  }
  if (file) {
    CHECK(Text(file, L"FileName") == L"사진;%22큰%22.jpg");
    CHECK(Text(file, L"Name") == L"upfile");
    CHECK(Text(file, L"MimeType") == L" image/jpeg\r\n");
    CHECK(Number(file, L"Size") == static_cast<LONG>(content.size()));
    Var data;
    CHECK_HR(S_OK, Call(file, L"Data", DISPATCH_PROPERTYGET, {}, &data.v));
    CHECK(Bytes(data.v) == content);

    CHECK_HR(S_OK, Call(file, L"SaveFile", DISPATCH_METHOD, {Str(work + L"\\photo.jpg")}, nullptr));
    CHECK(FileBytes(work + L"\\photo.jpg") == content);
    CHECK(Text(file, L"FileName") == L"photo.jpg");
    // A taken name gets the first free number when asked; the old file stays.
    CHECK_HR(S_OK, Call(file, L"SaveFile", DISPATCH_METHOD, {Str(work + L"\\photo.jpg"), I4(1)},
                        nullptr));
    CHECK(Text(file, L"FileName") == L"photo1.jpg");
    CHECK(FileBytes(work + L"\\photo1.jpg") == content);

    CHECK_HR(S_OK,
             Call(file, L"SaveFileByZip", DISPATCH_METHOD, {Str(work + L"\\photo.gz")}, nullptr));
    const std::string zipped = FileBytes(work + L"\\photo.gz");
    CHECK(zipped.size() > 18 && zipped.compare(0, 2, "\x1f\x8b") == 0);
    CHECK(Number(file, L"ZipSize") == static_cast<LONG>(zipped.size()));

    // A save into a folder that does not exist fails with a message.
    CHECK_HR(E_FAIL,
             Call(file, L"SaveFile", DISPATCH_METHOD, {Str(work + L"\\no\\such\\x.jpg")}, nullptr));
    CHECK(!last_description.empty());
    file->Release();
  }
  CHECK_HR(S_OK, Call(upload, L"OnEndPage", DISPATCH_METHOD, {}, nullptr));
  upload->Release();
  page->Release();
}

// The seven calls of an attachment response of length bytes sent in one piece.
std::vector<std::wstring> AttachmentCalls(const std::wstring& name, size_t length) {
  const std::wstring n = std::to_wstring(length);
  return {L"Expires=0",
          L"Buffer=1",
          L"Clear",
          L"BinaryWrite=" + n,
          L"ContentType=application/octet-stream; name=" + name,
          L"AddHeader(Content-Disposition)=attachment; filename=" + name,
          L"AddHeader(Content-Length)=" + n};
}

void TestDownload(const std::string& body, const std::wstring& work) {
  const std::string content = PartContent(body, "upfile");
  IDispatch* download = Create(L"Vantrel.FileDownload");
  CHECK(download != nullptr);
  if (!download)
    return;
  for (const wchar_t* method : {L"DownFromFile", L"DownFromUnzipFile"}) {
    const bool unzip = method[8] == L'U';
    auto* page = new fake_context::Context(L"", "");
    CHECK_HR(S_OK, Call(download, L"OnStartPage", DISPATCH_METHOD, {Unknown(page)}, nullptr));
    const std::wstring name = unzip ? L"photo.gz" : L"photo.jpg";
    CHECK_HR(S_OK, Call(download, method, DISPATCH_METHOD, {Str(work + L"\\" + name)}, nullptr));
    CHECK(page->response->calls == AttachmentCalls(name, content.size()));
    CHECK(page->response->written == content);
    CHECK_HR(S_OK, Call(download, L"OnEndPage", DISPATCH_METHOD, {}, nullptr));
    page->Release();
  }
  // Missing files: the failures, and the message where there is one, come back through the
  // system's ITypeInfo::Invoke as an exception; the response is left untouched.
  auto* page = new fake_context::Context(L"", "");
  CHECK_HR(S_OK, Call(download, L"OnStartPage", DISPATCH_METHOD, {Unknown(page)}, nullptr));
  CHECK_HR(E_INVALIDARG, Call(download, L"DownFromFile", DISPATCH_METHOD,
                              {Str(work + L"\\missing.txt")}, nullptr));
  CHECK(last_description.empty());
  CHECK_HR(E_FAIL, Call(download, L"DownFromUnzipFile", DISPATCH_METHOD,
                        {Str(work + L"\\missing.gz")}, nullptr));
  CHECK(!last_description.empty());
  CHECK_HR(E_FAIL, Call(download, L"DownFromUnzipFile", DISPATCH_METHOD,
                        {Str(work + L"\\photo.jpg")}, nullptr));
  CHECK(!last_description.empty());
  CHECK(page->response->calls.empty());
  // Without an EXCEPINFO the system's Invoke still reports a failed member as an exception.
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"DownFromFile")};
  CHECK_HR(S_OK, download->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
  VARIANT arg = Str(work + L"\\missing.txt");
  DISPPARAMS params{&arg, nullptr, 1, 0};
  CHECK_HR(DISP_E_EXCEPTION, download->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                              &params, nullptr, nullptr, nullptr));
  VariantClear(&arg);
  CHECK_HR(S_OK, Call(download, L"OnEndPage", DISPATCH_METHOD, {}, nullptr));
  page->Release();
  download->Release();
}

std::string ReadBody(const char* path) {
  std::string out;
  FILE* f = fopen(path, "rb");
  if (!f)
    return out;
  char buffer[4096];
  size_t n = 0;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
    out.append(buffer, n);
  fclose(f);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: vtrlsrv_wine_test <body file>\n");
    return 2;
  }
  const std::string body = ReadBody(argv[1]);
  if (body.empty()) {
    fprintf(stderr, "cannot read %s\n", argv[1]);
    return 2;
  }
  if (GetACP() != 949) {
    fprintf(stderr, "the ANSI code page is %u, not 949\n", GetACP());
    return 2;
  }
  wchar_t buffer[MAX_PATH];
  GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  std::wstring dll = buffer;
  dll = dll.substr(0, dll.find_last_of(L'\\')) + L"\\VtrlSrv.dll";
  GetTempPathW(MAX_PATH, buffer);
  const std::wstring work =
      std::wstring(buffer) + L"vtrlsrv-test-" + std::to_wstring(GetCurrentProcessId());
  CHECK(CreateDirectoryW(work.c_str(), nullptr));

  CheckUnregistered();
  CHECK(RunRegsvr32(L"/s \"" + dll + L"\"") == 0);
  CheckRegistered(dll);

  CHECK_HR(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  TestUpload(body, work);
  TestDownload(body, work);
  CoFreeUnusedLibraries();
  CoUninitialize();

  CHECK(RunRegsvr32(L"/s /u \"" + dll + L"\"") == 0);
  CheckUnregistered();

  for (const wchar_t* name : {L"photo.jpg", L"photo1.jpg", L"photo.gz"})
    DeleteFileW((work + L"\\" + name).c_str());
  RemoveDirectoryW(work.c_str());

  CHECK(fake_context::unexpected_calls == 0);
  if (failures)
    fprintf(stderr, "%d check(s) failed\n", failures);
  else
    printf("vtrlsrv_wine_test: all checks passed\n");
  return failures ? 1 : 0;
}
