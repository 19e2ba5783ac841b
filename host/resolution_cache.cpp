// Resolutions of request paths kept while nothing on their way changes (see
// resolution_cache.h).
#include "resolution_cache.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string_view>
#include <type_traits>

#include "path_components.h"

namespace vhost {

namespace {

// A folder reports the entries made, removed or renamed in it and their attributes (a mode
// changed on a subfolder); writes to the files in it are not asked for, as a folder that
// receives uploads would report every one. A file reports its writes and attributes. Both
// report their own removal and renaming; neither follows a symbolic link.
constexpr uint32_t kFolderEvents = IN_ATTRIB | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                   IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW;
constexpr uint32_t kFileEvents =
    IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF | IN_DONT_FOLLOW;
// A folder above the site root changes what the root names only when it is renamed or
// removed; the rest of what happens in it (in /tmp, say) does not matter.
constexpr uint32_t kAncestorEvents = IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW;

// Longer paths are resolved on every request: an entry's key is the path as asked for.
constexpr size_t kLongestKept = 1024;

// A queue that receives an event sends this signal to the thread that owns it, whose handler
// counts it: a look-up reads the queue only when the count moved, instead of one read() per
// request that finds nothing. The event is queued, and the signal made pending, by the change
// itself, so the thread sees it at its next return from the kernel, before it can take a
// request sent after the change. A signal that is not queued (not a real-time one) cannot
// overflow the queue of signals, whose overflow would send SIGIO, which ends the process by
// default; SIGURG is otherwise sent only for sockets' out-of-band data, which HTTP never sends.
constexpr int kAnnounceSignal = SIGURG;
// Changes announced to this thread: only its own handler writes it.
constinit thread_local volatile std::sig_atomic_t announced = 0;
static_assert(std::is_same_v<std::sig_atomic_t, int>, "ResolutionCache::seen_ holds a count");
struct sigaction previous_action;

void on_announced(int signal, siginfo_t* info, void* context) {
  announced = announced + 1;
  if (previous_action.sa_flags & SA_SIGINFO) {
    if (previous_action.sa_sigaction)
      previous_action.sa_sigaction(signal, info, context);
  } else if (previous_action.sa_handler != SIG_DFL && previous_action.sa_handler != SIG_IGN) {
    previous_action.sa_handler(signal);
  }
}

// Once for the process; a handler that was there before is still called.
bool install_handler() {
  static const bool installed = [] {
    if (sigaction(kAnnounceSignal, nullptr, &previous_action) != 0)
      return false;
    struct sigaction action {};
    action.sa_sigaction = on_announced;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    return sigaction(kAnnounceSignal, &action, nullptr) == 0;
  }();
  return installed;
}

// Has the queue fd announce its events to this thread; false when it cannot (the signal blocked
// in this thread, whose look-ups then read the queue every time).
bool announce_to_this_thread(int fd) {
  sigset_t blocked;
  if (pthread_sigmask(SIG_BLOCK, nullptr, &blocked) != 0 || sigismember(&blocked, kAnnounceSignal))
    return false;
  if (!install_handler())
    return false;
  f_owner_ex owner{F_OWNER_TID, gettid()};
  const int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETOWN_EX, &owner) == 0 &&
         fcntl(fd, F_SETSIG, kAnnounceSignal) == 0 && fcntl(fd, F_SETFL, flags | O_ASYNC) == 0;
}

}  // namespace

ResolutionCache::ResolutionCache(std::chrono::milliseconds longest_age, size_t max_entries,
                                 size_t max_watches)
    : longest_age_(longest_age), max_entries_(max_entries), max_watches_(max_watches) {
  if (max_watches_ > 0 && max_entries_ > 0)
    open_queue();
}

void ResolutionCache::open_queue() {
  fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  announced_ = fd_ >= 0 && announce_to_this_thread(fd_);
  seen_ = announced;
}

void ResolutionCache::read_announced_events() {
  if (announced_) {
    const std::sig_atomic_t now = announced;
    if (now == seen_)
      return;
    // A signal that comes while the queue is read moves the count again: the next look-up
    // reads once more.
    seen_ = now;
  }
  read_events();
}

ResolutionCache::~ResolutionCache() {
  if (fd_ >= 0)
    close(fd_);
}

void ResolutionCache::read_events() {
  ++queue_reads_;
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t got = read(fd_, buffer, sizeof buffer);
    if (got <= 0) {
      if (got < 0 && errno == EINTR)
        continue;
      // EAGAIN: nothing more is queued. Any other failure leaves changes unknown.
      if (got < 0 && errno != EAGAIN)
        start_afresh();
      return;
    }
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if (event->mask & IN_Q_OVERFLOW) {
        ++epoch_;
        continue;
      }
      const auto found = changes_.find(event->wd);
      if (found == changes_.end())
        continue;
      if (event->mask & IN_IGNORED)
        changes_.erase(found);
      else
        ++found->second;
    }
  }
}

bool ResolutionCache::current(const Ticket& ticket, Clock::time_point now) const {
  if (ticket.epoch != epoch_ || now - ticket.made >= longest_age_)
    return false;
  for (const auto& [wd, seen] : ticket.watches) {
    const auto found = changes_.find(wd);
    if (found == changes_.end() || found->second != seen)
      return false;
  }
  return true;
}

const Resolution* ResolutionCache::Find(const std::string& path) {
  if (fd_ < 0)
    return nullptr;
  const Clock::time_point now = Clock::now();
  read_announced_events();
  const auto found = entries_.find(path);
  if (found == entries_.end())
    return nullptr;
  if (!current(found->second.ticket, now)) {
    entries_.erase(found);
    return nullptr;
  }
  return &found->second.resolution;
}

// The watch of path (a new one, or the one its object already has), or -1. An object is
// always watched for the same events: a new watch of it replaces the old one's.
int ResolutionCache::watch(const std::string& path, uint32_t events) {
  if (changes_.size() >= max_watches_)
    start_afresh();
  if (fd_ < 0)
    return -1;
  const int wd = inotify_add_watch(fd_, path.c_str(), events);
  if (wd >= 0)
    changes_.try_emplace(wd, 0);
  return wd;
}

// Drops every watch and entry: a new descriptor has none.
void ResolutionCache::start_afresh() {
  // The old descriptor goes first: at the limit of instances, the new one takes its place.
  if (fd_ >= 0)
    close(fd_);
  open_queue();
  ++epoch_;
  changes_.clear();
  entries_.clear();
}

ResolutionCache::Ticket ResolutionCache::Prepare(const std::string& root, const std::string& path) {
  Ticket ticket;
  if (fd_ < 0 || path.size() < 2 || path.size() > kLongestKept || path[0] != '/')
    return ticket;
  read_announced_events();
  if (entries_.size() >= max_entries_)
    start_afresh();
  if (fd_ < 0)
    return ticket;
  // The folders above the root, the root, the folders on the way and the file. A path is kept
  // under one spelling only: one with an empty, "." or ".." component is not kept.
  std::vector<std::pair<std::string, uint32_t>> steps;
  for (size_t slash = root.find('/', 1); slash != std::string::npos && slash + 1 < root.size();
       slash = root.find('/', slash + 1))
    steps.emplace_back(root.substr(0, slash), kAncestorEvents);
  steps.emplace_back(root, kFolderEvents);
  std::string target = root;
  const bool one_spelling = for_each_component(path, [&](std::string_view name, bool) {
    if (name.empty() || name == "." || name == "..")
      return false;
    if (target.empty() || target.back() != '/')
      target += '/';
    target += name;
    steps.emplace_back(target, kFolderEvents);
    return true;
  });
  if (!one_spelling)
    return ticket;
  // Only a regular file is kept: a folder watched for a file's events would report every write
  // in it.
  struct stat status;
  if (lstat(target.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
    return ticket;
  steps.back().second = kFileEvents;
  // A fresh start while watching would drop the watches made before it: the epoch tells.
  const std::uint64_t epoch = epoch_;
  for (const auto& [step, events] : steps) {
    const int wd = watch(step, events);
    if (wd < 0)
      return ticket;
    ticket.watches.emplace_back(wd, changes_[wd]);
  }
  if (epoch != epoch_)
    return Ticket{};
  ticket.real = std::move(target);
  ticket.epoch = epoch_;
  ticket.made = Clock::now();
  ticket.usable = true;
  return ticket;
}

void ResolutionCache::Keep(const std::string& path, Ticket ticket, const Resolution& found) {
  if (!ticket.usable)
    return;
  // Changes between the ticket and now show in it at the next look-up.
  if (fd_ < 0 || ticket.epoch != epoch_ ||
      (entries_.size() >= max_entries_ && entries_.find(path) == entries_.end()))
    return;
  entries_.insert_or_assign(path, Entry{found, std::move(ticket)});
}

bool ResolutionCache::StatusOf(const std::string& root, const std::string& path, struct stat* out) {
  if (const Resolution* kept = Find(path)) {
    *out = kept->status;
    return true;
  }
  Ticket ticket = Prepare(root, path);
  if (!ticket.usable)
    return false;
  // The folders on the way are watched as folders, which a link is not: one lstat of the
  // whole path sees what an lstat of each component would.
  Resolution found{ticket.real, {}};
  if (lstat(found.real.c_str(), &found.status) != 0 || !S_ISREG(found.status.st_mode))
    return false;
  *out = found.status;
  Keep(path, std::move(ticket), found);
  return true;
}

}  // namespace vhost
