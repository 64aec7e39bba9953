#include "core/device_udid_provider.h"

#include <cstdio>

#include "core/device_identity_manager.h"
#include "core/native_logger.h"
#include "platform/dispatch/serial_queue.h"
#include "platform/queue_checker.h"

namespace orvik {

struct KeyringDeviceUdidProvider::Request {
  Done done;
  bool answered = false;  // main queue only
  std::shared_ptr<platform::WorkItem> timeout;
};

KeyringDeviceUdidProvider::KeyringDeviceUdidProvider(Lookup lookup, platform::TaskQueue& main,
                                                     platform::TaskQueue& worker, double timeoutSeconds,
                                                     std::function<void(const std::string&)> log)
    : lookup_(std::move(lookup)),
      main_(main),
      worker_(worker),
      timeoutSeconds_(timeoutSeconds),
      log_(std::move(log)) {
  if (!log_) log_ = [](const std::string& line) { nativeLog(line); };
}

void KeyringDeviceUdidProvider::requestDeviceUdid(Done done) {
  ORVIK_ASSERT_ON_QUEUE(main_);
  auto request = std::make_shared<Request>();
  request->done = std::move(done);
  auto known = known_;
  auto log = log_;
  const double seconds = timeoutSeconds_;
  // Nothing below holds `this`: the answer may come after the provider is gone.
  request->timeout = std::make_shared<platform::WorkItem>([request, known, log, seconds] {
    if (request->answered) return;
    request->answered = true;
    std::string udid;
    {
      std::lock_guard lock(known->mutex);
      udid = known->udid;
    }
    char limit[32];
    std::snprintf(limit, sizeof limit, "%g", seconds);
    log("[udid] keyring did not answer within " + std::string(limit) + " s — going on with " +
        (udid.empty() ? std::string("EMPTY") : "…" + udid.substr(udid.size() > 12 ? udid.size() - 12 : 0)));
    auto done = std::move(request->done);
    done(udid);
  });
  main_.postAfter(timeoutSeconds_, request->timeout);

  platform::TaskQueue& main = main_;
  worker_.post([lookup = lookup_, &main, request, known] {
    const std::string udid = lookup();
    if (!udid.empty()) {
      std::lock_guard lock(known->mutex);
      known->udid = udid;
    }
    main.post([request, udid] {
      if (request->answered) return;
      request->answered = true;
      request->timeout->cancel();
      auto done = std::move(request->done);
      done(udid);
    });
  });
}

}  // namespace orvik
