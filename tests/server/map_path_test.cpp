// Tests of the path rule shared by the upload, attachment and download objects: which paths
// are taken as physical and which go through the page's server.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "file_fixture.h"

namespace {

using late_bound::Call;
using late_bound::Str;

class MapPath : public FileFixture {
 protected:
  LONG is_file_exist(const char16_t* path) {
    ScopedVariant v;
    EXPECT_EQ(S_OK, late_bound::Get(upload_.Get(), u"IsFileExist", {Str(path)}, v.Receive()));
    return v.Get().lVal;
  }
};

TEST_F(MapPath, PhysicalPathsAreUsedAsTheyStand) {
  start_with_file("x");
  for (const char16_t* path : {u"C:\\up\\a.txt", u"\\\\host\\share\\a.txt", u"\\a", u"D:data.bin",
                               u"up\\a.txt", u"ab\\c", u"C:/up/a.txt", u"a\\"})
    is_file_exist(path);
  EXPECT_TRUE(page_->server->mapped.empty());
}

TEST_F(MapPath, OtherPathsGoToTheServerAsTheScriptGaveThem) {
  start_with_file("x");
  const std::vector<std::u16string> paths = {u"a", u"/files/a.txt", u"uploads/a.txt", u"up.txt",
                                             u"",  u"ab/c\\d"};
  for (const std::u16string& path : paths)
    is_file_exist(path.c_str());
  EXPECT_EQ(paths, page_->server->mapped);
}

TEST_F(MapPath, MappedPathIsWhereTheFileGoes) {
  start_with_file("mapped");
  mkdir("site/files");
  mkdir("site/page");
  ComPtr<IDispatch> file = attachment();
  ASSERT_TRUE(file);
  EXPECT_EQ(S_OK, Call(file.Get(), u"SaveFile", DISPATCH_METHOD, {Str(u"/files/a.txt")}, nullptr));
  EXPECT_EQ(S_OK, Call(file.Get(), u"SaveFile", DISPATCH_METHOD, {Str(u"a")}, nullptr));
  EXPECT_EQ("mapped", read("site/files/a.txt"));
  EXPECT_EQ("mapped", read("site/page/a"));
  EXPECT_EQ(1, is_file_exist(u"/files/a.txt"));
  EXPECT_EQ(1, is_file_exist(u"C:\\site\\page\\a"));
}

}  // namespace
