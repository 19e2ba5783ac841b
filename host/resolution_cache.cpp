// Resolutions of request paths kept while nothing on their way changes (see
// resolution_cache.h).
#include "resolution_cache.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>

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

}  // namespace

ResolutionCache::ResolutionCache(std::chrono::milliseconds longest_age, size_t max_entries,
                                 size_t max_watches)
    : longest_age_(longest_age), max_entries_(max_entries), max_watches_(max_watches) {
  if (max_watches_ > 0 && max_entries_ > 0)
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
}

ResolutionCache::~ResolutionCache() {
  if (fd_ >= 0)
    close(fd_);
}

void ResolutionCache::read_events() {
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

bool ResolutionCache::Find(const std::string& path, Resolution* out) {
  if (fd_ < 0)
    return false;
  const Clock::time_point now = Clock::now();
  read_events();
  const auto found = entries_.find(path);
  if (found == entries_.end())
    return false;
  if (!current(found->second.ticket, now)) {
    entries_.erase(found);
    return false;
  }
  *out = found->second.resolution;
  return true;
}

// The watch of path (a new one, or the one its object already has), or -1.
int ResolutionCache::watch(const std::string& path, bool folder) {
  if (changes_.size() >= max_watches_)
    start_afresh();
  const int wd = inotify_add_watch(fd_, path.c_str(), folder ? kFolderEvents : kFileEvents);
  if (wd >= 0)
    changes_.try_emplace(wd, 0);
  return wd;
}

// Drops every watch and entry: a new descriptor has none.
void ResolutionCache::start_afresh() {
  const int fresh = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  close(fd_);
  fd_ = fresh;
  ++epoch_;
  changes_.clear();
  entries_.clear();
}

ResolutionCache::Ticket ResolutionCache::Prepare(const std::string& root, const std::string& path) {
  Ticket ticket;
  if (fd_ < 0 || path.empty() || path.back() == '/')
    return ticket;
  read_events();
  if (entries_.size() >= max_entries_)
    start_afresh();
  if (fd_ < 0)
    return ticket;
  // The folders and the file in the order resolve_in_site looks them up.
  std::vector<std::string> steps{root};
  std::string target = root;
  for (size_t start = 1; start <= path.size();) {
    size_t end = path.find('/', start);
    if (end == std::string::npos)
      end = path.size();
    if (path.compare(start, end - start, "..") == 0)
      return ticket;
    if (end > start && !(end == start + 1 && path[start] == '.')) {
      if (target.empty() || target.back() != '/')
        target += '/';
      target.append(path, start, end - start);
      steps.push_back(target);
    }
    start = end + 1;
  }
  if (steps.size() < 2)
    return ticket;
  // A fresh start while watching would drop the watches made before it: the epoch tells.
  const std::uint64_t epoch = epoch_;
  for (size_t i = 0; i < steps.size(); ++i) {
    const int wd = watch(steps[i], i + 1 < steps.size());
    if (wd < 0 || fd_ < 0)
      return ticket;
    ticket.watches.emplace_back(wd, changes_[wd]);
  }
  if (epoch != epoch_)
    return Ticket{};
  ticket.real = std::move(steps.back());
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
  Resolution kept;
  if (Find(path, &kept)) {
    *out = kept.status;
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
