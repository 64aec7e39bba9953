#include "updater/update_feed_source.h"

#include "platform/dispatch/serial_queue.h"

namespace orvik {

PinnedFeedSource::PinnedFeedSource(std::string url, UpdateConnectionSettings settings)
    : url_(std::move(url)),
      client_(std::make_shared<UpdateHttpClient>(std::move(settings))),
      queue_(std::make_unique<platform::SerialQueue>("com.orvik.updateService")) {}

PinnedFeedSource::~PinnedFeedSource() {
  gate_->close();
  client_->cancel();
  // A name lookup cannot be cancelled: joining a worker that sits in one would
  // hold up the exit. The worker keeps only what it shares (the client) and
  // ends once the lookup returns.
  (void)queue_.release();
}

void PinnedFeedSource::fetch(std::function<void(FetchedFeed)> done) {
  queue_->post([client = client_, gate = gate_, url = url_, done = std::move(done)] {
    std::string body;
    bool tooLarge = false;
    const auto result = client->get(
        url, [](const UpdateHttpClient::Response&) { return true; },
        [&body, &tooLarge](const char* bytes, std::size_t length) {
          if (body.size() + length > kMaxFeedBytes) {
            tooLarge = true;
            return false;
          }
          body.append(bytes, length);
          return true;
        });
    FetchedFeed fetched;
    fetched.decisions = result.decisions;
    if (result.outcome == UpdateHttpClient::Outcome::completed) {
      fetched.body = std::move(body);
    } else {
      fetched.error = tooLarge ? "the feed is larger than " + std::to_string(kMaxFeedBytes) + " bytes"
                               : (result.error.empty() ? "unknown" : result.error);
    }
    if (result.outcome == UpdateHttpClient::Outcome::cancelled) return;
    gate->pass([&] { done(std::move(fetched)); });
  });
}

}  // namespace orvik
