// NetworkPath for tests: the test decides every report.
// THREAD-SAFETY: the test's thread.
#pragma once

#include "platform/network_path.h"

namespace orvik::platform {

class FakeNetworkPath final : public NetworkPath {
 public:
  void start(TaskQueue& queue, UpdateHandler handler) override {
    queue_ = &queue;
    handler_ = std::move(handler);
    ++starts;
  }
  void cancel() override {
    handler_ = nullptr;
    ++cancels;
  }

  // Posts a report as the system would; nothing after cancel.
  void report(NetworkPathStatus status) {
    if (handler_) queue_->post([handler = handler_, status] { handler(status); });
  }

  int starts = 0;
  int cancels = 0;

 private:
  TaskQueue* queue_ = nullptr;
  UpdateHandler handler_;
};

}  // namespace orvik::platform
