// A recording CallControl for the tests of the shell and the call windows:
// each operation appends one line to `calls` ("makeCall Bob 4711 audio",
// "setMuted true", "endCall", …); the state and the flags it answers are set
// by the test. `onEndCall` lets a test play the manager's reaction (closing
// the windows) at the moment the end arrives.
#pragma once

#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "calls/control/call_control.h"

namespace orvik::testing {

class RecordingCallControl : public CallControl {
 public:
  bool isCallActive() const override { return state.isInCall(); }
  void hangUpCurrentCall() override { calls.push_back("hangUpCurrentCall"); }
  CallState callState() const override { return state; }
  bool isScreenshotAccessAllowed() const override { return screenshotAccessAllowed; }

  void makeCall(const CallUser& callee, CallType type) override {
    calls.push_back("makeCall " + callee.name + " " + callee.OrvikID + " " + (type == CallType::audio ? "audio" : "video"));
    lastCallee = callee;
    if (onMakeCall) onMakeCall();
  }
  void acceptCall() override { calls.push_back("acceptCall"); }
  void rejectCall() override { calls.push_back("rejectCall"); }
  void endCall() override {
    calls.push_back("endCall");
    if (onEndCall) onEndCall();
  }
  void setMuted(bool muted) override { calls.push_back(std::string("setMuted ") + (muted ? "true" : "false")); }
  void setSpeakerEnabled(bool enabled) override {
    calls.push_back(std::string("setSpeakerEnabled ") + (enabled ? "true" : "false"));
  }
  void setCameraOff(bool off) override { calls.push_back(std::string("setCameraOff ") + (off ? "true" : "false")); }
  void toggleScreenShare() override { calls.push_back("toggleScreenShare"); }
  void requestScreenShareOptions(bool afterPrimer) override {
    calls.push_back(std::string("requestScreenShareOptions ") + (afterPrimer ? "true" : "false"));
  }
  void startScreenShare(const ShareTarget& target) override {
    if (const auto* window = std::get_if<ShareableWindow>(&target)) {
      calls.push_back("startScreenShare window " + std::to_string(window->id));
    } else {
      calls.push_back("startScreenShare display " + std::to_string(std::get<ShareableDisplay>(target).id));
    }
  }
  void extendCall(bool sendToPeer) override {
    calls.push_back(std::string("extendCall ") + (sendToPeer ? "true" : "false"));
  }
  void requestVideoUpgrade() override { calls.push_back("requestVideoUpgrade"); }
  void acceptVideoUpgrade() override { calls.push_back("acceptVideoUpgrade"); }
  void declineVideoUpgrade() override { calls.push_back("declineVideoUpgrade"); }

  CallState state;
  bool screenshotAccessAllowed = false;
  std::vector<std::string> calls;
  CallUser lastCallee;
  std::function<void()> onEndCall;
  // The manager's answer to a call placed (a state written, or nothing).
  std::function<void()> onMakeCall;
};

}  // namespace orvik::testing
