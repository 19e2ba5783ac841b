// The HTTP side of the host, over libmicrohttpd: threads that hold the connections and run the
// pages known to be short, workers for the other pages (each thread an apartment), keep-alive,
// request bodies read straight into the array that Request.BinaryRead hands out, bodies over
// the limit refused with 413 before they are read, static files, script pages, the access log,
// upload progress and byte ranges.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "access_log.h"
#include "page_cache.h"
#include "page_context.h"
#include "page_workers.h"
#include "resolution_cache.h"
#include "upload_progress.h"

struct MHD_Daemon;

namespace vhost {

class HttpServer {
 public:
  HttpServer(HostConfig config, AccessLog* log)
      : config_(std::move(config)),
        log_(log),
        progress_(std::chrono::seconds(config_.progress_keep_seconds)) {}
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Listens on address:port (IPv4; port 0 picks a free one) with connection_threads threads
  // holding the connections (0: one for each processor the process may run on), and workers
  // threads for the pages handed over. False with *error on failure.
  bool start(const std::string& address, unsigned port, unsigned connection_threads,
             unsigned workers, std::string* error);
  // Stops listening, lets the running pages finish and joins the threads.
  void stop();
  unsigned port() const { return port_.load(std::memory_order_relaxed); }

  const HostConfig& config() const { return config_; }
  AccessLog* log() const { return log_; }
  const std::string& address() const { return address_; }
  PageCache& pages() { return pages_; }
  // The calling thread's own cache of path resolutions.
  ResolutionCache& resolutions();
  UploadProgress& progress() { return progress_; }
  PageWorkers& workers() { return workers_; }

 private:
  static std::uint64_t next_id();

  HostConfig config_;
  AccessLog* log_;
  PageCache pages_;
  // One cache per thread that asked (the workers), made at its first request.
  std::mutex resolutions_mutex_;
  std::vector<std::unique_ptr<ResolutionCache>> resolutions_;
  const std::uint64_t id_ = next_id();
  UploadProgress progress_;
  PageWorkers workers_;
  MHD_Daemon* daemon_ = nullptr;
  std::string address_;
  // Read by the threads, which may take a request before start() has learnt the port picked
  // for 0: such a request sees 0.
  std::atomic<unsigned> port_{0};
};

}  // namespace vhost
