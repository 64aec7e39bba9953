#include <gio/gio.h>

#include <mutex>

#include "platform/network_path.h"

namespace orvik::platform {
namespace {

class GioNetworkPath final : public NetworkPath {
 public:
  ~GioNetworkPath() override { cancel(); }

  void start(TaskQueue& queue, UpdateHandler handler) override {
    {
      std::lock_guard lock(state_->mutex);
      state_->queue = &queue;
      state_->handler = std::move(handler);
    }
    monitor_ = g_network_monitor_get_default();  // GIO's singleton: never unreferenced
    // GIO emits on the main context of the thread that first asked for the
    // monitor, or on a worker of its own: either way `deliver` only posts.
    signalId_ = g_signal_connect(monitor_, "network-changed", G_CALLBACK(&GioNetworkPath::onChanged), state_.get());
    deliver(*state_, g_network_monitor_get_network_available(monitor_));
  }

  void cancel() override {
    if (monitor_ && signalId_) g_signal_handler_disconnect(monitor_, signalId_);
    signalId_ = 0;
    std::lock_guard lock(state_->mutex);
    state_->handler = nullptr;
  }

 private:
  struct State {
    std::mutex mutex;
    TaskQueue* queue = nullptr;
    UpdateHandler handler;
  };

  static void deliver(State& state, bool available) {
    std::lock_guard lock(state.mutex);
    if (!state.handler) return;
    const auto status = available ? NetworkPathStatus::satisfied : NetworkPathStatus::unsatisfied;
    state.queue->post([handler = state.handler, status] { handler(status); });
  }

  static void onChanged(GNetworkMonitor*, gboolean available, gpointer state) {
    deliver(*static_cast<State*>(state), available);
  }

  // Outlives the signal connection: the signal is disconnected in cancel,
  // before this object (and so the state) is destroyed.
  std::unique_ptr<State> state_ = std::make_unique<State>();
  GNetworkMonitor* monitor_ = nullptr;
  gulong signalId_ = 0;
};

}  // namespace

std::unique_ptr<NetworkPath> makeGioNetworkPath() { return std::make_unique<GioNetworkPath>(); }

}  // namespace orvik::platform
