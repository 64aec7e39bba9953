// The program's threads and delayed work: a main queue, named serial queues,
// cancellable work items and repeating timers. Nothing else in the program
// creates threads or timers.
//
// THREAD-SAFETY: `post` and `postAfter` may be called from any thread on every
// queue. A task runs on its queue's thread, never inside the `post` call that
// queued it, and tasks of one queue never run concurrently. Tasks due at the
// same time run in the order they were posted. `isCurrent()` answers whether
// the calling thread is the one the queue runs its tasks on.
//
// Time: a queue measures delays on its own clock. The program's queues use the
// system's monotonic clock; `VirtualQueue` (virtual_queue.h) moves time only
// when a test says so, so 35-second timers are tested in microseconds.
//
//   auto ring = std::make_shared<WorkItem>([this] { ringTimedOut(); });
//   mainQueue().postAfter(35.0, ring);   // ... and when the call is answered:
//   ring->cancel();                       // the task never runs
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>

namespace orvik::platform {

using Task = std::function<void()>;

// A task that can be cancelled until it runs. Cancelling before it starts
// means it never runs; cancelling while it runs has no effect on that run.
// Cancel may be called from any thread. The task's captures are released
// after it runs or when it is cancelled.
class WorkItem {
 public:
  explicit WorkItem(Task task) : task_(std::move(task)) {}
  WorkItem(const WorkItem&) = delete;
  WorkItem& operator=(const WorkItem&) = delete;

  void cancel();
  bool isCancelled() const { return cancelled_.load(std::memory_order_acquire); }

  // Runs the task once unless cancelled; later calls do nothing.
  void perform();

 private:
  std::atomic<bool> cancelled_{false};
  std::mutex mutex_;
  Task task_;
};

class TaskQueue {
 public:
  virtual ~TaskQueue() = default;

  virtual void post(Task task) = 0;
  // Runs `task` no earlier than `seconds` from now (negative counts as 0).
  virtual void postAfter(double seconds, Task task) = 0;
  virtual bool isCurrent() const = 0;
  // The time on the clock the queue measures delays on: the system's
  // monotonic clock unless the queue says otherwise.
  virtual std::chrono::steady_clock::time_point monotonicNow() const { return std::chrono::steady_clock::now(); }

  // Convenience for cancellable work: the queue keeps the item alive until
  // it is due, then runs it unless it was cancelled.
  void post(std::shared_ptr<WorkItem> item);
  void postAfter(double seconds, std::shared_ptr<WorkItem> item);
};

// The process-wide main queue. The program installs the GLib main-context
// queue at start-up; unit tests install a VirtualQueue with ScopedMainQueue.
// Without an installed queue this returns a queue on GLib's default main
// context, created on first use by the calling thread.
TaskQueue& mainQueue();

// Installs `queue` as the main queue for the lifetime of this object and
// restores the previous one afterwards. Not thread-safe: use at start-up or in
// a test's set-up, before other threads post.
class ScopedMainQueue {
 public:
  explicit ScopedMainQueue(TaskQueue& queue);
  ~ScopedMainQueue();
  ScopedMainQueue(const ScopedMainQueue&) = delete;
  ScopedMainQueue& operator=(const ScopedMainQueue&) = delete;

 private:
  TaskQueue* previous_;
};

}  // namespace orvik::platform
