// Tests of activation and module services: a module registered by the registration tool is
// found by ProgID, created, unloaded when unused, and unregistered again.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "com_ptr.h"
#include "platform_config.h"
#include "registered_module.h"
#include "windows.h"

namespace {

using registered_module::guid;
using registered_module::kClsidText;
using registered_module::kModule;
using registered_module::RegisteredModule;

class Activation : public RegisteredModule {};

bool key_exists(const char16_t* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

std::u16string default_value(const char16_t* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return u"<none>";
  char16_t text[512] = {};
  DWORD size = sizeof text;
  DWORD type = 0;
  LSTATUS status =
      RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS ? std::u16string(text) : u"<none>";
}

std::u16string to_u16(const std::string& s) {
  return std::u16string(s.begin(), s.end());
}

TEST_F(Activation, RegistrationWritesTheScriptAndTheTypeLibrary) {
  EXPECT_EQ(u"Calc Class", default_value(u"Test.Calc.1"));
  EXPECT_EQ(kClsidText, default_value(u"Test.Calc\\CLSID"));
  EXPECT_EQ(u"Test.Calc.1", default_value(u"Test.Calc\\CurVer"));
  const std::u16string clsid_key = std::u16string(u"CLSID\\") + kClsidText;
  EXPECT_EQ(u"Test.Calc.1", default_value((clsid_key + u"\\ProgID").c_str()));
  // %MODULE% is the module's full path in the system's namespace.
  char real[4096];
  ASSERT_NE(nullptr, realpath(kModule.c_str(), real));
  std::string windows_path = real;
  for (char& c : windows_path)
    if (c == '/')
      c = '\\';
  EXPECT_EQ(to_u16(windows_path), default_value((clsid_key + u"\\InprocServer32").c_str()));
  const std::u16string lib_key = std::u16string(u"TypeLib\\") + registered_module::kLibidText;
  EXPECT_EQ(u"Test 1.0 Type Library", default_value((lib_key + u"\\1.0").c_str()));
  EXPECT_EQ(to_u16(windows_path), default_value((lib_key + u"\\1.0\\0\\win64").c_str()));
  const std::u16string itf_key = std::u16string(u"Interface\\") + registered_module::kIidText;
  EXPECT_EQ(u"ICalc", default_value(itf_key.c_str()));
  EXPECT_EQ(registered_module::kLibidText, default_value((itf_key + u"\\TypeLib").c_str()));
}

TEST_F(Activation, CreatesByProgIdAndAnswersItsClass) {
  CLSID clsid{};
  ASSERT_EQ(S_OK, CLSIDFromProgID(registered_module::kProgId, &clsid));
  EXPECT_TRUE(IsEqualGUID(guid(kClsidText), clsid));
  LPOLESTR progid = nullptr;
  ASSERT_EQ(S_OK, ProgIDFromCLSID(clsid, &progid));
  EXPECT_EQ(std::u16string(u"Test.Calc.1"), progid);
  CoTaskMemFree(progid);

  ComPtr<IDispatch> calc;
  ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                   reinterpret_cast<void**>(calc.Receive())));
  UINT count = 0;
  EXPECT_EQ(S_OK, calc->GetTypeInfoCount(&count));
  EXPECT_EQ(1u, count);
  ComPtr<IUnknown> none;
  EXPECT_EQ(E_NOINTERFACE,
            calc->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(none.Receive())));
}

TEST_F(Activation, FailuresHaveThePlatformStatuses) {
  CLSID clsid{};
  EXPECT_EQ(CO_E_CLASSSTRING, CLSIDFromProgID(u"No.Such.Class", &clsid));
  EXPECT_EQ(CO_E_CLASSSTRING, CLSIDFromProgID(u"", &clsid));
  EXPECT_EQ(E_INVALIDARG, CLSIDFromProgID(nullptr, &clsid));
  const GUID unknown = guid(u"{00000000-1111-2222-3333-444444444444}");
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(REGDB_E_CLASSNOTREG,
            CoCreateInstance(unknown, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object));
  EXPECT_EQ(nullptr, object);
  EXPECT_EQ(E_POINTER,
            CoCreateInstance(unknown, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, nullptr));
  LPOLESTR progid = nullptr;
  EXPECT_EQ(REGDB_E_CLASSNOTREG, ProgIDFromCLSID(unknown, &progid));

  // Aggregation is refused by the class object for anything but IUnknown.
  IUnknown* outer = reinterpret_cast<IUnknown*>(0x10);
  EXPECT_EQ(CLASS_E_NOAGGREGATION, CoCreateInstance(guid(kClsidText), outer, CLSCTX_INPROC_SERVER,
                                                    IID_IDispatch, &object));
  // A thread that never entered the run time.
  HRESULT other_thread = S_OK;
  std::thread([&] {
    void* p = nullptr;
    other_thread =
        CoCreateInstance(guid(kClsidText), nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p);
  }).join();
  EXPECT_EQ(CO_E_NOTINITIALIZED, other_thread);
}

TEST_F(Activation, ClassObjectLocksAndUnusedModulesUnload) {
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(S_OK, CoGetClassObject(guid(kClsidText), CLSCTX_INPROC_SERVER, nullptr,
                                   IID_IClassFactory, reinterpret_cast<void**>(factory.Receive())));
  char real[4096];
  ASSERT_NE(nullptr, realpath(kModule.c_str(), real));
  HMODULE module = GetModuleHandleA(real);
  ASSERT_NE(nullptr, module);
  auto can_unload = reinterpret_cast<HRESULT (*)()>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, "DllCanUnloadNow")));
  ASSERT_NE(nullptr, can_unload);
  EXPECT_EQ(S_FALSE, can_unload()) << "a client's class object counts as a lock";

  ComPtr<IDispatch> object;
  ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IDispatch,
                                          reinterpret_cast<void**>(object.Receive())));
  factory.Reset();
  EXPECT_EQ(S_FALSE, can_unload()) << "a live object keeps the module";
  CoFreeUnusedLibraries();
  EXPECT_NE(nullptr, GetModuleHandleA(real));

  ComPtr<IClassFactory> again;
  ASSERT_EQ(S_OK, CoGetClassObject(guid(kClsidText), CLSCTX_INPROC_SERVER, nullptr,
                                   IID_IClassFactory, reinterpret_cast<void**>(again.Receive())));
  EXPECT_EQ(S_OK, again->LockServer(TRUE));
  again.Reset();
  object.Reset();
  CoFreeUnusedLibraries();
  EXPECT_NE(nullptr, GetModuleHandleA(real)) << "LockServer(TRUE) alone keeps it";
  ASSERT_EQ(S_FALSE, can_unload());
  ASSERT_EQ(S_OK, CoGetClassObject(guid(kClsidText), CLSCTX_INPROC_SERVER, nullptr,
                                   IID_IClassFactory, reinterpret_cast<void**>(again.Receive())));
  EXPECT_EQ(S_OK, again->LockServer(FALSE));
  again.Reset();

  // The class object activation keeps for the next creation is no client: it does not keep the
  // module from unloading.
  CoFreeUnusedLibraries();
  EXPECT_EQ(nullptr, GetModuleHandleA(real)) << "the last object is gone: the module unloads";

  // And it comes back on the next request.
  ComPtr<IDispatch> fresh;
  EXPECT_EQ(S_OK, CoCreateInstance(guid(kClsidText), nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                   reinterpret_cast<void**>(fresh.Receive())));
}

TEST(Registration, UnregisteringRemovesTheKeysButNotClsid) {
  const std::string registry = registered_module::temp_registry();
  ASSERT_EQ(0, registered_module::run_regsvr(registry, ""));
  PlatformSetRegistryPath(registry.c_str());
  const std::u16string clsid_key = std::u16string(u"CLSID\\") + kClsidText;
  EXPECT_TRUE(key_exists(clsid_key.c_str()));
  PlatformSetRegistryPath(nullptr);

  ASSERT_EQ(0, registered_module::run_regsvr(registry, "-u"));
  PlatformSetRegistryPath(registry.c_str());
  EXPECT_FALSE(key_exists(u"Test.Calc"));
  EXPECT_FALSE(key_exists(u"Test.Calc.1"));
  EXPECT_FALSE(key_exists(clsid_key.c_str()));
  EXPECT_TRUE(key_exists(u"CLSID"));
  EXPECT_FALSE(key_exists((std::u16string(u"TypeLib\\") + registered_module::kLibidText).c_str()));
  EXPECT_FALSE(key_exists((std::u16string(u"Interface\\") + registered_module::kIidText).c_str()));
  PlatformSetRegistryPath(nullptr);

  // The tool's own failures.
  const std::string missing =
      "PLATFORM_REGISTRY='" + registry + "' '" + REGSVR_PATH + "' /no/such/module.so 2>/dev/null";
  int status = std::system(missing.c_str());
  EXPECT_EQ(3, WEXITSTATUS(status));
  status = std::system((std::string("'") + REGSVR_PATH + "' 2>/dev/null").c_str());
  EXPECT_EQ(1, WEXITSTATUS(status));
  const std::string no_entry = "PLATFORM_REGISTRY='" + registry + "' '" + REGSVR_PATH + "' '" +
                               TEST_MODULE_DIR + "/libresmodule.so' 2>/dev/null";
  status = std::system(no_entry.c_str());
  EXPECT_EQ(4, WEXITSTATUS(status));
  std::system(("rm -rf '" + registry.substr(0, registry.rfind('/')) + "'").c_str());
}

// Creating an object by ProgID after other processes unregistered and registered its module
// again, as a running host sees registration tools: each change shows within a second, while
// objects are made from the kept class object in between.
TEST_F(Activation, RegistrationsOfOtherProcessesShowWithinASecond) {
  const auto create = [] {
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(registered_module::kProgId, &clsid);
    if (FAILED(hr))
      return hr;
    ComPtr<IDispatch> object;
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                            reinterpret_cast<void**>(object.Receive()));
  };
  // Polls until create gives the wanted kind of result; the time it took.
  const auto shows = [&](bool registered) {
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
      const auto waited = std::chrono::steady_clock::now() - start;
      if (SUCCEEDED(create()) == registered || waited > std::chrono::seconds(3))
        return std::chrono::duration_cast<std::chrono::milliseconds>(waited);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  };
  ASSERT_EQ(S_OK, create());
  ASSERT_EQ(S_OK, create()) << "from the kept class object";

  ASSERT_EQ(0, registered_module::run_regsvr(registry_, "-u"));
  EXPECT_LE(shows(false).count(), 1000) << "the unregistration";
  EXPECT_EQ(CO_E_CLASSSTRING, create());
  ASSERT_EQ(0, registered_module::run_regsvr(registry_, ""));
  EXPECT_LE(shows(true).count(), 1000) << "the registration";
  EXPECT_EQ(S_OK, create());
}

// A ProgID this process points at another class shows at the next look-up, however long the
// registry goes without being checked against its file.
TEST_F(Activation, AProgIdChangedInThisProcessShowsAtOnce) {
  PlatformSetRegistryRecheck(60000);
  const auto point = [](const char16_t* clsid) {
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_CLASSES_ROOT, u"Test.Moved\\CLSID", 0, nullptr,
                                     REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS)
      return status;
    const std::u16string text = clsid;
    status = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                            static_cast<DWORD>((text.size() + 1) * sizeof(char16_t)));
    RegCloseKey(key);
    return status;
  };
  const char16_t* other = u"{0A1B2C3D-0000-4000-8000-00000000ABCD}";
  const std::u16string mine = kClsidText;
  for (const char16_t* clsid : {mine.c_str(), other, mine.c_str()}) {
    ASSERT_EQ(ERROR_SUCCESS, point(clsid));
    CLSID found{};
    ASSERT_EQ(S_OK, CLSIDFromProgID(u"Test.Moved", &found));
    CLSID wanted{};
    ASSERT_EQ(S_OK, CLSIDFromString(clsid, &wanted));
    EXPECT_TRUE(IsEqualGUID(wanted, found));
  }
  PlatformSetRegistryRecheck(250);
}

}  // namespace
