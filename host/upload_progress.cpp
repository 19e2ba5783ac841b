// The upload progress table (see upload_progress.h).
#include "upload_progress.h"

#include <cstdlib>

#include "text.h"

namespace vhost {

namespace {

constexpr std::string_view kIdName = "X-Progress-ID";

bool id_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '.';
}

}  // namespace

bool UploadProgress::valid_id(std::string_view id) {
  if (id.empty() || id.size() > kMaxIdLength)
    return false;
  for (char c : id)
    if (!id_char(c))
      return false;
  return true;
}

std::string UploadProgress::request_id(const HttpRequestData& request) {
  std::string id;
  if (const std::string* header = request.header(kIdName)) {
    id = *header;
  } else {
    std::string_view query = request.raw_query;
    while (!query.empty()) {
      const size_t amp = query.find('&');
      const std::string_view pair = query.substr(0, amp);
      query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
      const size_t eq = pair.find('=');
      // The value is only looked at when the name fits: a long hostile query costs one pass.
      if (eq != std::string_view::npos && iequals(url_decode(pair.substr(0, eq), true), kIdName)) {
        if (pair.size() - eq - 1 <= 3 * kMaxIdLength)
          id = url_decode(pair.substr(eq + 1), true);
        break;
      }
    }
  }
  return valid_id(id) ? id : std::string();
}

std::shared_ptr<UploadProgress::Entry> UploadProgress::track(const HttpRequestData& request,
                                                             Clock::time_point now) {
  int64_t size = -1;
  if (const std::string* length = request.header("Content-Length")) {
    char* end = nullptr;
    const unsigned long long n = std::strtoull(length->c_str(), &end, 10);
    if (end == length->c_str() || *end != '\0' || n == 0 || n > INT64_MAX)
      return nullptr;
    size = static_cast<int64_t>(n);
  } else if (!request.header("Transfer-Encoding")) {
    return nullptr;  // no body
  }
  std::string id = request_id(request);
  if (id.empty())
    return nullptr;
  auto entry = std::make_shared<Entry>();
  entry->size = size;
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = entries_.find(id);
  if (found != entries_.end()) {
    if (found->second->state == Entry::kUploading)
      return nullptr;
    found->second = entry;
    return entry;
  }
  if (!make_room(now))
    return nullptr;
  entries_.emplace(std::move(id), entry);
  return entry;
}

void UploadProgress::finish(Entry& entry, unsigned response_status, bool too_large, bool timed_out,
                            Clock::time_point now) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (entry.size < 0)
    entry.size = static_cast<int64_t>(entry.received.load(std::memory_order_relaxed));
  entry.ended = now;
  if (response_status != 0 && response_status < 400) {
    entry.state = Entry::kDone;
    return;
  }
  entry.state = Entry::kError;
  entry.status = response_status ? response_status : too_large ? 413 : timed_out ? 408 : 400;
}

std::string UploadProgress::report(std::string_view id, Clock::time_point now) {
  std::shared_ptr<Entry> entry;
  int64_t size = 0;
  Entry::State state = Entry::kUploading;
  unsigned status = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = entries_.find(std::string(id));
    if (found != entries_.end() && expired(*found->second, now))
      entries_.erase(found);
    else if (found != entries_.end())
      entry = found->second;
    if (entry) {
      size = entry->size;
      state = entry->state;
      status = entry->status;
    }
  }
  if (!entry)
    return "{\"state\":\"starting\"}";
  static const char* const kStates[] = {"uploading", "done", "error"};
  std::string json = std::string("{\"state\":\"") + kStates[state] + "\",\"received\":" +
                     std::to_string(entry->received.load(std::memory_order_relaxed)) +
                     ",\"size\":" + (size < 0 ? std::string("null") : std::to_string(size));
  if (state == Entry::kError)
    json += ",\"status\":" + std::to_string(status);
  return json + "}";
}

bool UploadProgress::expired(const Entry& entry, Clock::time_point now) const {
  return entry.state != Entry::kUploading && now - entry.ended >= keep_;
}

bool UploadProgress::make_room(Clock::time_point now) {
  if (entries_.size() < capacity_)
    return true;
  auto oldest = entries_.end();
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (expired(*it->second, now)) {
      it = entries_.erase(it);
      continue;
    }
    if (it->second->state != Entry::kUploading &&
        (oldest == entries_.end() || it->second->ended < oldest->second->ended))
      oldest = it;
    ++it;
  }
  if (entries_.size() < capacity_)
    return true;
  if (oldest == entries_.end())
    return false;
  entries_.erase(oldest);
  return true;
}

}  // namespace vhost
