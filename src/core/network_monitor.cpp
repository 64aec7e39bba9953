#include "core/network_monitor.h"

namespace orvik {

NetworkMonitor::NetworkMonitor(std::unique_ptr<platform::NetworkPath> path, platform::TaskQueue* pathQueue)
    : path_(std::move(path)) {
  if (!pathQueue) {
    ownQueue_ = std::make_unique<platform::SerialQueue>(queueName);
    pathQueue = ownQueue_.get();
  }
  path_->start(*pathQueue, [weak = std::weak_ptr<Published>(published_)](platform::NetworkPathStatus status) {
    // Unsatisfied and requires-connection both count as not connected.
    const bool connected = status == platform::NetworkPathStatus::satisfied;
    platform::mainQueue().post([weak, connected] {
      if (auto published = weak.lock()) {
        published->isConnected = connected;
        published->observers.notify(connected);
      }
    });
  });
}

NetworkMonitor::~NetworkMonitor() { path_->cancel(); }

}  // namespace orvik
