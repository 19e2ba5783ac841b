// Compiled pages kept between requests. Each entry holds the page's program, the stamps (inode,
// size and modification time) of the page and every file it includes, and the program's Duktape
// bytecode once a request has made it; a page whose files changed or went away is compiled
// again, and so is one whose files changed in the last two seconds (they may be changing
// still). Compiling the page and its JavaScript was a tenth of the time of a small request;
// checking the stamps is one stat per file, none for the page itself when the caller has
// just looked at it, and none for a file that the caller's resolution cache still holds.
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "page_compiler.h"
#include "resolution_cache.h"

namespace vhost {

class CachedPage {
 public:
  explicit CachedPage(CompiledPage page);
  ~CachedPage();
  CachedPage(const CachedPage&) = delete;
  CachedPage& operator=(const CachedPage&) = delete;

  const CompiledPage& page() const { return page_; }
  // A number that no other compiled page of the process has, even one at the same address.
  std::uint64_t id() const { return id_; }

  // The bytecode of page().script, or null before a request has stored it; once stored it
  // stays as long as this page, and reading it takes no lock.
  const std::string* bytecode() const { return bytecode_.load(std::memory_order_acquire); }
  // Stores a copy of the bytecode; the first one stored stays (every request makes the same).
  // Without memory for the copy nothing is stored, and the next request compiles again.
  void set_bytecode(const char* data, size_t size) const noexcept;

  // Whether the page's last runs were all short: such a page runs on the thread that holds its
  // connection, without the hand-over to a worker. A compiled page starts unproven.
  bool runs_short() const {
    return short_runs_.load(std::memory_order_relaxed) >= kShortRunsToTrust;
  }
  // Notes how long a run took: one past kShortRun sends the next runs to the workers again,
  // until kShortRunsToTrust runs in a row were short.
  void record_run(std::chrono::steady_clock::duration took) const noexcept;

  static constexpr std::chrono::milliseconds kShortRun{5};
  static constexpr unsigned kShortRunsToTrust = 3;

  // What tells one version of a file from another: a file replaced by another (a deployment
  // that renames a new copy into place) has another inode even with the same size and time.
  struct FileStamp {
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modified_seconds = 0;
    long modified_nanoseconds = 0;

    static FileStamp Of(const struct stat& status);
    bool operator==(const FileStamp&) const = default;
  };

 private:
  friend class PageCache;

  CompiledPage page_;
  const std::uint64_t id_;
  std::vector<FileStamp> stamps_;  // one for each of page_.files, in that order
  // Set once, by the first set_bytecode; owned by the page.
  mutable std::atomic<const std::string*> bytecode_{nullptr};
  mutable std::atomic<unsigned> short_runs_{0};
};

class PageCache {
 public:
  // The compiled page at virtual path page_path under site_root: the cached one while its
  // files are unchanged, else a new compilation (which replaces it). Null with *error when
  // the page does not compile; a failed compilation is not kept. page_status, when given, is
  // the status of the page's own file taken for this request, so that it is not taken again
  // (one that is not a regular file's is not used).
  // resolutions, when given, is the calling thread's cache of resolved paths, which answers
  // for the files of a page asked for before without a stat.
  std::shared_ptr<const CachedPage> get(const std::string& site_root, const std::string& page_path,
                                        CompileError* error,
                                        const struct stat* page_status = nullptr,
                                        ResolutionCache* resolutions = nullptr);

 private:
  std::mutex mutex_;
  std::unordered_map<std::string, std::shared_ptr<const CachedPage>> pages_;
};

}  // namespace vhost
