// Threads for the pages that may take long (a large upload to save, a slow database): the
// threads that hold the connections hand such a page over and go on serving their other
// clients meanwhile. Each worker is an apartment of its own.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vhost {

class PageWorkers {
 public:
  PageWorkers() = default;
  ~PageWorkers();
  PageWorkers(const PageWorkers&) = delete;
  PageWorkers& operator=(const PageWorkers&) = delete;

  // Starts count threads; false with *error when the system gives fewer (none stays running).
  bool start(unsigned count, std::string* error);
  // Queues job for the next free worker; false once stop() has begun, or before start(): the
  // caller then runs it itself.
  bool post(std::function<void()> job);
  // Refuses new jobs, lets the workers finish the queued ones, and joins them.
  void stop();

 private:
  void serve();

  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> jobs_;
  bool accepting_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace vhost
