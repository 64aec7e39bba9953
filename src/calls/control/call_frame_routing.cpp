#include "calls/control/call_frame_routing.h"

namespace orvik {

SignalingAddress splitSignalingAddress(std::string_view address) {
  const auto underscore = address.find('_');
  if (underscore == std::string_view::npos) return {std::string(address), ""};
  return {std::string(address.substr(0, underscore)), std::string(address.substr(underscore + 1))};
}

std::string signalingAddress(const std::string& user, const std::string& device) {
  return device.empty() ? user : user + "_" + device;
}

namespace {

bool isInCall(CallState::Kind state) { return CallState(state).isInCall(); }

bool isFromAnotherUser(const std::optional<std::string>& from, const std::optional<std::string>& remoteUserNumber) {
  if (!from || !remoteUserNumber || remoteUserNumber->empty()) return false;
  const auto user = splitSignalingAddress(*from).user;
  return !user.empty() && user != *remoteUserNumber;
}

// Once a device of the callee answered, the call is with that device: what
// the callee's other devices say afterwards (a late decline, a busy reply of
// a device that was still ringing) is not about this call.
bool isFromAnotherDeviceAfterTheAnswer(const RemoteEndFacts& facts) {
  if (!facts.outgoing || !facts.remoteAnswerReceived || !facts.from) return false;
  if (!facts.remoteDeviceUdid || facts.remoteDeviceUdid->empty()) return false;
  const auto device = splitSignalingAddress(*facts.from).device;
  return !device.empty() && device != *facts.remoteDeviceUdid;
}

}  // namespace

AnswerRoute routeAnswer(const AnswerFacts& facts) {
  if (!isInCall(facts.state)) return AnswerRoute::ignoredNotInCall;
  // Only the callee answers: an answer from anyone else who can address this
  // device would otherwise take the call over.
  if (!facts.from || !facts.remoteUserNumber || splitSignalingAddress(*facts.from).user != *facts.remoteUserNumber) {
    return AnswerRoute::ignoredNotFromCallee;
  }
  if (facts.plainRestartInFlight) return AnswerRoute::plainRestartAnswer;
  return facts.remoteAnswerReceived ? AnswerRoute::laterAnswer : AnswerRoute::firstAnswer;
}

RemoteEndRoute routeEndFrame(const RemoteEndFacts& facts) {
  if (!isInCall(facts.state)) return RemoteEndRoute::ignoredNotInCall;
  if (isFromAnotherUser(facts.from, facts.remoteUserNumber)) return RemoteEndRoute::ignoredOtherPeer;
  if (facts.from && facts.from->find('_') != std::string::npos &&
      facts.ignoredAnswerUdids.contains(splitSignalingAddress(*facts.from).device)) {
    return RemoteEndRoute::ignoredIgnoredAnswer;
  }
  if (isFromAnotherDeviceAfterTheAnswer(facts)) return RemoteEndRoute::ignoredNotAnsweringDevice;
  if (facts.outgoing && facts.state != CallState::Kind::connected && !facts.remoteAnswerReceived) {
    return RemoteEndRoute::busyOrDecline;
  }
  const auto device = facts.from ? splitSignalingAddress(*facts.from).device : std::string();
  const bool force = !device.empty() && facts.remoteDeviceUdid && device == *facts.remoteDeviceUdid;
  return force ? RemoteEndRoute::remoteEndForced : RemoteEndRoute::remoteEnd;
}

RemoteEndRoute routeUserBusy(const RemoteEndFacts& facts) {
  if (!isInCall(facts.state)) return RemoteEndRoute::ignoredNotInCall;
  if (isFromAnotherUser(facts.from, facts.remoteUserNumber)) return RemoteEndRoute::ignoredOtherPeer;
  if (isFromAnotherDeviceAfterTheAnswer(facts)) return RemoteEndRoute::ignoredNotAnsweringDevice;
  if (facts.outgoing && !facts.connected && facts.ringingSeconds >= kBusyMeansNoAnswerSeconds) {
    return RemoteEndRoute::noAnswer;
  }
  if (facts.connected || facts.state == CallState::Kind::connected) return RemoteEndRoute::remoteEnd;
  return RemoteEndRoute::busyOrDecline;
}

const char* remoteEndRouteName(RemoteEndRoute route) {
  switch (route) {
    case RemoteEndRoute::ignoredNotInCall: return "ignoredNotInCall";
    case RemoteEndRoute::ignoredOtherPeer: return "ignoredOtherPeer";
    case RemoteEndRoute::ignoredIgnoredAnswer: return "ignoredIgnoredAnswer";
    case RemoteEndRoute::ignoredNotAnsweringDevice: return "ignoredNotAnsweringDevice";
    case RemoteEndRoute::noAnswer: return "noAnswer";
    case RemoteEndRoute::busyOrDecline: return "busyOrDecline";
    case RemoteEndRoute::remoteEnd: return "remoteEnd";
    case RemoteEndRoute::remoteEndForced: return "remoteEndForced";
  }
  return "?";
}

const char* answerRouteName(AnswerRoute route) {
  switch (route) {
    case AnswerRoute::ignoredNotInCall: return "ignoredNotInCall";
    case AnswerRoute::ignoredNotFromCallee: return "ignoredNotFromCallee";
    case AnswerRoute::plainRestartAnswer: return "plainRestartAnswer";
    case AnswerRoute::firstAnswer: return "firstAnswer";
    case AnswerRoute::laterAnswer: return "laterAnswer";
  }
  return "?";
}

}  // namespace orvik
