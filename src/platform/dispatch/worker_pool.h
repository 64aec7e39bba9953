// A named queue with a few threads of its own: tasks start in post order
// (delayed tasks in due order) and up to `width` of them run at once, so one
// task that blocks for long (a stuck video decode) holds one thread, not the
// tasks behind it. Used for blocking work that may run side by side, such as
// thumbnails ("com.orvik.thumbnails").
// THREAD-SAFETY: post/postAfter from any thread. Tasks may run concurrently:
// they share nothing unless they lock it.
// Destroying the pool runs the tasks already due, drops delayed ones that are
// not, and joins the threads.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/dispatch/task_queue.h"

namespace orvik::platform {

class WorkerPool final : public TaskQueue {
 public:
  // `width` at least 1.
  WorkerPool(std::string name, int width);
  ~WorkerPool() override;

  void post(Task task) override;
  void postAfter(double seconds, Task task) override;
  // True on any of the pool's threads.
  bool isCurrent() const override;

  using TaskQueue::post;
  using TaskQueue::postAfter;

  const std::string& name() const { return name_; }
  int width() const { return static_cast<int>(threads_.size()); }

 private:
  using Due = std::chrono::steady_clock::time_point;
  void run();

  const std::string name_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::map<std::pair<Due, std::uint64_t>, Task> tasks_;
  std::uint64_t nextSequence_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace orvik::platform
