// One GET to the update download host over libsoup, with the update server
// trust applied to every TLS handshake: the session's certificate database
// is ours, so a connection whose host is not an update host, whose chain does
// not verify or whose keys match no pin fails in the handshake itself, before
// any request is written or any response read. Redirects are followed here,
// not by libsoup: each target must be https and an update host before it is
// requested, so a plain-http address never goes out.
//
// No cache, a 60-second I/O time-out, at most five redirects.
//
//   UpdateHttpClient client(settings);            // on the worker thread
//   auto result = client.get(url, onResponse, onData);
//
// THREAD-SAFETY: get() blocks; call it from one worker thread at a time
// (never the main thread). cancel() may be called from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "updater/update_server_trust.h"

typedef struct _GCancellable GCancellable;

namespace orvik {

struct UpdateConnectionSettings {
  std::vector<std::string> allowedHosts;
  std::vector<std::string> pins;
  std::shared_ptr<const UpdateTrustAnchors> anchors;
  unsigned timeoutSeconds = 60;
  int maxRedirects = 5;
};

// One trust decision: a TLS handshake's, or an address refused before it was requested.
struct UpdateTrustEvent {
  std::string host;
  UpdateTrustVerdict verdict = UpdateTrustVerdict::accepted;
};

// What a worker that may outlive its owner checks before it hands anything
// on: the owner closes it when it goes, and nothing passes after that (the
// program's main queue may be gone by the time a stuck lookup returns).
class UpdateWorkerGate {
 public:
  // Runs `pass` only while the gate is open.
  template <typename F>
  void pass(F&& f) {
    std::lock_guard lock(mutex_);
    if (open_) f();
  }
  void close() {
    std::lock_guard lock(mutex_);
    open_ = false;
  }

 private:
  std::mutex mutex_;
  bool open_ = true;
};

class UpdateHttpClient {
 public:
  struct Response {
    int status = 0;
    std::optional<std::uint64_t> contentLength;  // none when the server sent none
  };
  enum class Outcome {
    completed,  // the response (any status) was read to its end
    stopped,    // onResponse or onData asked to stop
    refused,    // the trust rule refused the connection or an address
    failed,     // network failure, time-out, too many redirects
    cancelled,
  };
  struct Result {
    Outcome outcome = Outcome::failed;
    int status = 0;
    std::string error;  // for logs
    // The refusal, when the outcome is `refused`.
    std::optional<UpdateTrustEvent> refusal;
    // Every trust decision made, in order.
    std::vector<UpdateTrustEvent> decisions;
  };
  // Return false to stop reading.
  using OnResponse = std::function<bool(const Response&)>;
  using OnData = std::function<bool(const char* bytes, std::size_t length)>;

  explicit UpdateHttpClient(UpdateConnectionSettings settings);
  ~UpdateHttpClient();
  UpdateHttpClient(const UpdateHttpClient&) = delete;
  UpdateHttpClient& operator=(const UpdateHttpClient&) = delete;

  // Requests `url`, following redirects; the final response goes to
  // `onResponse`, then its body to `onData` in pieces.
  Result get(const std::string& url, const OnResponse& onResponse, const OnData& onData);

  // Ends a running get() (it returns `cancelled`) and every later one.
  void cancel();

  // The handshake's decision (called by the certificate database, on the
  // handshake's thread); recorded in the running get()'s result.
  UpdateTrustVerdict decideHandshake(const std::string& host, const std::vector<CertificateDer>& chain);

 private:
  const UpdateConnectionSettings settings_;
  std::mutex mutex_;
  std::vector<UpdateTrustEvent> decisions_;
  GCancellable* cancellable_;
};

}  // namespace orvik
