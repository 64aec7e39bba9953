#include "platform/dispatch/worker_pool.h"

#include <pthread.h>

#include <algorithm>

namespace orvik::platform {

WorkerPool::WorkerPool(std::string name, int width) : name_(std::move(name)) {
  // Linux limits thread names to 15 characters; keep the distinctive tail.
  const std::string shortName = name_.size() > 15 ? name_.substr(name_.size() - 15) : name_;
  for (int i = 0; i < std::max(width, 1); ++i) {
    threads_.emplace_back([this] { run(); });
    pthread_setname_np(threads_.back().native_handle(), shortName.c_str());
  }
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (auto& thread : threads_) thread.join();
}

void WorkerPool::post(Task task) { postAfter(0, std::move(task)); }

void WorkerPool::postAfter(double seconds, Task task) {
  auto due = std::chrono::steady_clock::now();
  if (seconds > 0) {
    due += std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
  }
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    // Immediate tasks share one due instant so that post order alone decides.
    if (seconds <= 0) due = Due::min();
    tasks_.emplace(std::make_pair(due, nextSequence_++), std::move(task));
  }
  // Every thread may be waiting for a later due time than this one.
  wake_.notify_all();
}

bool WorkerPool::isCurrent() const {
  const auto self = std::this_thread::get_id();
  return std::any_of(threads_.begin(), threads_.end(), [self](const std::thread& t) { return t.get_id() == self; });
}

void WorkerPool::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (tasks_.empty()) {
      if (stopping_) return;
      wake_.wait(lock);
      continue;
    }
    auto first = tasks_.begin();
    const auto now = std::chrono::steady_clock::now();
    if (first->first.first > now) {
      if (stopping_) return;
      wake_.wait_until(lock, first->first.first);
      continue;
    }
    Task task = std::move(first->second);
    tasks_.erase(first);
    lock.unlock();
    if (task) task();
    task = nullptr;
    lock.lock();
  }
}

}  // namespace orvik::platform
