// The device identifier for callers on the main queue, which must never wait
// for the Secret Service: each request runs DeviceIdentityManager's read or
// creation on a serial queue of its own ("com.orvik.deviceIdentity") and
// answers on the main queue. A request the keyring has not answered within
// `timeoutSeconds` is answered anyway, with the identifier this process was
// last given, else the empty string (callers keep what they hold); the late
// result is kept for the next request.
//
//   provider.requestDeviceUdid([](const std::string& udid) { … });
//
// Owner: the program's composition root, which keeps it (and its worker) for
// the life of the process, so a read stuck in the Secret Service never holds up
// the program's exit.
// THREAD-SAFETY: requestDeviceUdid and lastKnownUdid on the main queue; the
// answer runs there too, never inside requestDeviceUdid.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/dispatch/task_queue.h"

namespace orvik {

class DeviceIdentityManager;

class DeviceUdidProvider {
 public:
  using Done = std::function<void(const std::string& udid)>;
  virtual ~DeviceUdidProvider() = default;
  // Answers once on the main queue, within the provider's time-out.
  virtual void requestDeviceUdid(Done done) = 0;
};

class KeyringDeviceUdidProvider final : public DeviceUdidProvider {
 public:
  // Long enough for a Secret Service that starts on demand, short enough that
  // the page is not held up when it does not answer.
  static constexpr double kTimeoutSeconds = 3.0;

  using Lookup = std::function<std::string()>;

  // `lookup` runs on `worker` (DeviceIdentityManager::getOrCreateDeviceUdid).
  KeyringDeviceUdidProvider(Lookup lookup, platform::TaskQueue& main, platform::TaskQueue& worker,
                            double timeoutSeconds = kTimeoutSeconds, std::function<void(const std::string&)> log = {});

  void requestDeviceUdid(Done done) override;

 private:
  struct Known {
    std::mutex mutex;
    std::string udid;
  };
  struct Request;

  Lookup lookup_;
  platform::TaskQueue& main_;
  platform::TaskQueue& worker_;
  double timeoutSeconds_;
  std::function<void(const std::string&)> log_;
  std::shared_ptr<Known> known_ = std::make_shared<Known>();
};

}  // namespace orvik
