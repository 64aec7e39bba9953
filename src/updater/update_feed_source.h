// Where the update check's feed comes from. The program's source fetches the
// feed address over the pinned update connection on a queue of its own
// ("com.orvik.updateService"); tests hand in bodies and failures.
//
// THREAD-SAFETY: fetch() from the main queue; `done` runs on the source's
// own queue (never the caller's), once per fetch.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "updater/update_http_client.h"

namespace orvik {
namespace platform {
class SerialQueue;
}

struct FetchedFeed {
  std::optional<std::string> body;  // none: nothing arrived (see `error`)
  std::string error;                // for the log line
  // Every trust decision made on the way, in order.
  std::vector<UpdateTrustEvent> decisions;
};

class UpdateFeedSource {
 public:
  virtual ~UpdateFeedSource() = default;
  virtual void fetch(std::function<void(FetchedFeed)> done) = 0;
};

// Fetches `url` with UpdateHttpClient. A body above `maxBodyBytes` is not a
// feed and counts as nothing arrived.
class PinnedFeedSource final : public UpdateFeedSource {
 public:
  static constexpr std::size_t kMaxFeedBytes = 1024 * 1024;

  PinnedFeedSource(std::string url, UpdateConnectionSettings settings);
  // Cancels a running fetch; never waits for it.
  ~PinnedFeedSource() override;

  void fetch(std::function<void(FetchedFeed)> done) override;

 private:
  const std::string url_;
  std::shared_ptr<UpdateHttpClient> client_;
  std::shared_ptr<UpdateWorkerGate> gate_ = std::make_shared<UpdateWorkerGate>();
  std::unique_ptr<platform::SerialQueue> queue_;
};

}  // namespace orvik
