// Tests of the upload object's file utilities as a script calls them: their work, their
// statuses and the descriptions they record, with physical and mapped paths.
#include <gtest/gtest.h>

#include <string>

#include "KaFile.h"
#include "file_fixture.h"

namespace {

using late_bound::Call;
using late_bound::I4;
using late_bound::Str;
using late_bound::TakeErrorDescription;

const char16_t kPathNotFound[] = u"파일 또는 디렉토리 경로를 찾을 수 없습니다.";
const char16_t kFileInUse[] =
    u"다른 프로세스가 파일을 사용하고 있으므로 파일에 접근 할 수 없습니다.";

class FileUtils : public FileFixture {
 protected:
  HRESULT call(const char16_t* method, std::vector<VARIANT> args) {
    return Call(upload_.Get(), method, DISPATCH_METHOD, std::move(args), nullptr);
  }
  LONG is_file_exist(const char16_t* path, HRESULT* hr = nullptr) {
    ScopedVariant v;
    const HRESULT got = late_bound::Get(upload_.Get(), u"IsFileExist", {Str(path)}, v.Receive());
    if (hr)
      *hr = got;
    return v.Get().lVal;
  }
};

TEST_F(FileUtils, IsFileExistForFilesDirectoriesAndWhatIsNot) {
  start_with_file("x");
  mkdir("dir");
  write("dir/a.txt", "a");
  EXPECT_EQ(1, is_file_exist(u"C:\\dir\\a.txt"));
  EXPECT_EQ(1, is_file_exist(u"C:\\dir"));
  EXPECT_EQ(0, is_file_exist(u"C:\\dir\\"));
  EXPECT_EQ(0, is_file_exist(u"C:\\dir\\*.txt"));
  EXPECT_EQ(0, is_file_exist(u"C:\\dir\\b.txt"));
  EXPECT_EQ(0, is_file_exist(u""));
  page_->server->map_failure = E_ACCESSDENIED;
  HRESULT hr = E_FAIL;
  EXPECT_EQ(0, is_file_exist(u"a.txt", &hr));
  EXPECT_EQ(S_OK, hr);
}

TEST_F(FileUtils, WithoutAPagePhysicalPathsWorkAndOthersFail) {
  mkdir("dir");
  write("dir/a.txt", "a");
  EXPECT_EQ(1, is_file_exist(u"C:\\dir\\a.txt"));
  HRESULT hr = E_FAIL;
  EXPECT_EQ(0, is_file_exist(u"dir/a.txt", &hr));
  EXPECT_EQ(S_OK, hr);
  EXPECT_EQ(E_UNEXPECTED, call(u"DeleteFile", {Str(u"a.txt")}));
  EXPECT_EQ(E_UNEXPECTED, call(u"DeleteFiles", {Str(u"dir"), Str(u"*.txt")}));
  EXPECT_EQ(E_UNEXPECTED, call(u"CopyFile", {Str(u"C:\\dir\\a.txt"), Str(u"b.txt")}));
  EXPECT_EQ(E_UNEXPECTED, call(u"MoveFile", {Str(u"a.txt"), Str(u"C:\\dir\\b.txt")}));
  EXPECT_EQ(E_UNEXPECTED, call(u"MakeDir", {Str(u"new")}));
  EXPECT_EQ(E_UNEXPECTED, call(u"RemoveDir", {Str(u"dir")}));
  EXPECT_EQ(u"", TakeErrorDescription());
  EXPECT_TRUE(exists("dir/a.txt"));
  EXPECT_EQ(S_OK, call(u"DeleteFile", {Str(u"C:\\dir\\a.txt")}));
  EXPECT_FALSE(exists("dir/a.txt"));
}

TEST_F(FileUtils, DeleteFileAndItsFailureClasses) {
  start_with_file("x");
  mkdir("dir");
  write("dir/a.txt", "a");
  EXPECT_EQ(S_OK, call(u"DeleteFile", {Str(u"C:\\dir\\a.txt")}));
  EXPECT_FALSE(exists("dir/a.txt"));
  EXPECT_EQ(E_INVALIDARG, call(u"DeleteFile", {Str(u"C:\\dir\\a.txt")}));
  EXPECT_EQ(kPathNotFound, TakeErrorDescription());
  EXPECT_EQ(E_INVALIDARG, call(u"DeleteFile", {Str(u"C:\\nodir\\a.txt")}));
  EXPECT_EQ(kPathNotFound, TakeErrorDescription());
  // A directory is not a file: access denied, and it stays.
  EXPECT_EQ(E_INVALIDARG, call(u"DeleteFile", {Str(u"C:\\dir")}));
  EXPECT_EQ(kFileInUse, TakeErrorDescription());
  EXPECT_EQ(1, is_file_exist(u"C:\\dir"));
  page_->server->map_failure = E_ACCESSDENIED;
  EXPECT_EQ(E_ACCESSDENIED, call(u"DeleteFile", {Str(u"dir/a.txt")}));
  EXPECT_EQ(u"", TakeErrorDescription());
}

TEST_F(FileUtils, DeleteFilesRemovesTheMatchesAndAlwaysSucceeds) {
  start_with_file("x");
  mkdir("site/page/logs/old");
  write("site/page/logs/a.tmp", "");
  write("site/page/logs/b.txt", "");
  write("site/page/logs/old/c.tmp", "");
  EXPECT_EQ(S_OK, call(u"DeleteFiles", {Str(u"logs"), Str(u"*.tmp")}));
  EXPECT_FALSE(exists("site/page/logs/a.tmp"));
  EXPECT_TRUE(exists("site/page/logs/old/c.tmp"));
  EXPECT_TRUE(exists("site/page/logs/b.txt"));
  EXPECT_EQ(S_OK, call(u"DeleteFiles", {Str(u"C:\\site\\page\\logs"), Str(u"*.none")}));
  // A failure passes on whatever last-error text the library holds; set a known one first.
  char missing[] = "C:\\nodir";
  ASSERT_NE(0, kaRemoveDirectory(missing));
  EXPECT_EQ(S_OK, call(u"DeleteFiles", {Str(u"C:\\nodir"), Str(u"*.*")}));
  EXPECT_EQ(kPathNotFound, TakeErrorDescription());
  page_->server->map_failure = E_ACCESSDENIED;
  EXPECT_EQ(E_ACCESSDENIED, call(u"DeleteFiles", {Str(u"logs"), Str(u"*.txt")}));
  EXPECT_TRUE(exists("site/page/logs/b.txt"));
  EXPECT_EQ(S_OK, call(u"DeleteFiles", {Str(u"C:\\site\\page\\logs"), Str(u"*.*")}));
  EXPECT_FALSE(exists("site/page/logs/b.txt"));
  EXPECT_FALSE(exists("site/page/logs/old/c.tmp"));
}

TEST_F(FileUtils, CopyFileOverwritesUnlessAsked) {
  start_with_file("x");
  write("src.txt", "new");
  write("dst.txt", "old");
  EXPECT_EQ(S_OK, call(u"CopyFile", {Str(u"C:\\src.txt"), Str(u"C:\\dst.txt"), I4(1)}));
  EXPECT_EQ(kPathNotFound, TakeErrorDescription());
  EXPECT_EQ("old", read("dst.txt"));
  EXPECT_EQ(S_OK, call(u"CopyFile", {Str(u"C:\\src.txt"), Str(u"C:\\dst.txt")}));
  EXPECT_EQ(u"", TakeErrorDescription());
  EXPECT_EQ("new", read("dst.txt"));
  EXPECT_EQ(S_OK, call(u"CopyFile", {Str(u"C:\\missing.txt"), Str(u"C:\\other.txt")}));
  EXPECT_EQ(kPathNotFound, TakeErrorDescription());
  EXPECT_FALSE(exists("other.txt"));
}

TEST_F(FileUtils, MoveFileAndTheFirstFailedMapping) {
  start_with_file("x");
  mkdir("site/page");
  write("src.txt", "moved");
  EXPECT_EQ(S_OK, call(u"MoveFile", {Str(u"C:\\src.txt"), Str(u"m.txt")}));
  EXPECT_EQ("moved", read("site/page/m.txt"));
  EXPECT_FALSE(exists("src.txt"));
  EXPECT_EQ(S_OK, call(u"MoveFile", {Str(u"C:\\src.txt"), Str(u"C:\\again.txt")}));
  EXPECT_EQ(kPathNotFound, TakeErrorDescription());
  page_->server->map_failure = E_ACCESSDENIED;
  page_->server->mapped.clear();
  EXPECT_EQ(E_ACCESSDENIED, call(u"MoveFile", {Str(u"a.txt"), Str(u"b.txt")}));
  EXPECT_EQ(E_ACCESSDENIED, call(u"CopyFile", {Str(u"C:\\x.txt"), Str(u"b.txt")}));
  // The source is mapped first, and a failure stops there.
  EXPECT_EQ((std::vector<std::u16string>{u"a.txt", u"b.txt"}), page_->server->mapped);
  EXPECT_EQ(u"", TakeErrorDescription());
}

TEST_F(FileUtils, MakeDirAndRemoveDir) {
  start_with_file("x");
  EXPECT_EQ(S_OK, call(u"MakeDir", {Str(u"C:\\a\\b\\c")}));
  EXPECT_EQ(1, is_file_exist(u"C:\\a\\b\\c"));
  EXPECT_EQ(S_OK, call(u"MakeDir", {Str(u"C:\\a\\b\\c")}));
  write("a/b/c/f.txt", "f");
  write("file.txt", "f");
  EXPECT_EQ(E_FAIL, call(u"MakeDir", {Str(u"C:\\file.txt\\sub")}));
  EXPECT_EQ(S_OK, call(u"RemoveDir", {Str(u"C:\\a")}));
  EXPECT_EQ(0, is_file_exist(u"C:\\a"));
  EXPECT_EQ(E_FAIL, call(u"RemoveDir", {Str(u"C:\\a")}));
  TakeErrorDescription();
  page_->server->map_failure = E_ACCESSDENIED;
  EXPECT_EQ(E_ACCESSDENIED, call(u"MakeDir", {Str(u"new")}));
  EXPECT_EQ(E_ACCESSDENIED, call(u"RemoveDir", {Str(u"new")}));
}

}  // namespace
