// Shared ground of the database module's tests: the module registered into a registry file of
// their own by the registration tool, a fresh SQLite file or PostgreSQL schema per test, and
// late-bound calls made the way a script makes them (names looked up, arguments last first,
// errors as EXCEPINFO).
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "adoint.h"
#include "com_ptr.h"
#include "objbase.h"
#include "pg_test_database.h"
#include "platform_config.h"
#include "scoped_bstr.h"
#include "scoped_variant.h"

namespace ado_test {

inline std::u16string Text(BSTR b) {
  return std::u16string(b ? b : u"", SysStringLen(b));
}

inline std::u16string Utf16(const std::string& ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

// The status of a failure code of the library, as EXCEPINFO's scode carries it.
constexpr HRESULT AdoErrorCode(ErrorValueEnum code) {
  return static_cast<HRESULT>(0x800A0000u | static_cast<uint32_t>(code));
}

// VARIANT makers; the caller's ScopedVariant owns what they allocate.
inline ScopedVariant Str(const std::u16string& s) {
  ScopedVariant v;
  VARIANT raw;
  VariantInit(&raw);
  raw.vt = VT_BSTR;
  raw.bstrVal = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
  v.Reset(raw);
  return v;
}

inline ScopedVariant I4(LONG n) {
  ScopedVariant v;
  VARIANT raw;
  VariantInit(&raw);
  raw.vt = VT_I4;
  raw.lVal = n;
  v.Reset(raw);
  return v;
}

inline ScopedVariant Missing() {
  ScopedVariant v;
  VARIANT raw;
  VariantInit(&raw);
  raw.vt = VT_ERROR;
  raw.scode = DISP_E_PARAMNOTFOUND;
  v.Reset(raw);
  return v;
}

inline ScopedVariant Object(IUnknown* object) {
  ScopedVariant v;
  VARIANT raw;
  VariantInit(&raw);
  raw.vt = VT_DISPATCH;
  IDispatch* dispatch = nullptr;
  if (object)
    object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
  raw.pdispVal = dispatch;
  v.Reset(raw);
  return v;
}

inline ScopedVariant Bytes(const std::vector<BYTE>& bytes) {
  ScopedVariant v;
  VARIANT raw;
  VariantInit(&raw);
  raw.vt = VT_ARRAY | VT_UI1;
  raw.parray = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  if (!bytes.empty()) {
    void* data = nullptr;
    SafeArrayAccessData(raw.parray, &data);
    std::copy(bytes.begin(), bytes.end(), static_cast<BYTE*>(data));
    SafeArrayUnaccessData(raw.parray);
  }
  v.Reset(raw);
  return v;
}

// The bytes of a byte-array VARIANT (empty for anything else).
inline std::vector<BYTE> BytesOf(const VARIANT& v) {
  if (v.vt != (VT_ARRAY | VT_UI1))
    return {};
  LONG lower = 0;
  LONG upper = -1;
  SafeArrayGetLBound(v.parray, 1, &lower);
  SafeArrayGetUBound(v.parray, 1, &upper);
  std::vector<BYTE> out(static_cast<size_t>(upper - lower + 1));
  void* data = nullptr;
  SafeArrayAccessData(v.parray, &data);
  std::copy(static_cast<BYTE*>(data), static_cast<BYTE*>(data) + out.size(), out.begin());
  SafeArrayUnaccessData(v.parray);
  return out;
}

// The outcome of one late-bound call.
struct Outcome {
  HRESULT hr = E_UNEXPECTED;
  ScopedVariant result;
  SCODE scode = 0;             // from EXCEPINFO, when hr is DISP_E_EXCEPTION
  std::u16string description;  // from EXCEPINFO
};

// An automation object driven by name.
class Late {
 public:
  Late() = default;
  explicit Late(IDispatch* object) { object_.Set(object); }
  explicit Late(const VARIANT& v) {
    if (v.vt == VT_DISPATCH)
      object_.Set(v.pdispVal);
  }

  IDispatch* get() const { return object_.Get(); }
  explicit operator bool() const { return static_cast<bool>(object_); }

  // Invokes member name with args in the script's order (the first argument first).
  Outcome Invoke(const char16_t* name, WORD flags, std::initializer_list<const VARIANT*> args) {
    Outcome out;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = 0;
    out.hr = object_->GetIDsOfNames(GUID_NULL, names, 1, 0, &id);
    if (FAILED(out.hr))
      return out;
    std::vector<VARIANT> reversed(args.size());
    size_t i = args.size();
    for (const VARIANT* a : args)
      reversed[--i] = *a;  // borrowed: Invoke does not free its arguments
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params = {reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
      params.rgdispidNamedArgs = &put;
      params.cNamedArgs = 1;
    }
    EXCEPINFO info = {};
    UINT arg_error = 0;
    out.hr = object_->Invoke(
        id, GUID_NULL, 0, flags, &params,
        (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) ? nullptr : out.result.Receive(),
        &info, &arg_error);
    out.scode = info.scode;
    out.description = Text(info.bstrDescription);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    return out;
  }

  Outcome Call(const char16_t* name, std::initializer_list<const VARIANT*> args = {}) {
    return Invoke(name, DISPATCH_METHOD, args);
  }
  Outcome Get(const char16_t* name, std::initializer_list<const VARIANT*> args = {}) {
    return Invoke(name, DISPATCH_PROPERTYGET, args);
  }
  Outcome Put(const char16_t* name, const VARIANT& value) {
    return Invoke(name, DISPATCH_PROPERTYPUT, {&value});
  }
  Outcome PutRef(const char16_t* name, const VARIANT& value) {
    return Invoke(name, DISPATCH_PROPERTYPUTREF, {&value});
  }
  // A property that holds an object, as an object.
  Late Object(const char16_t* name, std::initializer_list<const VARIANT*> args = {}) {
    Outcome out = Get(name, args);
    EXPECT_EQ(S_OK, out.hr) << "reading "
                            << std::string(name, name + std::char_traits<char16_t>::length(name));
    return Late(out.result.Get());
  }

 private:
  ComPtr<IDispatch> object_;
};

// Runs the registration tool on the module against registry file path; returns its status.
inline int run_regsvr(const std::string& registry, const std::string& flags) {
  const std::string command = "PLATFORM_REGISTRY='" + registry + "' '" + REGSVR_PATH + "' -s " +
                              flags + " '" + ADO_MODULE + "'";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

enum class Provider { kSqlite, kPostgres };

inline std::string ProviderName(const ::testing::TestParamInfo<Provider>& info) {
  return info.param == Provider::kSqlite ? "SQLite" : "PostgreSQL";
}

// Tests with the module registered, the object run time entered, and a scratch directory
// (a fresh one per test) for database files; on SQLite unless a test says otherwise.
class RegisteredAdo : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char dir[] = "/tmp/adotestXXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    suite_dir_ = dir;
    registry_ = suite_dir_ + "/registry.reg";
    ASSERT_EQ(0, run_regsvr(registry_, ""));
    PlatformSetRegistryPath(registry_.c_str());
  }
  static void TearDownTestSuite() {
    CoFreeUnusedLibraries();
    PlatformSetRegistryPath(nullptr);
    std::system(("rm -rf '" + suite_dir_ + "'").c_str());
  }
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    dir_ = suite_dir_ + "/" + std::to_string(++test_number_);
    ASSERT_EQ(0, std::system(("mkdir -p '" + dir_ + "'").c_str()));
    if (provider_ == Provider::kPostgres) {
      std::string error;
      pg_conninfo_ = pg_test::NewSchema(&error);
      ASSERT_NE("", pg_conninfo_) << error;
    }
  }
  void TearDown() override {
    SetErrorInfo(0, nullptr);
    CoUninitialize();
  }

  // A new object of the class with ProgID prog_id, late-bound.
  Late Create(const char16_t* prog_id) {
    CLSID clsid{};
    EXPECT_EQ(S_OK, CLSIDFromProgID(prog_id, &clsid));
    ComPtr<IDispatch> object;
    EXPECT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IDispatch,
                                     reinterpret_cast<void**>(object.Receive())));
    return Late(object.Get());
  }

  // The connection string of database file name in this test's directory (a rooted path of
  // the system's namespace); on PostgreSQL, of the test's schema, whatever the name.
  std::u16string ConnectionString(const std::string& name = "test.db") {
    if (provider_ == Provider::kPostgres)
      return u"Provider=PostgreSQL;" + Utf16(pg_conninfo_);
    std::string windows_path = dir_ + "/" + name;
    for (char& c : windows_path)
      if (c == '/')
        c = '\\';
    return u"Provider=SQLite;Data Source=" + Utf16(windows_path);
  }

  // An open connection to this test's database, late-bound.
  Late OpenConnection(const std::string& name = "test.db") {
    Late connection = Create(u"ADODB.Connection");
    ScopedVariant text = Str(ConnectionString(name));
    EXPECT_EQ(S_OK, connection.Call(u"Open", {&text.Get()}).hr);
    return connection;
  }

  // Runs sql on connection; expects success.
  void Run(Late& connection, const std::u16string& sql) {
    ScopedVariant text = Str(sql);
    Outcome out = connection.Call(u"Execute", {&text.Get()});
    EXPECT_EQ(S_OK, out.hr) << std::string(out.description.begin(), out.description.end());
  }

  bool postgres() const { return provider_ == Provider::kPostgres; }

  // What the two dialects write differently.
  std::u16string IdColumn() const {
    return postgres() ? u"SERIAL PRIMARY KEY" : u"INTEGER PRIMARY KEY";
  }
  std::u16string BlobType() const { return postgres() ? u"BYTEA" : u"BLOB"; }
  std::u16string LastId() const {
    return postgres() ? u"SELECT lastval()" : u"SELECT last_insert_rowid()";
  }
  std::u16string HexBlob(const std::u16string& hex) const {
    return postgres() ? u"'\\x" + hex + u"'::bytea" : u"x'" + hex + u"'";
  }
  // The provider's message for a table that is not there.
  std::u16string MissingTable(const std::u16string& name) const {
    return postgres() ? u"relation \"" + name + u"\" does not exist (SQLSTATE 42P01)"
                      : u"no such table: " + name;
  }

  Provider provider_ = Provider::kSqlite;
  std::string pg_conninfo_;
  std::string dir_;
  static inline std::string suite_dir_;
  static inline std::string registry_;
  static inline int test_number_ = 0;
};

// The same tests on each provider.
class EachProvider : public RegisteredAdo, public ::testing::WithParamInterface<Provider> {
 protected:
  void SetUp() override {
    provider_ = GetParam();
    RegisteredAdo::SetUp();
  }
};

#define INSTANTIATE_FOR_EACH_PROVIDER(suite)                                             \
  INSTANTIATE_TEST_SUITE_P(                                                              \
      Providers, suite,                                                                  \
      ::testing::Values(::ado_test::Provider::kSqlite, ::ado_test::Provider::kPostgres), \
      ::ado_test::ProviderName)

}  // namespace ado_test
