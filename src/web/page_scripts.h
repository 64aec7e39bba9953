// The user scripts of the main web view, in the order they are added, and the
// two bridge scripts that carry page messages to the native handlers through
// an isolated script world (the page cannot forge where a message came from).
//
// THREAD-SAFETY: pure functions.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace orvik::page_scripts {

// The script world of the bridge's forwarding script and message handlers.
inline constexpr const char* kBridgeWorld = "orvikbridge";
inline constexpr const char* kNativeAppHandler = "nativeApp";
inline constexpr const char* kLoggerHandler = "logger";
inline constexpr const char* kCallWindowLoggerHandler = "callWindowLogger";
inline constexpr const char* kCallWindowReadyHandler = "callWindowReady";
inline constexpr const char* kDistribution = "bucket";
// The user agent of call-window web views, as it stands.
inline constexpr const char* kCallWindowUserAgent =
    "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/605.1.15 (KHTML, like Gecko) "
    "Version/17.6 Safari/605.1.15";
inline constexpr const char* kUserAgent =
    "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/605.1.15 (KHTML, like Gecko) "
    "Version/17.6 Safari/605.1.15";

struct UserScript {
  std::string source;
  bool topFrameOnly = false;
  // Empty: the page's own world.
  std::string world;
};

struct Inputs {
  std::string appVersion;  // "1.4.2 (142)"
  std::string deviceUdid;  // may be empty
  std::optional<std::string> storedRingtone;
  bool nativeVP9 = false;
  std::string launchId;
};

// "<short version> (<build>)", with "1.0" and "1" for missing values.
std::string appVersion(const std::string& shortVersion, const std::string& build);

// The bridge's page-world shim and isolated-world forwarder (top frame only),
// to be added before the other scripts. They carry "nativeApp", "logger" and
// the call page's "callWindowLogger" and "callWindowReady": call windows share
// the main view's scripts and handlers.
std::vector<UserScript> bridgeScripts();

// The call page's console forwarder (all frames, call-window documents only).
UserScript callWindowConsoleScript();
// The "[udid] injected … into CALL-WINDOW realm (…)" log line.
std::string callWindowUdidLogLine(const std::string& deviceUdid);

// The 12 document-start scripts (11 without a stored ringtone), in order.
std::vector<UserScript> mainViewScripts(const Inputs& inputs);

// The "[udid] injected …" log line for `deviceUdid`.
std::string udidInjectedLogLine(const std::string& deviceUdid);

}  // namespace orvik::page_scripts
