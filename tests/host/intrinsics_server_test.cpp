// MapPath's mapping of virtual paths under a site root, called as the pages of several sites
// and folders call it one after another on one thread.
#include <gtest/gtest.h>

#include <string>

#include "intrinsics.h"

namespace {

std::u16string mapped(const std::string& root, const std::string& page,
                      const std::u16string& path) {
  std::u16string out;
  EXPECT_TRUE(vhost::map_virtual_path(root, page, path, &out)) << root << " " << page;
  return out;
}

TEST(MapVirtualPath, EachCallMapsUnderItsOwnRootAndFolder) {
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(u"\\srv\\a\\files\\x.txt", mapped("/srv/a", "/save.asp", u"files/x.txt"));
    EXPECT_EQ(u"\\srv\\b\\sub\\files\\x.txt", mapped("/srv/b", "/sub/save.asp", u"files/x.txt"));
    EXPECT_EQ(u"\\srv\\b\\deep\\y.txt", mapped("/srv/b", "/sub/deeper/p.asp", u"../../deep/y.txt"));
    EXPECT_EQ(u"\\srv\\a\\up\\z", mapped("/srv/a", "/sub/p.asp", u"/up/z"));
    EXPECT_EQ(u"\\srv\\\uD55C\\\uD55C.txt", mapped("/srv/\xED\x95\x9C", "/p.asp", u"\uD55C.txt"));
  }
  std::u16string out;
  EXPECT_FALSE(vhost::map_virtual_path("/srv/a", "/sub/p.asp", u"../../x", &out));
  EXPECT_FALSE(vhost::map_virtual_path("/srv/a", "/p.asp", u"c:x", &out));
}

}  // namespace
