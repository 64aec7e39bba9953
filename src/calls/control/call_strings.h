// The call-screen text table: the handful of status and label texts of the
// call windows ("Calling...", "Connecting...", the OrvikID label) that the
// web application may replace with texts in the user's language. The page
// sends the whole table in one "setCallStrings:" message; every caller looks
// a text up by key with the text it shows when the page sent none.
//
//   strings.setCallStrings(R"(setCallStrings:{"calling":"Llamando...","lang":"es"})");
//   strings.string(CallStrings::kCalling, CallStrings::kCallingDefault);
//
// THREAD-SAFETY: updates come on the main queue; lookups may come from any
// thread. The table is swapped and read under one lock, never held while
// parsing, logging or calling out.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace orvik {

class CallStrings {
 public:
  static constexpr const char* kMessagePrefix = "setCallStrings:";

  // The keys the program looks up, with the one default every caller passes.
  static constexpr const char* kCalling = "calling";
  static constexpr const char* kCallingDefault = "Calling...";
  static constexpr const char* kConnecting = "connecting";
  static constexpr const char* kConnectingDefault = "Connecting...";
  static constexpr const char* kRinging = "ringing";
  static constexpr const char* kRingingDefault = "Ringing...";
  static constexpr const char* kReconnecting = "reconnecting";
  static constexpr const char* kReconnectingDefault = "Reconnecting...";
  static constexpr const char* kSecureCall = "secureCall";
  static constexpr const char* kSecureCallDefault = "You are making a secure end to end encrypted call";
  static constexpr const char* kOrvikIdLabel = "orvikidLabel";
  static constexpr const char* kOrvikIdLabelDefault = "OrvikID:";

  using LogFunction = std::function<void(const std::string& line)>;

  // `log` empty means nativeLog. Tests make their own tables.
  explicit CallStrings(LogFunction log = {});

  // `message`: the bridge message text, prefix included. Replaces the whole
  // table, or keeps it (with a log line) when the payload is no JSON object.
  void setCallStrings(std::string_view message);
  // The page's text for `key`, else `fallback`.
  std::string string(std::string_view key, std::string_view fallback) const;
  std::size_t count() const;

 private:
  void log(const std::string& line) const;

  LogFunction log_;
  mutable std::mutex mutex_;
  std::map<std::string, std::string, std::less<>> table_;
};

}  // namespace orvik
