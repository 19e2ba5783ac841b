// How far the request bodies that their clients named with an X-Progress-ID have come, for
// pages that show an upload's progress: the table the receiving side counts into and the
// progress queries read from.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "page_context.h"

namespace vhost {

class UploadProgress {
 public:
  using Clock = std::chrono::steady_clock;

  // One tracked body. The request that sends it holds it and counts into `received` without a
  // lock; everything else is the table's, under its lock.
  struct Entry {
    std::atomic<uint64_t> received{0};
    int64_t size = -1;  // -1 while unknown (a chunked body)
    enum State { kUploading, kDone, kError } state = kUploading;
    unsigned status = 0;  // kError: the response status, or what ended the body
    Clock::time_point ended;
  };

  // Ids are 1 to kMaxIdLength letters, digits, '-', '_' and '.'.
  static constexpr size_t kMaxIdLength = 64;
  static constexpr size_t kDefaultCapacity = 1024;

  // `capacity` entries at most; an entry is kept for `keep` after its body ends.
  explicit UploadProgress(std::chrono::seconds keep, size_t capacity = kDefaultCapacity)
      : keep_(keep), capacity_(capacity) {}
  UploadProgress(const UploadProgress&) = delete;
  UploadProgress& operator=(const UploadProgress&) = delete;

  static bool valid_id(std::string_view id);
  // The id a request gives: its X-Progress-ID header, else the X-Progress-ID query parameter.
  // Empty when there is none or it is not a valid id.
  static std::string request_id(const HttpRequestData& request);

  // Starts tracking the body of a request that has one and gives an id. Null when there is
  // nothing to track, when another body under the same id is still coming (the first keeps
  // it), or when every entry belongs to a body still coming.
  std::shared_ptr<Entry> track(const HttpRequestData& request, Clock::time_point now);

  // Ends an entry: done when the request was answered below 400, otherwise an error with the
  // answer's status, or when there was no answer, with 413 for a body refused as too large,
  // 408 for a client that timed out, and 400 for a body that ended early.
  void finish(Entry& entry, unsigned response_status, bool too_large, bool timed_out,
              Clock::time_point now);

  // The JSON report of an id: {"state":"starting"} for an unknown or expired one, otherwise
  // {"state":"uploading"|"done"|"error","received":N,"size":N|null[,"status":N]}.
  std::string report(std::string_view id, Clock::time_point now);

 private:
  bool expired(const Entry& entry, Clock::time_point now) const;
  // Makes room for one entry; false when every entry is a body still coming.
  bool make_room(Clock::time_point now);

  const std::chrono::seconds keep_;
  const size_t capacity_;
  std::mutex mutex_;
  std::unordered_map<std::string, std::shared_ptr<Entry>> entries_;
};

}  // namespace vhost
