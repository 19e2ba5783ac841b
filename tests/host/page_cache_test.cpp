// Tests of the compiled-page cache: a settled page is compiled once and its bytecode kept;
// a page changed in the last seconds, or one that fails to compile, is not kept.
#include "page_cache.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

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

  // Writes name with a modification time an hour before a fixed moment of this test.
  void write_at_fixed_time(const std::string& name, const std::string& text) {
    std::ofstream(root_ + name, std::ios::binary) << text;
    fs::last_write_time(root_ + name, fixed_time_);
  }

  std::string root_;
  const fs::file_time_type fixed_time_ = fs::file_time_type::clock::now() - std::chrono::hours(1);
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

// A page runs on the thread holding its connection only after short runs in a row; one long
// run takes that back, and a page compiled again starts unproven.
TEST_F(PageCacheTest, APageIsTrustedToRunShortAfterShortRunsInARow) {
  using vhost::CachedPage;
  write("/a.asp", "<%= 1 %>", true);
  const auto page = cache_.get(root_, "/a.asp", &error_);
  ASSERT_NE(nullptr, page);
  const auto short_run = CachedPage::kShortRun / 2;
  const auto long_run = CachedPage::kShortRun + std::chrono::milliseconds(1);
  for (unsigned round = 0; round < 2; ++round) {
    for (unsigned i = 0; i < CachedPage::kShortRunsToTrust; ++i) {
      EXPECT_FALSE(page->runs_short()) << "round " << round << ", after " << i << " short runs";
      page->record_run(short_run);
    }
    EXPECT_TRUE(page->runs_short());
    for (int i = 0; i < 1000; ++i)
      page->record_run(short_run);
    EXPECT_TRUE(page->runs_short()) << "many short runs keep it trusted";
    page->record_run(long_run);
    EXPECT_FALSE(page->runs_short());
  }
  page->record_run(CachedPage::kShortRun);
  page->record_run(CachedPage::kShortRun);
  page->record_run(CachedPage::kShortRun);
  EXPECT_TRUE(page->runs_short()) << "a run of exactly the bound is short";

  write("/a.asp", "<%= 2 %>", true);
  fs::last_write_time(root_ + "/a.asp", fs::file_time_type::clock::now() - std::chrono::hours(2));
  const auto changed = cache_.get(root_, "/a.asp", &error_);
  ASSERT_NE(nullptr, changed);
  ASSERT_NE(page, changed);
  EXPECT_FALSE(changed->runs_short());
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

// A deployment that renames a new copy into place may keep the old size and time (a copy that
// preserves times): the new file is still a new version of the page.
TEST_F(PageCacheTest, APageReplacedByAFileOfTheSameSizeAndTimeIsCompiledAgain) {
  write_at_fixed_time("/a.asp", "<%= 1 %>");
  const auto first = cache_.get(root_, "/a.asp", &error_);
  ASSERT_NE(nullptr, first);
  ASSERT_EQ(first, cache_.get(root_, "/a.asp", &error_));

  write_at_fixed_time("/a.new", "<%= 2 %>");
  fs::rename(root_ + "/a.new", root_ + "/a.asp");
  const auto second = cache_.get(root_, "/a.asp", &error_);
  ASSERT_NE(nullptr, second);
  EXPECT_NE(first, second);
  EXPECT_NE(first->page().script, second->page().script);
}

// The status a request took of the page stands for the page's own stamp; included files are
// still looked at.
TEST_F(PageCacheTest, TheCallersStatusOfThePageIsUsedAndIncludesAreStillChecked) {
  write("/inc.inc", "<% var n = 1; %>", true);
  write("/p.asp", "<!-- #include file=\"inc.inc\" --><%= n %>", true);
  struct stat page;
  ASSERT_EQ(0, stat((root_ + "/p.asp").c_str(), &page));
  const auto first = cache_.get(root_, "/p.asp", &error_, &page);
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(first, cache_.get(root_, "/p.asp", &error_, &page));

  struct stat other;
  ASSERT_EQ(0, stat((root_ + "/inc.inc").c_str(), &other));
  EXPECT_NE(first, cache_.get(root_, "/p.asp", &error_, &other))
      << "a status that is not the page's stamp means the page changed";

  const auto current = cache_.get(root_, "/p.asp", &error_, &page);
  write("/inc.inc", "<% var n = 22; %>", true);
  EXPECT_NE(current, cache_.get(root_, "/p.asp", &error_, &page));
}

// With the worker's resolution cache, the stamps of a page's files come from it while inotify
// reports no change; a changed or replaced include still makes a new compilation.
TEST_F(PageCacheTest, IncludesCheckedThroughTheResolutionCacheAreSeenChanged) {
  vhost::ResolutionCache resolutions;
  fs::create_directory(root_ + "/parts");
  write("/parts/inc.inc", "<% var n = 1; %>", true);
  write("/p.asp", "<!-- #include file=\"parts/inc.inc\" --><%= n %>", true);
  const auto first = cache_.get(root_, "/p.asp", &error_, nullptr, &resolutions);
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(first, cache_.get(root_, "/p.asp", &error_, nullptr, &resolutions));
  EXPECT_EQ(2u, resolutions.size()) << "the page and its include are kept";
  EXPECT_EQ(first, cache_.get(root_, "/p.asp", &error_, nullptr, &resolutions));

  write("/parts/inc.inc", "<% var n = 2; %>", true);
  const auto second = cache_.get(root_, "/p.asp", &error_, nullptr, &resolutions);
  ASSERT_NE(nullptr, second);
  EXPECT_NE(first, second) << "the include written";
  EXPECT_NE(std::string::npos, second->page().script.find("n = 2"));

  EXPECT_EQ(second, cache_.get(root_, "/p.asp", &error_, nullptr, &resolutions));
  write("/parts/inc.new", "<% var n = 3; %>", true);
  fs::rename(root_ + "/parts/inc.new", root_ + "/parts/inc.inc");
  const auto third = cache_.get(root_, "/p.asp", &error_, nullptr, &resolutions);
  ASSERT_NE(nullptr, third);
  EXPECT_NE(std::string::npos, third->page().script.find("n = 3")) << "the include replaced";

  fs::remove(root_ + "/parts/inc.inc");
  EXPECT_EQ(nullptr, cache_.get(root_, "/p.asp", &error_, nullptr, &resolutions))
      << "the include removed";
}

}  // namespace
