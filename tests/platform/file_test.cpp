// Tests of the file services and the path namespace: attributes, enumeration, delete, move,
// copy, directories, file handles, the temporary directory, on real directories under a
// temporary root.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "errhandlingapi.h"
#include "fileapi.h"
#include "handleapi.h"
#include "platform_config.h"
#include "platform_file.h"
#include "winbase.h"

namespace {

namespace fs = std::filesystem;

// A fresh directory under the system's temporary directory, removed with everything in it.
class FileServices : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/platform-file-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    root_ = pattern;
    win_root_ = root_;
    for (char& c : win_root_)
      if (c == '/')
        c = '\\';
  }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(root_, fs::perms::owner_all, ignored);
    fs::remove_all(root_, ignored);
    PlatformSetDriveRoot('Q', nullptr);
  }
  // The Windows form of a path under the root: "\tmp\platform-file-…\rel".
  std::string Win(const std::string& rel) const { return win_root_ + "\\" + rel; }
  std::string Os(const std::string& rel) const { return root_ + "/" + rel; }
  void Write(const std::string& rel, const std::string& bytes) const {
    std::ofstream(Os(rel), std::ios::binary) << bytes;
  }
  std::string Read(const std::string& rel) const {
    std::ifstream in(Os(rel), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::set<std::string> Find(const std::string& pattern) const {
    std::set<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA(Win(pattern).c_str(), &data);
    if (h == INVALID_HANDLE_VALUE)
      return names;
    do {
      names.insert(data.cFileName);
    } while (FindNextFileA(h, &data));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_FILES), GetLastError());
    EXPECT_TRUE(FindClose(h));
    return names;
  }

  std::string root_;
  std::string win_root_;
};

TEST_F(FileServices, PathsTranslateSeparatorsDrivesAndCodePage) {
  Write("a.txt", "x");
  // Rooted with either separator, and through a drive letter whose root is configured.
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL), GetFileAttributesA(Win("a.txt").c_str()));
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((root_ + "/a.txt").c_str()));
  ASSERT_TRUE(PlatformSetDriveRoot('q', root_.c_str()));
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("Q:\\a.txt"));
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("q:/a.txt"));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY), GetFileAttributesA("Q:\\"));
  EXPECT_FALSE(PlatformSetDriveRoot('1', "/"));
  EXPECT_FALSE(PlatformSetDriveRoot('Q', "relative"));
  // A code page 949 name ("한") is a UTF-8 name for the kernel.
  ASSERT_TRUE(CreateDirectoryA(Win("\xC7\xD1").c_str(), nullptr));
  EXPECT_TRUE(fs::is_directory(Os("\xED\x95\x9C")));
  EXPECT_EQ(std::set<std::string>{"\xC7\xD1"}, Find("\xC7*"));
}

TEST_F(FileServices, BadPathsFailWithTheirCodes) {
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(Win("missing").c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(Win("*.txt").c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME), GetLastError());
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(""));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  // 259 bytes is the longest path; 260 is refused before the kernel sees it.
  std::string longest = Win(std::string(259 - win_root_.size() - 1, 'n'));
  ASSERT_EQ(259u, longest.size());
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(longest.c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((longest + "n").c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), GetLastError());
  // A byte sequence that is no code page 949 text.
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(Win("\xFF\xFF").c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME), GetLastError());
}

TEST_F(FileServices, AttributesAndSize) {
  Write("five", "12345");
  fs::create_directory(Os("dir"));
  WIN32_FILE_ATTRIBUTE_DATA data;
  ASSERT_TRUE(GetFileAttributesExA(Win("five").c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(5u, data.nFileSizeLow);
  EXPECT_EQ(0u, data.nFileSizeHigh);
  EXPECT_NE(0u, data.ftLastWriteTime.dwHighDateTime);
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY), GetFileAttributesA(Win("dir").c_str()));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY), GetFileAttributesA(Win("dir\\").c_str()));
  chmod(Os("five").c_str(), 0444);
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_READONLY), GetFileAttributesA(Win("five").c_str()));
}

// An open stream's file keeps its own facts after another file takes its name.
TEST_F(FileServices, AttributesOfAnOpenStream) {
  Write("kept", "12345");
  WIN32_FILE_ATTRIBUTE_DATA by_path;
  ASSERT_TRUE(GetFileAttributesExA(Win("kept").c_str(), GetFileExInfoStandard, &by_path));
  std::FILE* stream = std::fopen(Os("kept").c_str(), "rb");
  ASSERT_NE(nullptr, stream);
  Write("other", "1234567");
  ASSERT_EQ(0, std::rename(Os("other").c_str(), Os("kept").c_str()));

  WIN32_FILE_ATTRIBUTE_DATA data;
  ASSERT_TRUE(PlatformGetStreamAttributes(stream, &data));
  EXPECT_EQ(5u, data.nFileSizeLow);
  EXPECT_EQ(0u, data.nFileSizeHigh);
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL), data.dwFileAttributes);
  EXPECT_EQ(by_path.ftLastWriteTime.dwLowDateTime, data.ftLastWriteTime.dwLowDateTime);
  EXPECT_EQ(by_path.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwHighDateTime);

  SetLastError(NO_ERROR);
  EXPECT_FALSE(PlatformGetStreamAttributes(nullptr, &data));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  EXPECT_FALSE(PlatformGetStreamAttributes(stream, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  std::fclose(stream);

  // A stream over no file: an in-memory one has no descriptor.
  char buffer[4] = {};
  std::FILE* memory = fmemopen(buffer, sizeof buffer, "r");
  ASSERT_NE(nullptr, memory);
  EXPECT_FALSE(PlatformGetStreamAttributes(memory, &data));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  std::fclose(memory);
}

TEST_F(FileServices, WildcardEnumeration) {
  for (const char* name : {"a.txt", "b.TXT", "c.dat", "noext", "ab"})
    Write(name, "");
  fs::create_directory(Os("sub.d"));
  using Names = std::set<std::string>;
  EXPECT_EQ((Names{".", "..", "a.txt", "b.TXT", "c.dat", "noext", "ab", "sub.d"}), Find("*.*"));
  EXPECT_EQ((Names{".", "..", "a.txt", "b.TXT", "c.dat", "noext", "ab", "sub.d"}), Find("*"));
  EXPECT_EQ((Names{"a.txt", "b.TXT"}), Find("*.txt"));
  EXPECT_EQ((Names{"a.txt", "b.TXT"}), Find("?.t*"));
  EXPECT_EQ((Names{"noext"}), Find("noext.*"));
  EXPECT_EQ((Names{"ab"}), Find("a?"));
  EXPECT_EQ((Names{"c.dat"}), Find("c.dat"));

  WIN32_FIND_DATAA data;
  EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileA(Win("*.none").c_str(), &data));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileA(Win("missing\\*.*").c_str(), &data));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
  EXPECT_FALSE(FindClose(INVALID_HANDLE_VALUE));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());

  HANDLE h = FindFirstFileA(Win("sub.d").c_str(), &data);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY), data.dwFileAttributes);
  FindClose(h);
}

TEST_F(FileServices, EnumerationListsSymbolicLinksAsThemselves) {
  fs::create_directory(Os("outside"));
  Write("outside/keep", "k");
  fs::create_directory(Os("tree"));
  fs::create_directory_symlink(Os("outside"), Os("tree/link"));
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA(Win("tree\\link").c_str(), &data);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT), data.dwFileAttributes);
  FindClose(h);
  EXPECT_TRUE(DeleteFileA(Win("tree\\link").c_str()));
  EXPECT_EQ("k", Read("outside/keep"));
}

TEST_F(FileServices, DeleteAndDirectories) {
  Write("f", "x");
  EXPECT_TRUE(DeleteFileA(Win("f").c_str()));
  EXPECT_FALSE(fs::exists(Os("f")));
  EXPECT_FALSE(DeleteFileA(Win("f").c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());

  EXPECT_TRUE(CreateDirectoryA(Win("d").c_str(), nullptr));
  EXPECT_FALSE(CreateDirectoryA(Win("d").c_str(), nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
  EXPECT_FALSE(CreateDirectoryA(Win("x\\y").c_str(), nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
  EXPECT_TRUE(CreateDirectoryA(Win("d\\e\\").c_str(), nullptr));

  // A folder is no file to open or create, whatever the disposition: the exclusive create,
  // which looks only when its create fails, gives the same answer as the others.
  for (DWORD disposition :
       {CREATE_NEW, CREATE_ALWAYS, OPEN_EXISTING, OPEN_ALWAYS, TRUNCATE_EXISTING}) {
    SCOPED_TRACE(disposition);
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              CreateFileA(Win("d").c_str(), GENERIC_WRITE, 0, nullptr, disposition, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  }

  // A directory is not a file to delete, and a full one cannot be removed.
  EXPECT_FALSE(DeleteFileA(Win("d").c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_FALSE(RemoveDirectoryA(Win("d").c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_DIR_NOT_EMPTY), GetLastError());
  EXPECT_TRUE(RemoveDirectoryA(Win("d\\e").c_str()));
  EXPECT_TRUE(RemoveDirectoryA(Win("d").c_str()));
  EXPECT_FALSE(RemoveDirectoryA(Win("d").c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
}

// Linux lets a process delete and rename files that others hold open; the kernel refuses only
// where the directory or the file system forbids it. That is the access-denied class this
// platform can give. The kernel's own files refuse even the superuser.
TEST(FileServicesRefused, KernelFilesRefuseWithAccessDenied) {
  EXPECT_FALSE(DeleteFileA("\\proc\\version"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_FALSE(RemoveDirectoryA("\\proc\\self\\fd"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
}

TEST_F(FileServices, ReadOnlyDirectoryRefusesWithAccessDenied) {
  if (geteuid() == 0)
    GTEST_SKIP() << "root ignores directory permissions";
  fs::create_directory(Os("ro"));
  Write("ro/f", "x");
  fs::create_directory(Os("ro/sub"));
  chmod(Os("ro").c_str(), 0555);
  EXPECT_FALSE(DeleteFileA(Win("ro\\f").c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_FALSE(MoveFileA(Win("ro\\f").c_str(), Win("g").c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_FALSE(RemoveDirectoryA(Win("ro\\sub").c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_FALSE(CreateDirectoryA(Win("ro\\new").c_str(), nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  chmod(Os("ro").c_str(), 0755);
}

TEST_F(FileServices, MoveNeverReplacesUnlessAsked) {
  Write("a", "A");
  Write("b", "B");
  EXPECT_FALSE(MoveFileA(Win("a").c_str(), Win("b").c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
  EXPECT_EQ("B", Read("b"));
  EXPECT_TRUE(MoveFileA(Win("a").c_str(), Win("c").c_str()));
  EXPECT_EQ("A", Read("c"));
  EXPECT_FALSE(fs::exists(Os("a")));
  EXPECT_FALSE(MoveFileA(Win("a").c_str(), Win("d").c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  EXPECT_TRUE(MoveFileExA(Win("c").c_str(), Win("b").c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ("A", Read("b"));
  EXPECT_FALSE(MoveFileExA(Win("b").c_str(), Win("e").c_str(), 0x100));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
}

TEST_F(FileServices, CopyKeepsBytesAndRefusesWhatWouldLoseData) {
  std::string bytes(200000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<char>(i * 7);
  Write("src", bytes);
  Write("other", "old");
  EXPECT_TRUE(CopyFileA(Win("src").c_str(), Win("dst").c_str(), TRUE));
  EXPECT_EQ(bytes, Read("dst"));
  EXPECT_FALSE(CopyFileA(Win("src").c_str(), Win("other").c_str(), TRUE));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_EXISTS), GetLastError());
  EXPECT_EQ("old", Read("other"));
  EXPECT_TRUE(CopyFileA(Win("src").c_str(), Win("other").c_str(), FALSE));
  EXPECT_EQ(bytes, Read("other"));
  // A copy onto itself must not empty the file.
  EXPECT_FALSE(CopyFileA(Win("src").c_str(), Win("src").c_str(), FALSE));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
  EXPECT_EQ(bytes, Read("src"));
  EXPECT_FALSE(CopyFileA(Win("missing").c_str(), Win("x").c_str(), FALSE));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  EXPECT_FALSE(fs::exists(Os("x")));
  fs::create_directory(Os("dir"));
  EXPECT_FALSE(CopyFileA(Win("dir").c_str(), Win("x").c_str(), FALSE));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
}

TEST_F(FileServices, FileHandlesReadWriteAppendAndSize) {
  HANDLE h = CreateFileA(Win("f").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  DWORD done = 0;
  EXPECT_TRUE(WriteFile(h, "hello", 5, &done, nullptr));
  EXPECT_EQ(5u, done);
  DWORD high = 7;
  EXPECT_EQ(5u, GetFileSize(h, &high));
  EXPECT_EQ(0u, high);
  char buffer[8];
  EXPECT_FALSE(ReadFile(h, buffer, sizeof buffer, &done, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_TRUE(CloseHandle(h));

  EXPECT_EQ(INVALID_HANDLE_VALUE,
            CreateFileA(Win("f").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_EXISTS), GetLastError());

  h = CreateFileA(Win("f").c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
  EXPECT_TRUE(WriteFile(h, " world", 6, &done, nullptr));
  CloseHandle(h);
  EXPECT_EQ("hello world", Read("f"));

  h = CreateFileA(Win("f").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  EXPECT_TRUE(ReadFile(h, buffer, 5, &done, nullptr));
  EXPECT_EQ("hello", std::string(buffer, done));
  CloseHandle(h);

  h = CreateFileA(Win("f").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
  EXPECT_EQ(0u, GetFileSize(h, nullptr));
  CloseHandle(h);

  EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileA(Win("none\\f").c_str(), GENERIC_WRITE, 0, nullptr,
                                              CREATE_ALWAYS, 0, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
  EXPECT_EQ(INVALID_HANDLE_VALUE,
            CreateFileA(Win("g").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  EXPECT_FALSE(CloseHandle(nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

// A close that fails (a delayed write error of a network or full disk) is reported, not lost.
// The descriptor is closed behind the handle's back so that its own close fails.
TEST_F(FileServices, CloseHandleReportsAFailedClose) {
  HANDLE h = CreateFileA(Win("c").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  const std::string target = (fs::path(root_) / "c").string();
  int fd = -1;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ignored;
    if (fs::read_symlink(entry.path(), ignored).string() == target)
      fd = std::stoi(entry.path().filename().string());
  }
  ASSERT_GE(fd, 0);
  ASSERT_EQ(0, close(fd));
  SetLastError(0);
  EXPECT_FALSE(CloseHandle(h));
  EXPECT_NE(0u, GetLastError());
}

TEST(TempPath, IsTheTemporaryDirectoryInSystemForm) {
  char buffer[MAX_PATH];
  const char* saved = getenv("TMPDIR");
  std::string saved_value = saved ? saved : "";
  setenv("TMPDIR", "/var/tmp", 1);
  DWORD n = GetTempPathA(sizeof buffer, buffer);
  EXPECT_STREQ("\\var\\tmp\\", buffer);
  EXPECT_EQ(9u, n);
  EXPECT_EQ(10u, GetTempPathA(5, buffer));
  unsetenv("TMPDIR");
  GetTempPathA(sizeof buffer, buffer);
  EXPECT_STREQ("\\tmp\\", buffer);
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(buffer));
  if (saved)
    setenv("TMPDIR", saved_value.c_str(), 1);
}

}  // namespace
