// What the peer tells us on the call's "control" data channel, without the
// signalling server: its hang-up, its microphone, camera and screen share,
// its special calling access and its extensions of a limited call. Also the
// callee's "accepted" when the caller's channel arrives, the hand-over of a
// remote video track to the video screen, and the two generation-checked
// teardown steps that delayed ending paths use.
#include "calls/control/data_channel_messages.h"

#include <algorithm>
#include <cctype>

#include "calls/control/native_call_manager.h"
#include "core/native_logger.h"
#include "platform/queue_checker.h"

namespace orvik {

namespace {

const char* boolText(bool value) { return value ? "true" : "false"; }

constexpr std::string_view kTypeTrim = " '`\"";

std::string trimmedType(const std::string& type) {
  const auto begin = type.find_first_not_of(kTypeTrim);
  if (begin == std::string::npos) return {};
  const auto end = type.find_last_not_of(kTypeTrim);
  return type.substr(begin, end - begin + 1);
}

}  // namespace

bool parseDataChannelFlag(const nlohmann::json* data) {
  if (!data) return false;
  if (data->is_boolean()) return data->get<bool>();
  if (data->is_number_unsigned()) return data->get<std::uint64_t>() == 1;
  if (data->is_number_integer()) return data->get<std::int64_t>() == 1;
  if (data->is_string()) {
    auto text = data->get<std::string>();
    if (text == "1") return true;
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text == "true";
  }
  return false;
}

std::optional<DataChannelMessage> parseDataChannelMessage(std::string_view text) {
  const auto parsed = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (!parsed.is_object()) return std::nullopt;
  const auto type = parsed.find("type");
  if (type == parsed.end() || !type->is_string()) return std::nullopt;
  const auto data = parsed.find("data");
  return DataChannelMessage{trimmedType(type->get<std::string>()),
                            parseDataChannelFlag(data == parsed.end() ? nullptr : &*data)};
}

void NativeCallManager::peerConnectionDidReceiveDataChannelMessage(const std::string& text) {
  // Every effect is its own main-queue step, in the order below, and each
  // finds the manager gone or not on its own.
  const auto onMain = [this](std::function<void(NativeCallManager&)> step) {
    platform::mainQueue().post([weak = weak_from_this(), step = std::move(step)] {
      if (auto self = weak.lock()) step(*self);
    });
  };
  if (text == dataChannelText::kEndCall) {
    log("[NativeCallMgr] DataChannel endCall received — remote ended connected call");
    // Forced: an open reconnect window must not hold the peer's hang-up back.
    onMain([](NativeCallManager& self) { self.handleRemoteEnd(/*force=*/true); });
    return;
  }
  // The peer connection has logged the raw text; what is not ours is
  // dropped without another line.
  const auto message = parseDataChannelMessage(text);
  if (!message) return;
  const bool flag = message->flag;
  const std::string& type = message->type;
  if (type == dataChannelText::kAudioToggled) {
    log(std::string("[NativeCallMgr] DataChannel AudioToggled — remoteMuted=") + boolText(!flag));
    onMain([flag](NativeCallManager& self) { self.applyRemoteMuted(!flag); });
  } else if (type == dataChannelText::kVideoToggled) {
    log(std::string("[NativeCallMgr] DataChannel VideoToggled — remoteVideoOff=") + boolText(!flag));
    onMain([flag](NativeCallManager& self) { self.c_.windows.setRemoteVideoOff(!flag); });
  } else if (type == dataChannelText::kScreenShareToggled) {
    log(std::string("[NativeCallMgr] DataChannel ScreenShareToggled — remoteSharing=") + boolText(flag));
    onMain([flag](NativeCallManager& self) { self.c_.windows.setRemoteScreenSharing(flag); });
    if (flag) onMain([](NativeCallManager& self) { self.resolveScreenShareConflict(); });
  } else if (type == dataChannelText::kCallLimitExempt) {
    log("[CallLimit] peer says it has special calling access — no limits for this call");
    onMain([flag](NativeCallManager& self) { self.applyPeerCallLimitExempt(flag); });
  } else if (type == dataChannelText::kCallExtended) {
    // The flag is not consulted, and the extension is not echoed back.
    log("[CallLimit] peer tapped Extend — extending here too");
    onMain([](NativeCallManager& self) { self.extendCall(/*sendToPeer=*/false); });
  }
  // Other types are a newer peer's: ignored without a line.
}

void NativeCallManager::peerConnectionDidOpenRemoteDataChannel() {
  const auto& session = state_.call.currentSession;
  if (!session || session->direction != CallDirection::incoming || !peerConn_) return;
  log("[NativeCallMgr] Remote data channel opened — sending 'accepted' to caller");
  peerConn_->sendDataChannelMessage(dataChannelText::kAccepted);
}

void NativeCallManager::applyRemoteMuted(bool muted) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  c_.windows.setRemoteMuted(muted);
}

void NativeCallManager::resolveScreenShareConflict() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto& call = state_.call;
  if (!call.isScreenSharing) return;
  const auto& startedAt = state_.kept.screenShareStartedAt;
  const bool sameMoment =
      startedAt && std::chrono::duration<double>(clock().now() - *startedAt).count() < kScreenShareConflictSeconds;
  const bool isCaller = call.currentSession && call.currentSession->direction == CallDirection::outgoing;
  if (sameMoment && isCaller) {
    log("[NativeCallMgr] peer started sharing at the same time — we're the caller, keeping ours");
    return;
  }
  log("[NativeCallMgr] peer started screen sharing — stopping ours, camera back on");
  // Only a camera that was on before the share comes back: one the user had
  // turned off stays off.
  const bool cameraWasOn = !call.cameraOffBeforeShare;
  stopScreenShare();
  if (call.localCameraOff && cameraWasOn) setCameraOff(false);
}

void NativeCallManager::applyPeerCallLimitExempt(bool exempt) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  // A false flag never clears it; the next call starts without it.
  if (!exempt || state_.call.peerCallLimitExempt) return;
  state_.call.peerCallLimitExempt = true;
  hideCallLimitBanner();
}

void NativeCallManager::attachRemoteTrack(const RemoteMediaTrack& track) {
  log("[NativeCallMgr] Remote track: kind=" + track.kind + " id=" + track.trackId);
  // Audio plays through the call's audio device by itself.
  if (track.kind != "video") return;
  log("[NativeCallMgr] Remote video track — attaching to VideoCallView");
  platform::mainQueue().post([weak = weak_from_this(), video = track.video] {
    if (auto self = weak.lock()) self->c_.windows.showRemoteVideo(video);
  });
}

void NativeCallManager::teardownMediaIfSameGeneration(std::int64_t generation) {
  if (state_.kept.callGeneration != generation) return;
  if (peerConn_) peerConn_->close();
  c_.capture.stopCapture();
}

void NativeCallManager::cleanupIfSameGeneration(std::int64_t generation) {
  if (state_.kept.callGeneration != generation) return;
  cleanup();
}

}  // namespace orvik
