// The workers that run handed-over pages (see page_workers.h).
#include "page_workers.h"

#include <exception>
#include <new>
#include <string>
#include <utility>

#include "objbase.h"

namespace vhost {

PageWorkers::~PageWorkers() {
  stop();
}

bool PageWorkers::start(unsigned count, std::string* error) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    accepting_ = true;
  }
  try {
    threads_.reserve(count);
    for (unsigned i = 0; i < count; ++i)
      threads_.emplace_back(&PageWorkers::serve, this);
  } catch (const std::exception& e) {
    stop();
    *error = std::string("cannot start the page workers: ") + e.what();
    return false;
  }
  return true;
}

bool PageWorkers::post(std::function<void()> job) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!accepting_)
      return false;
    try {
      jobs_.push_back(std::move(job));
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  ready_.notify_one();
  return true;
}

void PageWorkers::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    accepting_ = false;
  }
  ready_.notify_all();
  for (std::thread& t : threads_)
    t.join();
  threads_.clear();
}

void PageWorkers::serve() {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    ready_.wait(lock, [this] { return !jobs_.empty() || !accepting_; });
    if (jobs_.empty())
      break;
    std::function<void()> job = std::move(jobs_.front());
    jobs_.pop_front();
    lock.unlock();
    job();
    lock.lock();
  }
  lock.unlock();
  CoUninitialize();
}

}  // namespace vhost
