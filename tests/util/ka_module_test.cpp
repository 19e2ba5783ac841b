// Tests of the library as a whole: every plain function is exported under its own name, the
// socket layer is started at load, and a library whose socket layer refuses to start refuses
// to load.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "KaMsUtil.h"
#include "child_process.h"
#include "winsock2.h"

namespace {

// What a child does when the library loads after all: it ends normally, so a load that was not
// refused shows as status 0.
const bool kRunsWhenLoaded =
    child_process::RoleIfChild("loaded", [](const std::string&) { return 0; });

TEST(KaMsUtilModule, PlainFunctionsAreExportedByName) {
  const char* names[] = {
      "kaNewObList",       "kaFreeObList",      "kaAddHeadObList", "kaAddTailObList",
      "kaRemoveAtObList",  "kaRemoveObList",    "kaFindAtObList",  "kaFindObList",
      "kaCountObList",     "kaIsFileExist",     "kaGetFileSize",   "kaRemoveFiles",
      "kaCreateDirectory", "kaRemoveDirectory", "kaCopyFile",      "kaMoveFile",
      "kaGetErrString",    "kaSetErrString",    "kaChar2Hex",      "kaHex2Char",
      "kaEncodeUrl",       "kaDecodeUrl",       "kaDosPathToURL",  "kaURLToDosPath",
      "kaParseElement",    "kaDestroyElement",  "kaEncrypt",       "kaDecrypt",
      "kaInitFileTrace",   "kaFileTrace",       "kaTrace",         "kaInitSocket",
      "kaMakeUuid",        "kaGetCurrentTime",  "kaTempName"};
  void* library = dlopen("libKaMsUtil.so", RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(nullptr, library);
  for (const char* name : names)
    EXPECT_NE(nullptr, dlsym(library, name)) << name;
  EXPECT_EQ(reinterpret_cast<void*>(&kaMakeUuid), dlsym(library, "kaMakeUuid"));
  dlclose(library);
}

TEST(KaMsUtilModule, SocketLayerStartsAtLoad) {
  // No start-up of the test's own: the library's load did it.
  char name[256];
  EXPECT_EQ(0, gethostname(name, 256));
}

TEST(KaMsUtilModule, RefusedSocketStartUpRefusesTheLoad) {
  // The preloaded stand-in refuses to start the socket layer, so the program never runs: it
  // ends with the status of a program whose libraries cannot be loaded.
  std::string preload = std::string("LD_PRELOAD=") + WSA_REFUSING_PRELOAD;
  int status = child_process::RunChild(
      "loaded", "", {preload, "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0"});
  EXPECT_EQ(127, status);
}

}  // namespace
