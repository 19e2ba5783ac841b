// A fixture for tests that use the test server module through the registry: a registry file
// of their own, the module registered into it by the registration tool, the object run time
// entered on the test thread.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <string>

#include "objbase.h"
#include "platform_config.h"

namespace registered_module {

inline const std::string kModule = std::string(TEST_MODULE_DIR) + "/libdispmodule.so";
inline const char16_t kProgId[] = u"Test.Calc";
inline const char16_t kClsidText[] = u"{A1B2C3D4-0001-4000-8000-000000000002}";
inline const char16_t kIidText[] = u"{A1B2C3D4-0001-4000-8000-000000000001}";
inline const char16_t kLibidText[] = u"{A1B2C3D4-0001-4000-8000-0000000000FF}";

inline GUID guid(const char16_t* text) {
  GUID g{};
  EXPECT_EQ(S_OK, CLSIDFromString(text, &g));
  return g;
}

// Runs the registration tool on the module against registry file path; returns its status.
inline int run_regsvr(const std::string& registry, const std::string& flags) {
  const std::string command = "PLATFORM_REGISTRY='" + registry + "' '" + REGSVR_PATH + "' -s " +
                              flags + " '" + kModule + "'";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A fresh registry file in a directory of its own.
inline std::string temp_registry() {
  char dir[] = "/tmp/regtestXXXXXX";
  EXPECT_NE(nullptr, mkdtemp(dir));
  return std::string(dir) + "/registry.reg";
}

class RegisteredModule : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    registry_ = temp_registry();
    ASSERT_EQ(0, run_regsvr(registry_, ""));
    PlatformSetRegistryPath(registry_.c_str());
  }
  static void TearDownTestSuite() {
    CoFreeUnusedLibraries();
    PlatformSetRegistryPath(nullptr);
    const std::string dir = registry_.substr(0, registry_.rfind('/'));
    std::system(("rm -rf '" + dir + "'").c_str());
  }
  void SetUp() override { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  void TearDown() override { CoUninitialize(); }

  static inline std::string registry_;
};

}  // namespace registered_module
