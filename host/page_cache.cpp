// Compiled pages kept between requests (see page_cache.h).
#include "page_cache.h"

#include <chrono>
#include <filesystem>
#include <new>

namespace vhost {

namespace {

namespace fs = std::filesystem;

constexpr auto kSettle = std::chrono::seconds(2);

// False when the file cannot be reached.
bool stamp_of(const std::string& path, CachedPage::FileStamp* stamp) {
  std::error_code ec;
  stamp->size = fs::file_size(path, ec);
  if (ec)
    return false;
  stamp->modified = fs::last_write_time(path, ec);
  return !ec;
}

}  // namespace

std::shared_ptr<const std::string> CachedPage::bytecode() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return bytecode_;
}

void CachedPage::set_bytecode(const char* data, size_t size) const noexcept {
  std::shared_ptr<const std::string> stored;
  try {
    stored = std::make_shared<const std::string>(data, size);
  } catch (const std::bad_alloc&) {
    return;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (!bytecode_)
    bytecode_ = std::move(stored);
}

std::shared_ptr<const CachedPage> PageCache::get(const std::string& site_root,
                                                 const std::string& page_path,
                                                 CompileError* error) {
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
      const CachedPage::FileStamp& was = cached->stamps_[i];
      CachedPage::FileStamp now{};
      current = stamp_of(site_root + cached->page_.files[i], &now) && now.size == was.size &&
                now.modified == was.modified;
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
  const fs::file_time_type settled_before = fs::file_time_type::clock::now() - kSettle;
  std::vector<CachedPage::FileStamp> stamps(compiled.files.size());
  bool stamped = true;
  for (size_t i = 0; stamped && i < compiled.files.size(); ++i)
    stamped =
        stamp_of(site_root + compiled.files[i], &stamps[i]) && stamps[i].modified < settled_before;
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
