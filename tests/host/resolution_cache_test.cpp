// Tests of the cache of path resolutions: a kept resolution is dropped by any change on its
// way (the file written, touched, replaced or removed; a folder renamed, replaced by a link
// or changed in mode; a folder above the root renamed), also one made while the path was being
// resolved, by lost events and by age; only regular files under one spelling are kept, and the
// cache stays within its bounds.
#include "resolution_cache.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

namespace {

namespace fs = std::filesystem;
using vhost::Resolution;
using vhost::ResolutionCache;

class ResolutionCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/resolutionsXXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    root_ = dir;
    make_site();
  }
  void make_site() {
    for (const auto& entry : fs::directory_iterator(root_))
      fs::remove_all(entry.path());
    fs::create_directories(root_ + "/sub/deeper");
    write("/sub/deeper/page.asp", "page");
    write("/sub/deeper/other.txt", "other");
  }
  void TearDown() override { fs::remove_all(root_); }

  void write(const std::string& name, const std::string& text,
             std::ios::openmode mode = std::ios::trunc) {
    std::ofstream(root_ + name, std::ios::binary | std::ios::out | mode) << text;
  }

  // Resolves path as the host does after a miss: the ticket first, then one lstat.
  bool keep(ResolutionCache& cache, const std::string& path) {
    ResolutionCache::Ticket ticket = cache.Prepare(root_, path);
    Resolution found{root_ + path, {}};
    if (lstat(found.real.c_str(), &found.status) != 0)
      return false;
    const bool usable = ticket.usable;
    cache.Keep(path, std::move(ticket), found);
    return usable;
  }

  bool kept(ResolutionCache& cache, const std::string& path) { return cache.Find(path) != nullptr; }

  // In a site made afresh: keeps the page, checks that it is found, makes the change and
  // checks that it is not.
  void expect_dropped_by(const std::function<void()>& change, const char* what) {
    make_site();
    ResolutionCache cache;
    ASSERT_TRUE(keep(cache, "/sub/deeper/page.asp")) << what;
    ASSERT_TRUE(kept(cache, "/sub/deeper/page.asp")) << what;
    change();
    EXPECT_FALSE(kept(cache, "/sub/deeper/page.asp")) << what;
  }

  std::string root_;
};

TEST_F(ResolutionCacheTest, AKeptResolutionIsFoundAsItWasMade) {
  ResolutionCache cache;
  ASSERT_TRUE(keep(cache, "/sub/deeper/page.asp"));
  const Resolution* out = cache.Find("/sub/deeper/page.asp");
  ASSERT_NE(nullptr, out);
  EXPECT_EQ(root_ + "/sub/deeper/page.asp", out->real);
  EXPECT_TRUE(S_ISREG(out->status.st_mode));
  EXPECT_EQ(4, out->status.st_size);
  EXPECT_FALSE(kept(cache, "/sub/deeper/other.txt")) << "never kept";
}

TEST_F(ResolutionCacheTest, ChangesToTheFileDropIt) {
  expect_dropped_by([&] { write("/sub/deeper/page.asp", "more", std::ios::app); }, "appended");
  expect_dropped_by([&] { write("/sub/deeper/page.asp", "new!"); }, "rewritten, same size");
  expect_dropped_by(
      [&] {
        fs::last_write_time(root_ + "/sub/deeper/page.asp",
                            fs::file_time_type::clock::now() - std::chrono::hours(2));
      },
      "touched");
  expect_dropped_by(
      [&] {
        write("/sub/deeper/saved.tmp", "edited");
        fs::rename(root_ + "/sub/deeper/saved.tmp", root_ + "/sub/deeper/page.asp");
      },
      "replaced by a rename, as editors save");
  expect_dropped_by([&] { fs::remove(root_ + "/sub/deeper/page.asp"); }, "removed");
}

TEST_F(ResolutionCacheTest, ChangesOnTheWayDropIt) {
  expect_dropped_by([&] { fs::rename(root_ + "/sub", root_ + "/moved"); }, "folder renamed");
  expect_dropped_by(
      [&] {
        fs::rename(root_ + "/sub/deeper", root_ + "/elsewhere");
        fs::create_directory_symlink(root_ + "/elsewhere", root_ + "/sub/deeper");
      },
      "folder replaced by a link");
  expect_dropped_by(
      [&] {
        fs::permissions(root_ + "/sub", fs::perms::owner_all);
        fs::permissions(root_ + "/sub", fs::perms::owner_all | fs::perms::group_read);
      },
      "folder mode changed");
}

TEST_F(ResolutionCacheTest, AChangeWhileResolvingIsNotMissed) {
  ResolutionCache cache;
  ResolutionCache::Ticket ticket = cache.Prepare(root_, "/sub/deeper/page.asp");
  ASSERT_TRUE(ticket.usable);
  Resolution found{root_ + "/sub/deeper/page.asp", {}};
  ASSERT_EQ(0, lstat(found.real.c_str(), &found.status));
  write("/sub/deeper/page.asp", "changed after the lstat");
  cache.Keep("/sub/deeper/page.asp", std::move(ticket), found);
  EXPECT_FALSE(kept(cache, "/sub/deeper/page.asp"));
}

TEST_F(ResolutionCacheTest, WritesToOtherFilesOfTheFolderKeepIt) {
  ResolutionCache cache;
  ASSERT_TRUE(keep(cache, "/sub/deeper/page.asp"));
  EXPECT_FALSE(cache.Prepare(root_, "/sub/deeper").usable)
      << "the folder asked for without its slash, as before a redirect";
  for (int i = 0; i < 3; ++i)
    write("/sub/deeper/other.txt", "uploaded bytes", std::ios::app);
  EXPECT_TRUE(kept(cache, "/sub/deeper/page.asp"));
}

TEST_F(ResolutionCacheTest, AnEntryIsResolvedAgainAfterItsLongestAge) {
  ResolutionCache cache(std::chrono::milliseconds(30));
  ASSERT_TRUE(keep(cache, "/sub/deeper/page.asp"));
  std::this_thread::sleep_for(std::chrono::milliseconds(40));
  EXPECT_FALSE(kept(cache, "/sub/deeper/page.asp"));
}

// A deployment that renames the folder holding the site and puts a new one in its place.
TEST_F(ResolutionCacheTest, AFolderAboveTheRootRenamedDropsIt) {
  fs::create_directories(root_ + "/outer/site/sub");
  write("/outer/site/sub/page.asp", "old");
  const std::string site = root_ + "/outer/site";
  ResolutionCache cache;
  ResolutionCache::Ticket ticket = cache.Prepare(site, "/sub/page.asp");
  ASSERT_TRUE(ticket.usable);
  Resolution found{ticket.real, {}};
  ASSERT_EQ(0, lstat(found.real.c_str(), &found.status));
  cache.Keep("/sub/page.asp", std::move(ticket), found);
  ASSERT_TRUE(kept(cache, "/sub/page.asp"));
  fs::rename(root_ + "/outer", root_ + "/outer.old");
  fs::create_directories(root_ + "/outer/site/sub");
  write("/outer/site/sub/page.asp", "new, longer");
  EXPECT_FALSE(kept(cache, "/sub/page.asp"));
}

// The queue of events has a bound; when events were lost, nothing kept is trusted.
TEST_F(ResolutionCacheTest, LostEventsDropEverything) {
  fs::create_directory(root_ + "/noise");
  write("/noise/x.txt", "x");
  ResolutionCache cache;
  ASSERT_TRUE(keep(cache, "/sub/deeper/page.asp"));
  ASSERT_TRUE(keep(cache, "/noise/x.txt"));
  const int fd = open((root_ + "/noise/x.txt").c_str(), O_WRONLY | O_APPEND);
  ASSERT_GE(fd, 0);
  // Writes and mode changes in turn, so that the queue cannot merge them.
  auto noise = [&](int count) {
    for (int i = 0; i < count; ++i) {
      ASSERT_EQ(1, ::write(fd, "x", 1));
      ASSERT_EQ(0, fchmod(fd, i % 2 ? 0644 : 0600));
    }
  };
  noise(10);
  ASSERT_TRUE(kept(cache, "/sub/deeper/page.asp")) << "changes elsewhere keep it";
  noise(20000);
  close(fd);
  write("/sub/deeper/page.asp", "more", std::ios::app);  // its event is among the lost
  EXPECT_FALSE(kept(cache, "/sub/deeper/page.asp"));
}

TEST_F(ResolutionCacheTest, OnlyRegularFilesUnderOneSpellingAreKept) {
  ResolutionCache cache;
  EXPECT_FALSE(cache.Prepare(root_, "/sub/deeper/").usable);
  EXPECT_FALSE(cache.Prepare(root_, "/sub/deeper").usable);
  EXPECT_FALSE(cache.Prepare(root_, "/").usable);
  EXPECT_FALSE(cache.Prepare(root_, "/sub/none.asp").usable);
  // Other spellings of a kept path would each take an entry of their own.
  for (const char* other : {"/sub//deeper/page.asp", "/sub/./deeper/page.asp",
                            "/sub/deeper/../deeper/page.asp", "/sub/deeper/page.asp/"})
    EXPECT_FALSE(cache.Prepare(root_, other).usable) << other;
  EXPECT_FALSE(cache.Prepare(root_, std::string(2000, '/') + "sub/deeper/page.asp").usable);
  fs::create_directory_symlink(root_ + "/sub/deeper", root_ + "/link");
  EXPECT_FALSE(cache.Prepare(root_, "/link/page.asp").usable);
  fs::create_symlink(root_ + "/sub/deeper/page.asp", root_ + "/page-link.asp");
  EXPECT_FALSE(cache.Prepare(root_, "/page-link.asp").usable);
  EXPECT_FALSE(cache.Prepare(root_ + "/link", "/page.asp").usable) << "a root through a link";
  EXPECT_EQ(0u, cache.size());
}

// The queue announces its events to the thread: look-ups while nothing changes make no read.
TEST_F(ResolutionCacheTest, LookUpsReadTheQueueOnlyAfterAChange) {
  ResolutionCache cache;
  ASSERT_TRUE(keep(cache, "/sub/deeper/page.asp"));
  const size_t reads = cache.queue_reads();
  for (int i = 0; i < 50; ++i)
    ASSERT_TRUE(kept(cache, "/sub/deeper/page.asp"));
  EXPECT_EQ(reads, cache.queue_reads());
  write("/sub/deeper/page.asp", "more", std::ios::app);
  EXPECT_FALSE(kept(cache, "/sub/deeper/page.asp"));
  EXPECT_GT(cache.queue_reads(), reads);
}

// A thread that blocks the signal gets no announcement: its look-ups read the queue each time.
TEST_F(ResolutionCacheTest, AThreadThatBlocksTheSignalReadsTheQueueEveryTime) {
  std::thread([&] {
    sigset_t urgent;
    sigemptyset(&urgent);
    sigaddset(&urgent, SIGURG);
    ASSERT_EQ(0, pthread_sigmask(SIG_BLOCK, &urgent, nullptr));
    ResolutionCache cache;
    ASSERT_TRUE(keep(cache, "/sub/deeper/page.asp"));
    const size_t reads = cache.queue_reads();
    ASSERT_TRUE(kept(cache, "/sub/deeper/page.asp"));
    ASSERT_TRUE(kept(cache, "/sub/deeper/page.asp"));
    EXPECT_EQ(reads + 2, cache.queue_reads());
    write("/sub/deeper/page.asp", "more", std::ios::app);
    EXPECT_FALSE(kept(cache, "/sub/deeper/page.asp"));
  }).join();
}

TEST_F(ResolutionCacheTest, StaysWithinItsBounds) {
  write("/a.asp", "a");
  write("/b.asp", "b");
  ResolutionCache cache(ResolutionCache::kLongestAge, 2, 1024);
  ASSERT_TRUE(keep(cache, "/sub/deeper/page.asp"));
  ASSERT_TRUE(keep(cache, "/a.asp"));
  ASSERT_TRUE(keep(cache, "/b.asp"));
  EXPECT_LE(cache.size(), 2u);
  EXPECT_TRUE(kept(cache, "/b.asp")) << "the newest survives a fresh start";

  ResolutionCache few_watches(ResolutionCache::kLongestAge, 1024, 4);
  EXPECT_FALSE(keep(few_watches, "/sub/deeper/page.asp"))
      << "needs five watches, with /tmp above the root";
  ASSERT_TRUE(keep(few_watches, "/a.asp"));
  EXPECT_TRUE(kept(few_watches, "/a.asp"));

  ResolutionCache none(ResolutionCache::kLongestAge, 1024, 0);
  EXPECT_FALSE(keep(none, "/a.asp"));
  EXPECT_FALSE(kept(none, "/a.asp"));
}

}  // namespace
