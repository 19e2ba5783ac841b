// Tests of the kernel path handed to components that open files through another library.
#include "platform_path.h"

#include <gtest/gtest.h>

#include <string>

#include "errhandlingapi.h"
#include "platform_config.h"
#include "winerror.h"

namespace {

std::string mapped(const char* path) {
  char buffer[MAX_PATH * 3 + 1];
  const DWORD n = PlatformMapPath(path, buffer, sizeof buffer);
  return n == 0 ? "<error " + std::to_string(GetLastError()) + ">" : std::string(buffer, n);
}

TEST(PlatformMapPath, TranslatesAsTheFileServicesDo) {
  EXPECT_EQ("/srv/site/db/files.db", mapped("\\srv\\site\\db\\files.db"));
  EXPECT_EQ("data/files.db", mapped("data\\files.db"));
  ASSERT_TRUE(PlatformSetDriveRoot('D', "/mnt/d"));
  EXPECT_EQ("/mnt/d/store/a.db", mapped("D:\\store\\a.db"));
  PlatformSetDriveRoot('D', nullptr);
  // Code page 949 text becomes UTF-8 for the kernel.
  EXPECT_EQ("/tmp/\xED\x95\x9C.db", mapped("\\tmp\\\xC7\xD1.db"));
}

TEST(PlatformMapPath, SizesAndFailures) {
  char small[4] = "xyz";
  EXPECT_EQ(8u, PlatformMapPath("\\a\\b.db", small, sizeof small)) << "size with terminator";
  EXPECT_STREQ("xyz", small) << "nothing written when it does not fit";
  EXPECT_EQ(8u, PlatformMapPath("\\a\\b.db", nullptr, 0));
  char exact[8];
  EXPECT_EQ(7u, PlatformMapPath("\\a\\b.db", exact, sizeof exact));
  EXPECT_STREQ("/a/b.db", exact);

  EXPECT_EQ("<error " + std::to_string(ERROR_PATH_NOT_FOUND) + ">", mapped(""));
  EXPECT_EQ("<error " + std::to_string(ERROR_INVALID_NAME) + ">", mapped("\\tmp\\*.db"));
  EXPECT_EQ("<error " + std::to_string(ERROR_FILENAME_EXCED_RANGE) + ">",
            mapped(std::string(MAX_PATH, 'a').c_str()));
  SetLastError(0);
  EXPECT_EQ(0u, PlatformMapPath(nullptr, exact, sizeof exact));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  EXPECT_EQ(0u, PlatformMapPath("\\a", nullptr, 5));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
}

}  // namespace
