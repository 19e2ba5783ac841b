// Tests of named shared memory: creation from zero, a second opener sharing the bytes, the
// block's end with its last holder, and the refusals.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "errhandlingapi.h"
#include "handleapi.h"
#include "memoryapi.h"

namespace {

std::string UniqueName(const char* stem) {
  return std::string("PlatformTest.") + stem + "." + std::to_string(getpid());
}

TEST(FileMapping, CreatedZeroSharedAndGoneWithItsLastHolder) {
  std::string name = UniqueName("life");
  HANDLE first =
      CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 600, name.c_str());
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
  auto* a = static_cast<unsigned char*>(MapViewOfFile(first, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  ASSERT_NE(nullptr, a);
  for (int i = 0; i < 600; ++i)
    ASSERT_EQ(0, a[i]);
  std::memcpy(a, "shared", 7);

  // A second creation of the same name opens the same block.
  HANDLE second =
      CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 600, name.c_str());
  ASSERT_NE(nullptr, second);
  EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
  auto* b = static_cast<char*>(MapViewOfFile(second, FILE_MAP_ALL_ACCESS, 0, 0, 600));
  ASSERT_NE(nullptr, b);
  EXPECT_STREQ("shared", b);
  HANDLE opened = OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
  ASSERT_NE(nullptr, opened);
  EXPECT_TRUE(CloseHandle(opened));

  // Views outlive their handles.
  EXPECT_TRUE(CloseHandle(first));
  EXPECT_TRUE(CloseHandle(second));
  b[1] = 'H';
  EXPECT_EQ('H', a[1]);
  EXPECT_TRUE(UnmapViewOfFile(a));
  EXPECT_TRUE(UnmapViewOfFile(b));
  EXPECT_FALSE(UnmapViewOfFile(b));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_ADDRESS), GetLastError());

  // Nobody holds it now: it cannot be opened, and the next creation starts from zero.
  EXPECT_EQ(nullptr, OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  HANDLE again =
      CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 600, name.c_str());
  ASSERT_NE(nullptr, again);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
  auto* c = static_cast<char*>(MapViewOfFile(again, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  ASSERT_NE(nullptr, c);
  EXPECT_EQ(0, c[0]);
  EXPECT_TRUE(UnmapViewOfFile(c));
  EXPECT_TRUE(CloseHandle(again));
}

TEST(FileMapping, RefusesBadArguments) {
  std::string name = UniqueName("args");
  EXPECT_EQ(nullptr,
            CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 0, name.c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  EXPECT_EQ(nullptr,
            CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 8, "a/b"));
  EXPECT_EQ(nullptr, CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 8, ""));
  EXPECT_EQ(nullptr, MapViewOfFile(nullptr, FILE_MAP_READ, 0, 0, 0));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  HANDLE h = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READONLY, 0, 8, name.c_str());
  ASSERT_NE(nullptr, h);
  EXPECT_EQ(nullptr, MapViewOfFile(h, FILE_MAP_WRITE, 0, 0, 0));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_EQ(nullptr, MapViewOfFile(h, FILE_MAP_READ, 0, 0, 4096 * 4));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  CloseHandle(h);
}

}  // namespace
