// Runs a task every `interval` seconds on a queue until stopped. The first
// run is one interval after start(). Main-queue (or owning-queue) only: start
// and stop from the queue the timer runs on. Stopping, restarting or
// destroying the timer means no earlier-scheduled tick runs.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/dispatch/task_queue.h"

namespace orvik::platform {

class RepeatingTimer {
 public:
  RepeatingTimer(TaskQueue& queue, double intervalSeconds, Task tick);
  ~RepeatingTimer();
  RepeatingTimer(const RepeatingTimer&) = delete;
  RepeatingTimer& operator=(const RepeatingTimer&) = delete;

  void start();
  void stop();
  bool isRunning() const { return current_ != nullptr; }
  double interval() const { return interval_; }

 private:
  struct Run;
  static void schedule(TaskQueue& queue, std::shared_ptr<Run> run);

  TaskQueue& queue_;
  double interval_;
  std::shared_ptr<Task> tick_;
  std::shared_ptr<Run> current_;
};

}  // namespace orvik::platform
