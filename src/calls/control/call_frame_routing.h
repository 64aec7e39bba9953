// Pure decisions of the call manager about the frames of the other party:
// where an address points, which answer is taken, and what an end or busy
// frame does to the call. Tables of cases test them (call_frame_routing_test).
//
// THREAD-SAFETY: pure functions, any thread.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "calls/signaling/call_model.h"

namespace orvik {

// A signalling address "<userNumber>_<deviceUdid>": the user part is the text
// before the first "_", the device part everything after it (further "_"
// kept). A bare user number has an empty device part.
struct SignalingAddress {
  std::string user;
  std::string device;
  friend bool operator==(const SignalingAddress&, const SignalingAddress&) = default;
};
SignalingAddress splitSignalingAddress(std::string_view address);
// "<user>_<device>", or the user alone (every device) for an empty device.
std::string signalingAddress(const std::string& user, const std::string& device);

// What the caller does with a received answer.
enum class AnswerRoute {
  ignoredNotInCall,      // the call is over (or never began)
  ignoredNotFromCallee,  // the sender is not the callee: never applied
  plainRestartAnswer,    // the answer to our plain re-offer to a mobile peer
  firstAnswer,           // the first answer wins and fixes the peer device
  laterAnswer,           // another device answered too late
};

struct AnswerFacts {
  CallState::Kind state = CallState::Kind::idle;
  // The answer's whole sender address, as received.
  std::optional<std::string> from;
  std::optional<std::string> remoteUserNumber;
  bool plainRestartInFlight = false;
  bool remoteAnswerReceived = false;
};
AnswerRoute routeAnswer(const AnswerFacts& facts);

// What an end/cancel frame ("endCall", "StopRinging", …) or a "userBusy" frame
// does to the call.
enum class RemoteEndRoute {
  ignoredNotInCall,
  ignoredOtherPeer,           // from another user than the call's
  ignoredIgnoredAnswer,       // from a device whose answer was refused
  ignoredNotAnsweringDevice,  // after the answer, from another device of the callee
  noAnswer,                   // busy after 25 s or more of ringing: the callee's no-answer time-out
  busyOrDecline,
  remoteEnd,
  remoteEndForced,  // from the very device the call is with
};

struct RemoteEndFacts {
  CallState::Kind state = CallState::Kind::idle;
  std::optional<std::string> from;
  std::optional<std::string> remoteUserNumber;
  std::optional<std::string> remoteDeviceUdid;
  std::set<std::string> ignoredAnswerUdids;
  bool outgoing = false;
  bool connected = false;  // the session has connected at least once
  bool remoteAnswerReceived = false;
  // Seconds since the outgoing call started ringing (busy only).
  double ringingSeconds = 0;
};
inline constexpr double kBusyMeansNoAnswerSeconds = 25.0;

RemoteEndRoute routeEndFrame(const RemoteEndFacts& facts);
RemoteEndRoute routeUserBusy(const RemoteEndFacts& facts);

const char* remoteEndRouteName(RemoteEndRoute route);
const char* answerRouteName(AnswerRoute route);

}  // namespace orvik
