// A CallSignalingDelegate for tests: records each call as a short text, in
// order ("connect", "disconnect", "ice 2 relay", "failAuth", "recordId 1001").
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "calls/signaling/call_signaling_service.h"

namespace orvik::testing {

class RecordingSignalingDelegate : public CallSignalingDelegate {
 public:
  void signalingDidConnect() override { record("connect"); }
  void signalingDidDisconnect() override { record("disconnect"); }
  void signalingDidReceiveIceServers(const std::vector<ICEServer>& servers, const std::string& policy) override {
    lastServers = servers;
    record("ice " + std::to_string(servers.size()) + " " + policy);
  }
  void signalingDidFailAuth() override { record("failAuth"); }
  void signalingDidReceiveCallRecordId(std::int64_t recordId) override {
    record("recordId " + std::to_string(recordId));
  }
  void signalingDidReceiveOffer(const std::string& from, const SDPPayload& offer, bool isAudio,
                                const std::optional<std::string>& deviceUdid, const std::optional<std::string>& callerName,
                                const std::optional<std::string>& callerPicture) override {
    lastPayload = offer;
    record("offer " + from + " " + (isAudio ? "audio" : "video") + " udid=" + deviceUdid.value_or("nil") +
           " name=" + callerName.value_or("nil") + " picture=" + callerPicture.value_or("nil"));
  }
  void signalingDidReceiveAnswer(const SDPPayload& answer, const std::optional<std::string>& deviceUdid,
                                 const std::optional<std::string>&) override {
    lastPayload = answer;
    record("answer udid=" + deviceUdid.value_or("nil"));
  }
  void signalingDidReceiveCandidate(const std::string& candidate, const std::optional<std::string>& sdpMid,
                                    std::int32_t sdpMLineIndex, const std::optional<std::string>& deviceUdid) override {
    record("candidate " + candidate + " mid=" + sdpMid.value_or("nil") + " idx=" + std::to_string(sdpMLineIndex) +
           " udid=" + deviceUdid.value_or("nil"));
  }
  void signalingDidReceiveOfferReceived(const std::optional<std::string>& from) override {
    record("offerReceived " + from.value_or("nil"));
  }
  void signalingDidReceiveUserBusy(const std::optional<std::string>& from) override { record("userBusy " + from.value_or("nil")); }
  void signalingDidReceiveEndCall(const std::optional<std::string>& from) override { record("endCall " + from.value_or("nil")); }
  void signalingDidReceiveRestartCapability(const std::optional<std::string>& from) override {
    record("restartCapability " + from.value_or("nil"));
  }
  void signalingDidReceiveRestartOffer(const SDPPayload& offer, std::optional<std::int64_t> attempt,
                                       const std::optional<std::string>& from) override {
    lastPayload = offer;
    record("restartOffer " + (attempt ? std::to_string(*attempt) : std::string("nil")) + " " + from.value_or("nil"));
  }
  void signalingDidReceiveRestartAnswer(const SDPPayload& answer, std::optional<std::int64_t> attempt,
                                        const std::optional<std::string>& from) override {
    lastPayload = answer;
    record("restartAnswer " + (attempt ? std::to_string(*attempt) : std::string("nil")) + " " + from.value_or("nil"));
  }
  void signalingDidReceiveRestartRequest(const std::optional<std::string>& from) override {
    record("restartRequest " + from.value_or("nil"));
  }
  void signalingDidReceiveVideoUpgradeAnswer(const SDPPayload& answer, const std::optional<std::string>& deviceUdid) override {
    lastPayload = answer;
    record("videoUpgradeAnswer udid=" + deviceUdid.value_or("nil"));
  }
  void signalingDidReceivePendingCall() override { record("noPendingCall"); }
  void handleSendToMyDevices(const std::string& action) override { record("myDevices " + action); }

  std::size_t count(const std::string& event) const {
    std::size_t n = 0;
    for (const auto& e : events) n += e == event;
    return n;
  }
  std::size_t countPrefix(const std::string& prefix) const {
    std::size_t n = 0;
    for (const auto& e : events) n += e.rfind(prefix, 0) == 0;
    return n;
  }

  std::vector<std::string> events;
  std::vector<ICEServer> lastServers;
  std::optional<SDPPayload> lastPayload;
  // Called after each event is recorded.
  std::function<void()> onEvent;

 private:
  void record(std::string event) {
    events.push_back(std::move(event));
    if (onEvent) onEvent();
  }
};

}  // namespace orvik::testing
