// The texts two peers trade on the call's "control" data channel, and the
// lenient reading of what arrives. Senders always write the compact form
// {"type":"AudioToggled","data":false} (NativeCallManager::
// dataChannelFlagMessage); the reader also takes a `type` wrapped in blanks
// or quotes and a `data` given as a number or a string, because older and
// newer peers have written both.
//
// Pure functions; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace orvik {

namespace dataChannelText {
// Plain texts, sent and compared exactly.
inline constexpr const char* kEndCall = "endCall";
inline constexpr const char* kAccepted = "accepted";
// Types of the JSON messages.
inline constexpr const char* kAudioToggled = "AudioToggled";
inline constexpr const char* kVideoToggled = "VideoToggled";
inline constexpr const char* kScreenShareToggled = "ScreenShareToggled";
inline constexpr const char* kCallLimitExempt = "CallLimitExempt";
inline constexpr const char* kCallExtended = "CallExtended";
}  // namespace dataChannelText

// The `data` member read as a flag: a JSON boolean as it is, an integer
// true only when it is 1, a string true when it reads "true" in any letter
// case or is exactly "1"; absent (null pointer), null and anything else
// false.
bool parseDataChannelFlag(const nlohmann::json* data);

// One JSON message as the receiver understands it.
struct DataChannelMessage {
  // Trimmed of blanks, apostrophes, backticks and double quotes at both ends;
  // compared exactly afterwards.
  std::string type;
  bool flag = false;
  friend bool operator==(const DataChannelMessage&, const DataChannelMessage&) = default;
};

// Nothing unless `text` is a JSON object with a string member "type".
std::optional<DataChannelMessage> parseDataChannelMessage(std::string_view text);

}  // namespace orvik
