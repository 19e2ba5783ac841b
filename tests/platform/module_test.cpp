// Tests of module loading and module resources.
#include "libloaderapi.h"

#include <gtest/gtest.h>

#include <string>

#include "errhandlingapi.h"
#include "winerror.h"

namespace {

const std::string kModule = std::string(TEST_MODULE_DIR) + "/libresmodule.so";

// The module's path in the system's namespace: `\` separated.
std::string windows_path(std::string p) {
  for (char& c : p)
    if (c == '/')
      c = '\\';
  return p;
}

int* counter(HMODULE m, const char* name) {
  return reinterpret_cast<int*>(GetProcAddress(m, name));
}

TEST(Module, LoadCallsDllMainOncePerFirstUse) {
  HMODULE m = LoadLibraryA(windows_path(kModule).c_str());
  ASSERT_NE(nullptr, m) << GetLastError();
  int* attach = counter(m, "g_attach_count");
  int* detach = counter(m, "g_detach_count");
  ASSERT_NE(nullptr, attach);
  EXPECT_EQ(1, *attach);

  HMODULE again = LoadLibraryA(kModule.c_str());
  EXPECT_EQ(m, again);
  EXPECT_EQ(1, *attach) << "a second load only counts a use";
  EXPECT_TRUE(FreeLibrary(again));
  EXPECT_EQ(0, *detach);

  auto answer =
      reinterpret_cast<int (*)()>(reinterpret_cast<void (*)()>(GetProcAddress(m, "ModuleAnswer")));
  ASSERT_NE(nullptr, answer);
  EXPECT_EQ(42, answer());
  SetLastError(0);
  EXPECT_EQ(nullptr, GetProcAddress(m, "NoSuchExport"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), GetLastError());

  // Keep the module mapped through the last FreeLibrary so that the detach can be read.
  HMODULE pinned = nullptr;
  ASSERT_TRUE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                 reinterpret_cast<LPCSTR>(answer), &pinned));
  EXPECT_EQ(m, pinned);
  EXPECT_TRUE(FreeLibrary(m));
  EXPECT_EQ(1, *detach);
  EXPECT_TRUE(FreeLibrary(pinned));
}

TEST(Module, AResourceOnlyMappingNeverCountsAsAUse) {
  HMODULE m = LoadLibraryA(kModule.c_str());
  ASSERT_NE(nullptr, m);
  int* attach = counter(m, "g_attach_count");
  int* detach = counter(m, "g_detach_count");
  const int attached = *attach;
  const int detached = *detach;
  HMODULE data = LoadLibraryExA(kModule.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(nullptr, data);
  EXPECT_NE(m, data) << "the handle says it is a data mapping";
  EXPECT_NE(nullptr, FindResourceA(data, MAKEINTRESOURCEA(101), "REGISTRY"));
  EXPECT_EQ(attached, *attach) << "no attach for a data mapping";
  EXPECT_TRUE(FreeLibrary(data));
  EXPECT_EQ(detached, *detach) << "its release is not the module's last use";
  EXPECT_TRUE(FreeLibrary(m));
}

TEST(Module, RefusedAttachFailsTheLoad) {
  HMODULE holder = LoadLibraryA(kModule.c_str());
  ASSERT_NE(nullptr, holder);
  int* refuse = counter(holder, "g_refuse_attach");
  // A fresh first use is needed: drop ours, keeping the mapping through a plain handle.
  HMODULE pinned = nullptr;
  ASSERT_TRUE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                 reinterpret_cast<LPCSTR>(refuse), &pinned));
  FreeLibrary(holder);
  *refuse = 1;
  SetLastError(0);
  EXPECT_EQ(nullptr, LoadLibraryA(kModule.c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_DLL_INIT_FAILED), GetLastError());
  *refuse = 0;
  HMODULE ok = LoadLibraryA(kModule.c_str());
  EXPECT_NE(nullptr, ok);
  FreeLibrary(ok);
  FreeLibrary(pinned);
}

TEST(Module, MissingModulesAndBadArguments) {
  SetLastError(0);
  EXPECT_EQ(nullptr, LoadLibraryA("\\no\\such\\module.so"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
  EXPECT_EQ(nullptr, LoadLibraryA(nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  EXPECT_EQ(nullptr, GetModuleHandleA("\\no\\such\\module.so"));
  EXPECT_FALSE(FreeLibrary(nullptr));
  HMODULE none = reinterpret_cast<HMODULE>(1);
  EXPECT_FALSE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, nullptr, &none));
  EXPECT_EQ(nullptr, none);
}

TEST(Module, FileNameIsInTheSystemNamespace) {
  HMODULE m = LoadLibraryA(kModule.c_str());
  ASSERT_NE(nullptr, m);
  char path[1024];
  const DWORD n = GetModuleFileNameA(m, path, sizeof path);
  char real[4096];
  ASSERT_NE(nullptr, realpath(kModule.c_str(), real));
  EXPECT_EQ(windows_path(real), std::string(path, n));
  EXPECT_EQ(m, GetModuleHandleA(path));

  char16_t wide[1024];
  EXPECT_EQ(n, GetModuleFileNameW(m, wide, 1024));
  EXPECT_EQ(u'\\', wide[0]);

  char small[8];
  SetLastError(0);
  EXPECT_EQ(8u, GetModuleFileNameA(m, small, sizeof small));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
  EXPECT_EQ(7u, strlen(small));

  EXPECT_GT(GetModuleFileNameA(nullptr, path, sizeof path), 0u) << "the program itself";
  FreeLibrary(m);
}

TEST(Module, ResourcesByNumberTextAndLanguage) {
  HMODULE m = LoadLibraryA(kModule.c_str());
  ASSERT_NE(nullptr, m);
  HRSRC rgs = FindResourceA(m, MAKEINTRESOURCEA(101), "REGISTRY");
  ASSERT_NE(nullptr, rgs);
  const char* text = static_cast<const char*>(LockResource(LoadResource(m, rgs)));
  EXPECT_EQ(std::string("HKCR\r\n{\r\n  Test.Module = s 'Test'\r\n}\r\n"),
            std::string(text, SizeofResource(m, rgs)));
  EXPECT_EQ(rgs, FindResourceA(m, "#101", "registry")) << "#number names and any-case types";
  EXPECT_EQ(rgs, FindResourceW(m, MAKEINTRESOURCEW(101), u"REGISTRY"));

  HRSRC version = FindResourceA(m, MAKEINTRESOURCEA(1), RT_VERSION);
  ASSERT_NE(nullptr, version);
  EXPECT_EQ(23u, SizeofResource(m, version));

  HRSRC korean = FindResourceExA(m, "TYPELIB", MAKEINTRESOURCEA(1), 1042);
  HRSRC english = FindResourceExA(m, "TYPELIB", MAKEINTRESOURCEA(1), 1033);
  ASSERT_NE(nullptr, korean);
  ASSERT_NE(nullptr, english);
  EXPECT_NE(korean, english);
  const BYTE* blob = static_cast<const BYTE*>(LockResource(LoadResource(m, korean)));
  EXPECT_EQ(10u, SizeofResource(m, korean));
  EXPECT_EQ(0xFF, blob[9]);
  EXPECT_EQ(korean, FindResourceA(m, MAKEINTRESOURCEA(1), "TYPELIB")) << "first of any language";

  SetLastError(0);
  EXPECT_EQ(nullptr, FindResourceA(m, MAKEINTRESOURCEA(102), "REGISTRY"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND), GetLastError());
  EXPECT_EQ(nullptr, FindResourceA(m, MAKEINTRESOURCEA(101), "ICON"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND), GetLastError());
  EXPECT_EQ(nullptr, FindResourceExA(m, "TYPELIB", MAKEINTRESOURCEA(1), 1041));
  EXPECT_EQ(static_cast<DWORD>(ERROR_RESOURCE_LANG_NOT_FOUND), GetLastError());
  // The program has no table of its own; the module's table is not taken for it.
  EXPECT_EQ(nullptr, FindResourceA(nullptr, MAKEINTRESOURCEA(101), "REGISTRY"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND), GetLastError());
  FreeLibrary(m);
}

}  // namespace
