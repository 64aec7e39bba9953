// Runs a task every `interval` seconds on a queue until stopped. Ticks are due
// at start + n × interval on the queue's clock, so a late tick does not push
// the later ones: a tick that runs late (the queue was busy) runs once, and
// the next one is due at the next point of that schedule still ahead.
// Main-queue (or owning-queue) only: start and stop from the queue the timer
// runs on. Stopping, restarting or destroying the timer means no
// earlier-scheduled tick runs.
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

  // The first tick is due one interval from now.
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
