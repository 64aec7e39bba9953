// The program's main queue: tasks run on a GLib main context (the default one
// unless told otherwise), so they interleave with GTK, WebKit and libsoup
// events. The thread that constructs the queue is its current thread.
// THREAD-SAFETY: post/postAfter from any thread.
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/dispatch/task_queue.h"

typedef struct _GMainContext GMainContext;

namespace orvik::platform {

class GlibMainQueue final : public TaskQueue {
 public:
  // `context` null means GLib's default main context.
  explicit GlibMainQueue(GMainContext* context = nullptr);
  ~GlibMainQueue() override;

  void post(Task task) override;
  void postAfter(double seconds, Task task) override;
  bool isCurrent() const override;

  using TaskQueue::post;
  using TaskQueue::postAfter;

 private:
  struct State;
  static int drainThunk(void* state);
  static int timerThunk(void* entry);

  GMainContext* context_;
  std::thread::id owner_;
  std::shared_ptr<State> state_;
};

}  // namespace orvik::platform
