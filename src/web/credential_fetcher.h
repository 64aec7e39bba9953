// Pulls the signed-in user's call credentials out of the page: runs the
// auth-data script, which reads the user record from the web application's
// browser database ("OrvikDb13", store "user") and answers with the
// "nativeAuthData" message; checks that answer and hands accepted
// credentials to the call engine. Also the page's "userLoggedIn" and
// "userSignedOut" messages.
//
// A fetch (fetchCredentials) runs the script, then retries every 2 s while the
// answers are empty or carry a token minted for another device, at most 12
// times; a new fetch starts at the earliest 2 s after the last one began.
//
//   fetcher.fetchCredentials("bridge-message");  // no-op while one runs or credentials are known
//
// Owner: the main web view's wiring (one per main web view).
// THREAD-SAFETY: main queue only; the script's answer comes back through the
// bridge.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "calls/signaling/call_credentials_sink.h"
#include "platform/dispatch/clock.h"
#include "platform/dispatch/task_queue.h"
#include "platform/page_call.h"

namespace orvik {
namespace platform {
class MessageRoutes;
}  // namespace platform

class CredentialFetcher {
 public:
  static constexpr int kMaxAuthFetchRetries = 12;
  static constexpr double kRetryDelaySeconds = 2.0;
  static constexpr double kMinFetchIntervalSeconds = 2.0;

  using LogFunction = std::function<void(const std::string& line)>;
  // Whether the update banner may show: the page has a signed-in user.
  using UserLoggedInFunction = std::function<void(bool loggedIn)>;

  struct Collaborators {
    // Empty: nativeLog.
    LogFunction log;
    // Empty: nothing is told.
    UserLoggedInFunction setUserLoggedIn;
    // Empty: documentsDirectory().
    std::function<std::filesystem::path()> documentsFolder;
  };

  CredentialFetcher(platform::TaskQueue& queue, platform::Clock& clock, CallCredentialsSink& calls,
                    std::weak_ptr<platform::PageScriptSink> page, Collaborators collaborators = {});
  ~CredentialFetcher();
  CredentialFetcher(const CredentialFetcher&) = delete;
  CredentialFetcher& operator=(const CredentialFetcher&) = delete;

  // The page messages handled here: "nativeAuthData", "userLoggedIn" and
  // "userSignedOut", from the one table of their names.
  static std::span<const std::string_view> messageNames();
  // Routes every message above here.
  void publishRoutes(platform::MessageRoutes& routes);

  // Starts a fetch unless credentials are known, one is running, or the last
  // began less than 2 s ago. `reason` is only logged.
  void fetchCredentials(const std::string& reason);
  // A new page starts loading: retries and the last start are forgotten.
  void resetForNewLoad();
  // 1.5 s after a finished load: runs the script once when no credentials are known.
  void fetchAfterLoad();

  // Message handlers (bodies as the dispatcher passes them).
  void handleNativeAuthData(const nlohmann::json& payload);
  void handleUserLoggedIn();
  void handleUserSignedOut();

  // The device claim of a token's payload ("deviceUdid", else "Udid");
  // none when the token has no readable claim.
  static std::optional<std::string> decodeTokenDeviceUdid(std::string_view token);
  // The auth-data script, evaluated in the page's own world.
  static const std::string& authDataScript();

  int authFetchRetries() const { return authFetchRetries_; }
  bool authFetchInFlight() const { return authFetchInFlight_; }

 private:
  void runAuthDataScript();
  void log(const std::string& line) const;

  platform::TaskQueue& queue_;
  platform::Clock& clock_;
  CallCredentialsSink& calls_;
  std::weak_ptr<platform::PageScriptSink> page_;
  Collaborators collaborators_;
  int authFetchRetries_ = 0;
  bool authFetchInFlight_ = false;
  std::optional<platform::Clock::MonotonicTime> lastAuthFetchAt_;
  std::shared_ptr<platform::WorkItem> retry_;
};

}  // namespace orvik
