// A named queue with a thread of its own: tasks run one at a time, in post
// order (delayed tasks in due order). Used where work must leave the main
// queue, such as the debug log's file writes ("com.orvik.debugLogManager").
// THREAD-SAFETY: post/postAfter/flush from any thread but the queue's own
// (flush from the queue itself would wait for itself).
// Destroying the queue runs the tasks already due, drops delayed ones that
// are not, and joins the thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "platform/dispatch/task_queue.h"

namespace orvik::platform {

class SerialQueue final : public TaskQueue {
 public:
  explicit SerialQueue(std::string name);
  ~SerialQueue() override;

  void post(Task task) override;
  void postAfter(double seconds, Task task) override;
  bool isCurrent() const override;

  using TaskQueue::post;
  using TaskQueue::postAfter;

  // Blocks until every task that is due now has run.
  void flush();

  const std::string& name() const { return name_; }

 private:
  using Due = std::chrono::steady_clock::time_point;
  void run();

  const std::string name_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::map<std::pair<Due, std::uint64_t>, Task> tasks_;
  std::uint64_t nextSequence_ = 0;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace orvik::platform
