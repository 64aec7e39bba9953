// The value types every part of the call engine shares, the encoding of an
// outgoing call message into the payload of a "call" event, and the reading
// of the call server's timestamps.
// Owner: the call manager creates and holds sessions and states; the
// signalling client and the peer connection read them.
// THREADING: plain values; `CallSession` is used on the main queue only.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

namespace orvik {

enum class CallDirection { outgoing, incoming };

enum class CallType { audio, video };

// Every case but `failed` is plain; two failed states are equal only when
// their reasons are.
class CallState {
 public:
  enum class Kind { idle, ringing, calling, connecting, connected, ended, rejected, missed, busy, failed };

  constexpr CallState(Kind kind = Kind::idle) : kind_(kind) {}  // NOLINT: states read as values
  static CallState failed(std::string reason) { return CallState(Kind::failed, std::move(reason)); }

  Kind kind() const { return kind_; }
  // Empty for every case but `failed`.
  const std::string& reason() const { return reason_; }
  // Ringing, calling, connecting or connected.
  bool isInCall() const;

  friend bool operator==(const CallState& a, const CallState& b) {
    return a.kind_ == b.kind_ && (a.kind_ != Kind::failed || a.reason_ == b.reason_);
  }

 private:
  CallState(Kind kind, std::string reason) : kind_(kind), reason_(std::move(reason)) {}
  Kind kind_;
  std::string reason_;
};

struct CallUser {
  std::string OrvikID;
  std::string name;
  std::optional<std::string> avatarURL;
  std::string userNumber;
  bool isSubscribed = false;
};

// One call, owned by the call manager as its current session.
struct CallSession {
  const std::string sessionId;
  const CallDirection direction;
  CallType type;
  CallUser remoteUser;
  CallState state;
  std::optional<std::chrono::system_clock::time_point> connectedAt;
};

struct ICEServer {
  std::vector<std::string> urls;
  std::string username;
  std::string credential;

  friend bool operator==(const ICEServer&, const ICEServer&) = default;
};

struct SDPPayload {
  std::string type;  // "offer" or "answer"
  std::string sdp;
  std::optional<std::string> deviceSource;

  friend bool operator==(const SDPPayload&, const SDPPayload&) = default;
};

struct OutgoingCallMessage {
  std::string type;
  std::string to;    // user number, or user number "_" device id
  std::string from;
  std::optional<std::string> sdp{};
  std::optional<nlohmann::json> sdpObject{};  // an object; wins over `sdp`
  std::optional<bool> isAudio{};
  std::optional<std::string> isFreeUser{};
  std::optional<std::string> pushId{};
  std::optional<nlohmann::json> addRecord{};
  std::optional<nlohmann::json> candidate{};
  std::optional<std::string> deviceSource{};
  bool advertisesIceRestart = false;
  std::optional<int> iceRestartAttempt{};

  // The payload of the "call" event: "type", "to" and "from" always, every
  // other key only when set; "iceRestartV1" is true or absent, never false.
  nlohmann::json dictionary() const;
};

// A server timestamp: seconds or milliseconds (above 1e11) since 1970, as a
// number or decimal text, or an ISO 8601 internet date-time (a fraction of any
// length, read to the nanosecond). Nothing for zero, negative numbers, empty
// text, anything unreadable, and any instant outside 1970 to 2200, which no
// server sends and the clock type could not hold for every difference.
std::optional<std::chrono::system_clock::time_point> parseServerDate(const nlohmann::json& value);

}  // namespace orvik
