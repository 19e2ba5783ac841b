// Resolutions of request paths, kept while nothing on their way changes. Resolving a path
// costs an lstat of every component on every request; a page asked for again and again is
// found here instead. Whether anything changed is told by inotify, whose queue announces its
// events to the owning thread by a signal (SIGURG): a look-up reads the queue only after one.
//
// One cache serves one thread, so that the look-up takes no lock: each worker keeps its own
// (the kernel queues every event for every inotify instance that watches).
//
// inotify watches every folder on a kept path, the file itself and the folders above the site
// root: an entry made, removed, renamed or changed in attributes in one of the folders, a write
// to the file, or a folder above the root renamed or removed drops every resolution that goes
// through them before the next request is served. The events are queued, and the signal made
// pending, by the change itself. A thread that blocks the signal reads the queue at every
// look-up. A root with a symbolic link on its way is not kept.
// Changes the kernel does not report, such as another host's on a network file system, are seen
// within the longest age of an entry, after which the path is resolved again.
#pragma once

#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace vhost {

// A request path that names a regular file in the site with no symbolic link on the way: the
// file and its lstat.
struct Resolution {
  std::string real;
  struct stat status;
};

class ResolutionCache {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kLongestAge{1000};

  // Keeps at most max_entries paths and max_watches watches; a path that would need more
  // starts afresh. Without inotify (or with max_watches 0) nothing is kept.
  explicit ResolutionCache(std::chrono::milliseconds longest_age = kLongestAge,
                           size_t max_entries = 1024, size_t max_watches = 1024);
  ~ResolutionCache();
  ResolutionCache(const ResolutionCache&) = delete;
  ResolutionCache& operator=(const ResolutionCache&) = delete;

  // What Prepare learned: the watches of a path and their changes at the time.
  struct Ticket {
    std::string real;  // the file, as resolve_in_site names it
    std::vector<std::pair<int, std::uint64_t>> watches;
    std::uint64_t epoch = 0;
    Clock::time_point made;
    bool usable = false;
  };

  // path's kept resolution when nothing on its way has changed since it was made, null when
  // there is none. It stays valid until the next call into the cache.
  const Resolution* Find(const std::string& path);

  // To be called before resolving path (absolute, without ".."), as the folder root gives it:
  // watches the folders on its way and the file, so that a change made while it is resolved
  // is not missed. Not usable when the path does not name a regular file, has an empty, "." or
  // ".." component, is long, or cannot be watched.
  Ticket Prepare(const std::string& root, const std::string& path);

  // Keeps what resolving path found, if the ticket is usable.
  void Keep(const std::string& path, Ticket ticket, const Resolution& found);

  // The lstat of the regular file that path names under root, kept or taken now and kept.
  // False when path does not name a regular file reached without a link, or cannot be
  // watched: the caller then asks the system.
  bool StatusOf(const std::string& root, const std::string& path, struct stat* out);

  // Paths kept now, and reads of the queue so far, for tests.
  size_t size() const { return entries_.size(); }
  size_t queue_reads() const { return queue_reads_; }

 private:
  struct Entry {
    Resolution resolution;
    Ticket ticket;
  };

  void open_queue();
  void read_announced_events();
  void read_events();
  bool current(const Ticket& ticket, Clock::time_point now) const;
  int watch(const std::string& path, std::uint32_t events);
  void start_afresh();

  const std::chrono::milliseconds longest_age_;
  const size_t max_entries_;
  const size_t max_watches_;
  int fd_ = -1;
  bool announced_ = false;  // the queue signals this thread
  int seen_ = 0;            // the thread's count of signals when the queue was last read
  size_t queue_reads_ = 0;
  std::uint64_t epoch_ = 0;                         // counts fresh starts and lost events
  std::unordered_map<int, std::uint64_t> changes_;  // of every watch, by descriptor
  std::unordered_map<std::string, Entry> entries_;
};

}  // namespace vhost
