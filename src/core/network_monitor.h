// Whether the machine has a usable network path: one flag, published on the
// main queue, read by the main window, the offline overlay and the web-load
// diagnostics. It starts true, so nothing looks offline at start-up until the
// system reports an unsatisfied path; every report is published and told to
// the observers, changed or not. Path reports arrive on the serial queue
// "com.orvik.networkMonitor" and hop to the main queue.
// THREAD-SAFETY: construct, observe and destroy on the main queue;
// isConnected may be read from any thread.
#pragma once

#include <atomic>
#include <memory>

#include "platform/dispatch/serial_queue.h"
#include "platform/network_path.h"
#include "platform/observer_list.h"

namespace orvik {

class NetworkMonitor {
 public:
  static constexpr const char* queueName = "com.orvik.networkMonitor";
  using Observers = platform::ObserverList<bool>;

  // Starts watching `path`. Reports are delivered on `pathQueue` when given
  // (tests), else on the monitor's own serial queue.
  explicit NetworkMonitor(std::unique_ptr<platform::NetworkPath> path, platform::TaskQueue* pathQueue = nullptr);
  // Cancels the path; a report already on its way to the main queue then
  // finds no monitor and does nothing.
  ~NetworkMonitor();
  NetworkMonitor(const NetworkMonitor&) = delete;
  NetworkMonitor& operator=(const NetworkMonitor&) = delete;


  bool isConnected() const { return published_->isConnected.load(); }

  [[nodiscard]] platform::Subscription addObserver(Observers::Observer observer) {
    return published_->observers.add(std::move(observer));
  }

 private:
  // What main-queue tasks reach through a weak reference.
  struct Published {
    std::atomic<bool> isConnected{true};
    Observers observers;
  };

  std::shared_ptr<Published> published_ = std::make_shared<Published>();
  std::unique_ptr<platform::SerialQueue> ownQueue_;
  std::unique_ptr<platform::NetworkPath> path_;
};

}  // namespace orvik
