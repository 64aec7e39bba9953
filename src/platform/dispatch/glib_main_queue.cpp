#include "platform/dispatch/glib_main_queue.h"

#include <glib.h>

#include <cmath>

namespace orvik::platform {

// Immediate tasks go through one FIFO drained by a single idle source, so that
// they run strictly in post order whatever GLib does with equal-priority
// sources. Delayed tasks enter the same FIFO when their timeout fires.
struct GlibMainQueue::State {
  std::mutex mutex;
  std::deque<Task> ready;
  bool drainScheduled = false;
  bool closed = false;
  GMainContext* context = nullptr;

  void enqueue(std::shared_ptr<State> self, Task task) {
    std::lock_guard lock(mutex);
    if (closed) return;
    ready.push_back(std::move(task));
    if (drainScheduled) return;
    drainScheduled = true;
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    g_source_set_callback(source, &GlibMainQueue::drainThunk, new std::shared_ptr<State>(std::move(self)),
                          [](void* p) { delete static_cast<std::shared_ptr<State>*>(p); });
    g_source_attach(source, context);
    g_source_unref(source);
  }
};

namespace {

struct TimerEntry {
  std::shared_ptr<void> state;  // GlibMainQueue::State, kept alive while the timer is pending
  Task task;
};

}  // namespace

GlibMainQueue::GlibMainQueue(GMainContext* context)
    : context_(context ? g_main_context_ref(context) : g_main_context_ref(g_main_context_default())),
      owner_(std::this_thread::get_id()),
      state_(std::make_shared<State>()) {
  state_->context = context_;
}

GlibMainQueue::~GlibMainQueue() {
  {
    std::lock_guard lock(state_->mutex);
    state_->closed = true;
    state_->ready.clear();
  }
  g_main_context_unref(context_);
}

void GlibMainQueue::post(Task task) { state_->enqueue(state_, std::move(task)); }

void GlibMainQueue::postAfter(double seconds, Task task) {
  if (!(seconds > 0)) {
    post(std::move(task));
    return;
  }
  auto ms = static_cast<guint>(std::min(std::ceil(seconds * 1000.0), double(G_MAXUINT)));
  GSource* source = g_timeout_source_new(ms);
  g_source_set_callback(source, &GlibMainQueue::timerThunk,
                        new TimerEntry{std::static_pointer_cast<void>(state_), std::move(task)},
                        [](void* p) { delete static_cast<TimerEntry*>(p); });
  g_source_attach(source, context_);
  g_source_unref(source);
}

bool GlibMainQueue::isCurrent() const {
  return std::this_thread::get_id() == owner_ || g_main_context_is_owner(context_);
}

int GlibMainQueue::timerThunk(void* p) {
  auto* entry = static_cast<TimerEntry*>(p);
  auto state = std::static_pointer_cast<State>(entry->state);
  state->enqueue(state, std::move(entry->task));
  return G_SOURCE_REMOVE;
}

int GlibMainQueue::drainThunk(void* p) {
  auto state = *static_cast<std::shared_ptr<State>*>(p);
  // Run only what is queued now; tasks posted meanwhile wait for the next
  // iteration so that other sources (input, redraws) are not starved.
  std::deque<Task> batch;
  {
    std::lock_guard lock(state->mutex);
    batch.swap(state->ready);
    state->drainScheduled = false;
  }
  for (auto& task : batch) {
    if (task) task();
  }
  return G_SOURCE_REMOVE;
}

}  // namespace orvik::platform
