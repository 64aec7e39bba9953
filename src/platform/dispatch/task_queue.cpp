#include "platform/dispatch/task_queue.h"

#include "platform/dispatch/glib_main_queue.h"

namespace orvik::platform {
namespace {

std::atomic<TaskQueue*> gInstalledMainQueue{nullptr};

}  // namespace

void WorkItem::cancel() {
  cancelled_.store(true, std::memory_order_release);
  Task released;
  {
    std::lock_guard lock(mutex_);
    released.swap(task_);
  }
  // `released` is destroyed here, outside the lock: its captures may own
  // objects whose destructors take locks of their own.
}

void WorkItem::perform() {
  Task task;
  {
    std::lock_guard lock(mutex_);
    if (isCancelled()) return;
    task.swap(task_);
  }
  if (task) task();
}

void TaskQueue::post(std::shared_ptr<WorkItem> item) {
  post([item = std::move(item)] { item->perform(); });
}

void TaskQueue::postAfter(double seconds, std::shared_ptr<WorkItem> item) {
  postAfter(seconds, [item = std::move(item)] { item->perform(); });
}

TaskQueue& mainQueue() {
  if (TaskQueue* installed = gInstalledMainQueue.load(std::memory_order_acquire)) return *installed;
  // Never destroyed: a worker that outlives main (one left stuck in a D-Bus
  // call at quit) may still post its answer while the process exits, and a
  // queue torn down by the static destructors would crash it.
  static GlibMainQueue* const defaultQueue = new GlibMainQueue();
  return *defaultQueue;
}

ScopedMainQueue::ScopedMainQueue(TaskQueue& queue) : previous_(gInstalledMainQueue.exchange(&queue)) {}

ScopedMainQueue::~ScopedMainQueue() { gInstalledMainQueue.store(previous_); }

}  // namespace orvik::platform
