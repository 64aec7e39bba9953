// Whether the machine has a usable network path, as the system reports it.
// Linux backend: GIO's GNetworkMonitor; "network available" (a default
// route) is a satisfied path, anything else unsatisfied. GIO has no twin of
// "requires connection"; the status exists for the callers' logic.
// Test double: FakeNetworkPath (fake_network_path.h).
// THREAD-SAFETY: start and cancel on the main queue. Reports run on the queue
// given to start.
#pragma once

#include <functional>
#include <memory>

#include "platform/dispatch/task_queue.h"

namespace orvik::platform {

enum class NetworkPathStatus { satisfied, unsatisfied, requiresConnection };

class NetworkPath {
 public:
  using UpdateHandler = std::function<void(NetworkPathStatus)>;

  virtual ~NetworkPath() = default;
  // Reports the current path soon after (never inside this call), then
  // every path the system reports, each posted to `queue`, which must
  // outlive the reporting. Once only.
  virtual void start(TaskQueue& queue, UpdateHandler handler) = 0;
  // No report is posted after cancel returns; one already posted still runs.
  virtual void cancel() = 0;
};

std::unique_ptr<NetworkPath> makeGioNetworkPath();

}  // namespace orvik::platform
