// A named queue with a thread of its own: tasks run one at a time, in post
// order (delayed tasks in due order). Used where work must leave the main
// queue, such as the debug log's file writes ("com.orvik.debugLogManager").
// It is a worker pool one thread wide, plus `flush`.
// THREAD-SAFETY: post/postAfter/flush from any thread but the queue's own
// (flush from the queue itself would wait for itself).
// Destroying the queue runs the tasks already due, drops delayed ones that
// are not, and joins the thread.
#pragma once

#include <string>
#include <utility>

#include "platform/dispatch/task_queue.h"
#include "platform/dispatch/worker_pool.h"

namespace orvik::platform {

class SerialQueue final : public TaskQueue {
 public:
  explicit SerialQueue(std::string name) : pool_(std::move(name), 1) {}

  void post(Task task) override { pool_.post(std::move(task)); }
  void postAfter(double seconds, Task task) override { pool_.postAfter(seconds, std::move(task)); }
  bool isCurrent() const override { return pool_.isCurrent(); }

  using TaskQueue::post;
  using TaskQueue::postAfter;

  // Blocks until every task that is due now has run.
  void flush();

  const std::string& name() const { return pool_.name(); }

 private:
  WorkerPool pool_;
};

}  // namespace orvik::platform
