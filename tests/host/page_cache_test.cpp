// Tests of the compiled-page cache: a settled page is compiled once and its bytecode kept;
// a page changed in the last seconds, or one that fails to compile, is not kept.
#include "page_cache.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

class PageCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/pagecacheXXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    root_ = dir;
  }
  void TearDown() override { fs::remove_all(root_); }

  void write(const std::string& name, const std::string& text, bool settled) {
    std::ofstream(root_ + name, std::ios::binary) << text;
    if (settled)
      fs::last_write_time(root_ + name, fs::file_time_type::clock::now() - std::chrono::hours(1));
  }

  std::string root_;
  vhost::PageCache cache_;
  vhost::CompileError error_;
};

TEST_F(PageCacheTest, ASettledPageIsCompiledOnceAndKeepsItsBytecode) {
  write("/a.asp", "<%= 1 + 1 %>", true);
  const auto first = cache_.get(root_, "/a.asp", &error_);
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(nullptr, first->bytecode());
  first->set_bytecode("abc", 3);
  first->set_bytecode("other", 5);
  const auto second = cache_.get(root_, "/a.asp", &error_);
  EXPECT_EQ(first, second);
  ASSERT_NE(nullptr, second->bytecode());
  EXPECT_EQ("abc", *second->bytecode()) << "the first bytecode stored stays";
}

TEST_F(PageCacheTest, FreshOrFailingPagesAreNotKept) {
  write("/fresh.asp", "<%= 1 %>", false);
  const auto first = cache_.get(root_, "/fresh.asp", &error_);
  ASSERT_NE(nullptr, first);
  EXPECT_NE(first, cache_.get(root_, "/fresh.asp", &error_));

  write("/bad.asp", "<% unclosed", true);
  EXPECT_EQ(nullptr, cache_.get(root_, "/bad.asp", &error_));
  EXPECT_EQ("/bad.asp", error_.file);
  write("/bad.asp", "<% var fixed = 1; %>", true);
  EXPECT_NE(nullptr, cache_.get(root_, "/bad.asp", &error_));

  write("/gone.asp", "x", true);
  ASSERT_NE(nullptr, cache_.get(root_, "/gone.asp", &error_));
  fs::remove(root_ + "/gone.asp");
  EXPECT_EQ(nullptr, cache_.get(root_, "/gone.asp", &error_));
}

}  // namespace
