// Tests of the file and directory operations and the shared last-error text, on real
// directories under a temporary root.
#include "KaFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "child_process.h"
#include "platform_config.h"

namespace {

namespace fs = std::filesystem;

// The last-error messages in code page 949.
const char kFileInUse[] =
    "\xB4\xD9\xB8\xA5 \xC7\xC1\xB7\xCE\xBC\xBC\xBD\xBA\xB0\xA1 \xC6\xC4\xC0\xCF\xC0\xBB "
    "\xBB\xE7\xBF\xEB\xC7\xCF\xB0\xED \xC0\xD6\xC0\xB8\xB9\xC7\xB7\xCE \xC6\xC4\xC0\xCF\xBF\xA1 "
    "\xC1\xA2\xB1\xD9 \xC7\xD2 \xBC\xF6 \xBE\xF8\xBD\xC0\xB4\xCF\xB4\xD9.";
const char kPathNotFound[] =
    "\xC6\xC4\xC0\xCF \xB6\xC7\xB4\xC2 \xB5\xF0\xB7\xBA\xC5\xE4\xB8\xAE "
    "\xB0\xE6\xB7\xCE\xB8\xA6 \xC3\xA3\xC0\xBB \xBC\xF6 \xBE\xF8\xBD\xC0\xB4\xCF\xB4\xD9.";

// A child that sets the last-error text to its argument, and one that checks it.
const bool kSetsError = child_process::RoleIfChild("set-error", [](const std::string& text) {
  kaSetErrString("%s", text.c_str());
  return 0;
});
const bool kChecksError = child_process::RoleIfChild(
    "check-error", [](const std::string& text) { return text == kaGetErrString() ? 0 : 1; });

class KaFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kafile-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    root_ = pattern;
    win_root_ = root_;
    for (char& c : win_root_)
      if (c == '/')
        c = '\\';
    kaSetErrString("untouched");
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
    PlatformSetDriveRoot('C', nullptr);
  }
  std::string Win(const std::string& rel) const { return win_root_ + "\\" + rel; }
  std::string Os(const std::string& rel) const { return root_ + "/" + rel; }
  void Write(const std::string& rel, const std::string& bytes = "") const {
    std::ofstream(Os(rel), std::ios::binary) << bytes;
  }
  bool Exists(const std::string& rel) const { return fs::exists(Os(rel)); }

  std::string root_;
  std::string win_root_;
};

TEST_F(KaFile, ExistenceRulesOfTheStatusQuery) {
  Write("f.txt", "12345");
  Write("empty");
  fs::create_directory(Os("dir"));
  EXPECT_EQ(0, kaIsFileExist(Win("f.txt").c_str()));
  EXPECT_EQ(0, kaIsFileExist(Win("dir").c_str()));
  EXPECT_EQ(-1, kaIsFileExist(Win("dir\\").c_str()));
  EXPECT_EQ(-1, kaIsFileExist(Win("*.txt").c_str()));
  EXPECT_EQ(-1, kaIsFileExist(Win("f.tx?").c_str()));
  EXPECT_EQ(-1, kaIsFileExist(Win("missing").c_str()));
  EXPECT_EQ(-1, kaIsFileExist(""));
  EXPECT_EQ(-1, kaIsFileExist(nullptr));
  EXPECT_EQ(0, kaIsFileExist("\\"));
  ASSERT_TRUE(PlatformSetDriveRoot('C', root_.c_str()));
  EXPECT_EQ(-1, kaIsFileExist("C:"));
  EXPECT_EQ(0, kaIsFileExist("C:\\"));
  EXPECT_EQ(0, kaIsFileExist("C:\\dir"));
  EXPECT_EQ(-1, kaIsFileExist("C:\\dir\\"));

  EXPECT_EQ(5, kaGetFileSize(Win("f.txt").c_str()));
  EXPECT_EQ(0, kaGetFileSize(Win("empty").c_str()));
  EXPECT_EQ(-1, kaGetFileSize(Win("missing").c_str()));
  EXPECT_EQ(-1, kaGetFileSize(Win("f.txt\\").c_str()));
  EXPECT_EQ(-1, kaGetFileSize(""));

  std::string too_long = Win(std::string(300, 'x'));
  EXPECT_EQ(-1, kaIsFileExist(too_long.c_str()));
  EXPECT_STREQ("untouched", kaGetErrString());
}

TEST_F(KaFile, RemoveFilesWithEveryEntryEmptiesTheTreeBottomUp) {
  fs::create_directories(Os("top/a/b/c"));
  fs::create_directories(Os("top/empty"));
  Write("top/1.txt");
  Write("top/a/2.dat");
  Write("top/a/b/c/3");
  EXPECT_EQ(0, kaRemoveFiles(Win("top").c_str(), "*.*"));
  EXPECT_TRUE(fs::is_directory(Os("top")));
  EXPECT_TRUE(fs::is_empty(Os("top")));
}

TEST_F(KaFile, RemoveFilesByPattern) {
  fs::create_directories(Os("d/sub"));
  Write("d/a.tmp");
  Write("d/B.TMP");
  Write("d/keep.txt");
  Write("d/sub/x.tmp");
  // Only matching entries go, and "sub" does not match, so it is not entered.
  EXPECT_EQ(0, kaRemoveFiles(Win("d").c_str(), "*.tmp"));
  EXPECT_FALSE(Exists("d/a.tmp"));
  EXPECT_FALSE(Exists("d/B.TMP"));
  EXPECT_TRUE(Exists("d/keep.txt"));
  EXPECT_TRUE(Exists("d/sub/x.tmp"));

  // Nothing left to match: failure, last-error text untouched.
  EXPECT_EQ(-1, kaRemoveFiles(Win("d").c_str(), "*.tmp"));
  EXPECT_STREQ("untouched", kaGetErrString());
  EXPECT_EQ(-1, kaRemoveFiles(Win("missing").c_str(), "*.*"));

  // A matching subdirectory without matches inside fails the call, after the files before it.
  fs::create_directories(Os("e/z.tmp"));
  Write("e/z.tmp/other.txt");
  EXPECT_EQ(-1, kaRemoveFiles(Win("e").c_str(), "*.tmp"));
  EXPECT_TRUE(Exists("e/z.tmp/other.txt"));
  EXPECT_STREQ("untouched", kaGetErrString());
}

TEST_F(KaFile, RemoveFilesRefusedByTheSystemSetsTheFileInUseMessage) {
  // The kernel's own files refuse deletion even to the superuser.
  EXPECT_EQ(-1, kaRemoveFiles("\\proc", "version"));
  EXPECT_STREQ(kFileInUse, kaGetErrString());
}

TEST_F(KaFile, CreateDirectorySkipsEmptyComponents) {
  ASSERT_TRUE(PlatformSetDriveRoot('C', root_.c_str()));
  EXPECT_EQ(0, kaCreateDirectory("C:\\a\\\\b\\"));
  EXPECT_TRUE(fs::is_directory(Os("a/b")));
  EXPECT_EQ(0, kaCreateDirectory("C:\\a\\\\b\\"));
  EXPECT_EQ(0, kaCreateDirectory(Win("r\\s\\t").c_str()));
  EXPECT_TRUE(fs::is_directory(Os("r/s/t")));

  // Without a backslash there is only the first component, which is never created.
  std::string cwd = fs::current_path();
  fs::current_path(root_);
  EXPECT_EQ(0, kaCreateDirectory("newdir"));
  EXPECT_FALSE(Exists("newdir"));
  fs::current_path(cwd);

  EXPECT_EQ(-1, kaCreateDirectory(""));
  EXPECT_STREQ(kPathNotFound, kaGetErrString());
  kaSetErrString("untouched");
  // A component that is a file cannot hold a directory: failure without a message, and the
  // components made before it stay.
  fs::create_directory(Os("made"));
  Write("made/file");
  EXPECT_EQ(-1, kaCreateDirectory(Win("made\\new\\..\\file\\x").c_str()));
  EXPECT_TRUE(fs::is_directory(Os("made/new")));
  EXPECT_EQ(-1, kaCreateDirectory(Win("made\\file\\x").c_str()));
  EXPECT_STREQ("untouched", kaGetErrString());
  std::string too_long = Win(std::string(250, 'y') + "\\z");
  EXPECT_EQ(-1, kaCreateDirectory(too_long.c_str()));
}

TEST_F(KaFile, RemoveDirectoryTakesTheTreeAndTheTrailingBackslash) {
  fs::create_directories(Os("old/x/y"));
  Write("old/x/y/f");
  Write("old/g");
  std::string path = Win("old\\");
  EXPECT_EQ(0, kaRemoveDirectory(path.data()));
  EXPECT_EQ(Win("old"), path.c_str());
  EXPECT_FALSE(Exists("old"));

  EXPECT_EQ(-1, kaRemoveDirectory(path.data()));
  EXPECT_STREQ(kPathNotFound, kaGetErrString());
  char empty[] = "";
  kaSetErrString("untouched");
  EXPECT_EQ(-1, kaRemoveDirectory(empty));
  EXPECT_STREQ(kPathNotFound, kaGetErrString());
}

// The system refuses to remove an empty directory of its own: that is a failure, not the
// silent success it would be if only "not empty" counted.
TEST_F(KaFile, RemoveDirectoryReportsARefusedRemoval) {
  std::string refused;
  for (const char* candidate : {"/proc/sys/fs/binfmt_misc", "/sys/kernel/software_nodes"}) {
    std::error_code error;
    if (fs::is_directory(candidate, error) && fs::is_empty(candidate, error))
      refused = candidate;
  }
  if (refused.empty())
    GTEST_SKIP() << "no empty system directory on this host";
  for (char& c : refused)
    if (c == '/')
      c = '\\';
  EXPECT_EQ(-1, kaRemoveDirectory(refused.data()));
  EXPECT_STREQ(kFileInUse, kaGetErrString());
}

TEST_F(KaFile, CopyAndMoveWithAMissingSourceTouchNothing) {
  Write("dst", "keep");
  EXPECT_EQ(0, kaCopyFile(Win("missing").c_str(), Win("dst").c_str(), 0));
  EXPECT_EQ(0, kaMoveFile(Win("missing").c_str(), Win("dst").c_str()));
  std::ifstream in(Os("dst"));
  EXPECT_EQ("keep", std::string(std::istreambuf_iterator<char>(in), {}));
}

TEST_F(KaFile, CopyAndMove) {
  Write("src", "data");
  Write("taken", "old");
  EXPECT_NE(0, kaCopyFile(Win("src").c_str(), Win("copy").c_str(), 1));
  EXPECT_EQ(4, kaGetFileSize(Win("copy").c_str()));
  EXPECT_EQ(0, kaCopyFile(Win("src").c_str(), Win("taken").c_str(), 1));
  EXPECT_EQ(3, kaGetFileSize(Win("taken").c_str()));
  EXPECT_NE(0, kaCopyFile(Win("src").c_str(), Win("taken").c_str(), 0));
  EXPECT_EQ(4, kaGetFileSize(Win("taken").c_str()));

  // An existing destination is never replaced, and that is no reason to wait.
  EXPECT_EQ(0, kaMoveFile(Win("copy").c_str(), Win("taken").c_str()));
  EXPECT_EQ(1, kaMoveFile(Win("copy").c_str(), Win("moved").c_str()));
  EXPECT_FALSE(Exists("copy"));
  EXPECT_EQ(4, kaGetFileSize(Win("moved").c_str()));
}

// On Linux a file that another process holds open can be moved at once; the platform would
// make the move wait until that process closes it.
TEST_F(KaFile, MoveOfAFileHeldOpenElsewhereSucceeds) {
  Write("held", "x");
  int fd = open(Os("held").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(1, kaMoveFile(Win("held").c_str(), Win("moved").c_str()));
  close(fd);
}

// A source that the system keeps refusing ends the retries after kaMoveFileRetries waits.
TEST_F(KaFile, MoveRetriesARefusedSourceABoundedNumberOfTimes) {
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(0, kaMoveFile("\\proc\\version", Win("version").c_str()));
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_FALSE(Exists("version"));
  // The retries happened (each waits 500 ms) and ended.
  EXPECT_GE(waited, std::chrono::milliseconds(500 * kaMoveFileRetries));
}

TEST(KaErrString, FormatsCutsAndReadsItself) {
  kaSetErrString("%s %d", "code", 42);
  EXPECT_STREQ("code 42", kaGetErrString());
  kaSetErrString("[%s]", kaGetErrString());
  EXPECT_STREQ("[code 42]", kaGetErrString());
  std::string long_text(400, 'L');
  kaSetErrString("%s", long_text.c_str());
  EXPECT_EQ(std::string(255, 'L'), kaGetErrString());
  kaSetErrString(nullptr);
  EXPECT_STREQ("", kaGetErrString());
}

TEST(KaErrString, IsOneTextForEveryProcess) {
  ASSERT_EQ(0, child_process::RunChild("set-error", "set by the child"));
  EXPECT_STREQ("set by the child", kaGetErrString());
  kaSetErrString("set by the parent");
  EXPECT_EQ(0, child_process::RunChild("check-error", "set by the parent"));
  EXPECT_EQ(1, child_process::RunChild("check-error", "something else"));
}

TEST(KaErrString, StartsEmptyWhenNoProcessHoldsTheBlock) {
  std::string name = "KaMsUtilTest.empty." + std::to_string(getpid());
  std::string saved = getenv("KAMSUTIL_SETTINGS_NAME");
  setenv("KAMSUTIL_SETTINGS_NAME", name.c_str(), 1);
  int set = child_process::RunChild("set-error", "left behind");
  int checked = child_process::RunChild("check-error", "");
  setenv("KAMSUTIL_SETTINGS_NAME", saved.c_str(), 1);
  EXPECT_EQ(0, set);
  EXPECT_EQ(0, checked);
}

}  // namespace
