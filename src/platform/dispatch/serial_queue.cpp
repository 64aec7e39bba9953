#include "platform/dispatch/serial_queue.h"

#include <pthread.h>

#include <future>

namespace orvik::platform {

SerialQueue::SerialQueue(std::string name) : name_(std::move(name)) {
  thread_ = std::thread([this] { run(); });
  // Linux limits thread names to 15 characters; keep the distinctive tail.
  std::string shortName = name_.size() > 15 ? name_.substr(name_.size() - 15) : name_;
  pthread_setname_np(thread_.native_handle(), shortName.c_str());
}

SerialQueue::~SerialQueue() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void SerialQueue::post(Task task) { postAfter(0, std::move(task)); }

void SerialQueue::postAfter(double seconds, Task task) {
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
  wake_.notify_one();
}

bool SerialQueue::isCurrent() const { return std::this_thread::get_id() == thread_.get_id(); }

void SerialQueue::flush() {
  std::promise<void> done;
  auto future = done.get_future();
  post([&done] { done.set_value(); });
  future.wait();
}

void SerialQueue::run() {
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
