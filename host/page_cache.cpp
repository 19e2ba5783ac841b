// Compiled pages kept between requests (see page_cache.h).
#include "page_cache.h"

#include <atomic>

#include <sys/stat.h>

#include <ctime>
#include <new>

namespace vhost {

namespace {

constexpr std::int64_t kSettleSeconds = 2;

// False when the file cannot be reached or is no regular file.
bool stamp_of(const std::string& path, CachedPage::FileStamp* stamp) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
    return false;
  *stamp = CachedPage::FileStamp::Of(status);
  return true;
}

}  // namespace

CachedPage::FileStamp CachedPage::FileStamp::Of(const struct stat& status) {
  FileStamp stamp;
  stamp.inode = status.st_ino;
  stamp.size = status.st_size;
  stamp.modified_seconds = status.st_mtim.tv_sec;
  stamp.modified_nanoseconds = status.st_mtim.tv_nsec;
  return stamp;
}

CachedPage::CachedPage(CompiledPage page)
    : page_(std::move(page)), id_([] {
        static std::atomic<std::uint64_t> last{0};
        return ++last;
      }()) {}

CachedPage::~CachedPage() {
  delete bytecode_.load(std::memory_order_acquire);
}

void CachedPage::set_bytecode(const char* data, size_t size) const noexcept {
  if (bytecode())
    return;
  const std::string* stored = nullptr;
  try {
    stored = new std::string(data, size);
  } catch (const std::bad_alloc&) {
    return;
  }
  const std::string* none = nullptr;
  if (!bytecode_.compare_exchange_strong(none, stored, std::memory_order_acq_rel))
    delete stored;  // another request stored it first
}

void CachedPage::record_run(std::chrono::steady_clock::duration took) const noexcept {
  if (took > kShortRun) {
    short_runs_.store(0, std::memory_order_relaxed);
    return;
  }
  // Counting stops at the bound: a page run for years does not wrap around to unproven.
  unsigned seen = short_runs_.load(std::memory_order_relaxed);
  while (seen < kShortRunsToTrust &&
         !short_runs_.compare_exchange_weak(seen, seen + 1, std::memory_order_relaxed)) {
  }
}

std::shared_ptr<const CachedPage> PageCache::get(const std::string& site_root,
                                                 const std::string& page_path, CompileError* error,
                                                 const struct stat* page_status,
                                                 ResolutionCache* resolutions) {
  std::shared_ptr<const CachedPage> cached;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = pages_.find(page_path);
    if (found != pages_.end())
      cached = found->second;
  }
  if (cached) {
    bool current = true;
    for (size_t i = 0; current && i < cached->page_.files.size(); ++i) {
      const std::string& file = cached->page_.files[i];
      struct stat status;
      const struct stat* known =
          i == 0 && page_status && S_ISREG(page_status->st_mode) ? page_status : nullptr;
      if (!known && resolutions && resolutions->StatusOf(site_root, file, &status))
        known = &status;
      CachedPage::FileStamp now;
      if (known)
        now = CachedPage::FileStamp::Of(*known);
      current = (known || stamp_of(site_root + file, &now)) && now == cached->stamps_[i];
    }
    if (current)
      return cached;
  }
  CompiledPage compiled;
  if (!compile_page(site_root, page_path, &compiled, error)) {
    std::lock_guard<std::mutex> lock(mutex_);
    pages_.erase(page_path);
    return nullptr;
  }
  // A file changed in the last seconds may be changing still, during the compilation or
  // within the clock's resolution: such a page is compiled again until its files settle.
  const std::int64_t settled_before =
      static_cast<std::int64_t>(std::time(nullptr)) - kSettleSeconds;
  std::vector<CachedPage::FileStamp> stamps(compiled.files.size());
  bool stamped = true;
  for (size_t i = 0; stamped && i < compiled.files.size(); ++i)
    stamped = stamp_of(site_root + compiled.files[i], &stamps[i]) &&
              stamps[i].modified_seconds < settled_before;
  auto entry = std::make_shared<CachedPage>(std::move(compiled));
  entry->stamps_ = std::move(stamps);
  std::lock_guard<std::mutex> lock(mutex_);
  if (stamped)
    pages_[page_path] = entry;
  else
    pages_.erase(page_path);
  return entry;
}

}  // namespace vhost
