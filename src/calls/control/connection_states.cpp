// Connection-state handling: the one place where the call learns that media
// can flow (the first connect makes the call connected), that a connected
// call dropped (the 45 s reconnect window opens) or that a connection
// failed. When the server already reported the other side's call as
// finished, a drop within 60 s ends the call at once.
#include <cstdio>

#include "calls/control/call_frame_routing.h"
#include "calls/control/native_call_manager.h"
#include "core/native_logger.h"
#include "platform/queue_checker.h"

namespace orvik {

std::string callStateName(const CallState& state);

namespace {

const char* peerStateName(PeerConnectionState state) {
  switch (state) {
    case PeerConnectionState::newState: return "new";
    case PeerConnectionState::connecting: return "connecting";
    case PeerConnectionState::connected: return "connected";
    case PeerConnectionState::disconnected: return "disconnected";
    case PeerConnectionState::failed: return "failed";
    case PeerConnectionState::closed: return "closed";
  }
  return "?";
}

}  // namespace

void NativeCallManager::peerConnectionDidChangeIceState(PeerConnectionState state) {
  if (!platform::mainQueue().isCurrent()) {
    platform::mainQueue().post([weak = weak_from_this(), state] {
      if (auto self = weak.lock()) self->peerConnectionDidChangeIceState(state);
    });
    return;
  }
  auto& call = state_.call;
  if (!call.callState.isInCall()) {
    log(std::string("[NativeCallMgr] ICE state ") + peerStateName(state) + " ignored — call already ending (" +
        callStateName(call.callState) + ")");
    return;
  }
  const auto session = call.currentSession;
  const bool wasConnected = session && session->connectedAt;
  const bool serverFinishedRecently =
      call.serverCallFinishedAt &&
      std::chrono::duration<double>(clock().now() - *call.serverCallFinishedAt).count() <
          kServerFinishedRecentlySeconds;
  const std::string reconnectText = strings().string(CallStrings::kReconnecting, CallStrings::kReconnectingDefault);

  switch (state) {
    case PeerConnectionState::connected: {
      if (call.iceDisconnectTimer) call.iceDisconnectTimer->cancel();
      call.iceDisconnectTimer.reset();
      if (call.iceRestartCount > 0 || call.iceRestartRequestsSent > 0) {
        std::string attempt;
        if (call.iceAttemptStartedAt) {
          char text[48];
          std::snprintf(text, sizeof text, "(%.1fs into attempt)",
                        std::chrono::duration<double>(clock().now() - *call.iceAttemptStartedAt).count());
          attempt = text;
        }
        log("[ICERestart] ✅ connected after restart (restarts=" + std::to_string(call.iceRestartCount) +
            " requests=" + std::to_string(call.iceRestartRequestsSent) + ") " + attempt);
      }
      resetIceRestartState();
      const auto kind = call.callState.kind();
      if (kind == CallState::Kind::calling || kind == CallState::Kind::connecting) {
        timeline_.markConnected("✅ CONNECTED — audio/video can flow");
        if (session) session->connectedAt = clock().now();
        c_.tones.stopTone();
        updateState(CallState::Kind::connected);
        call.firedDailyVideoWarnings.clear();
        beginCallLimits();
        timers_.startDurationTimer();
        if (c_.startAudioAutoSwitching) c_.startAudioAutoSwitching();
      } else if (kind == CallState::Kind::connected) {
        log("[NativeCallMgr] ICE recovered — resuming timer");
        c_.tones.stopTone();
        if (timeline_.isRunning()) timeline_.step("✅ connection RECOVERED after a drop");
        timers_.resumeDurationTimer();
      }
      return;
    }
    case PeerConnectionState::failed:
      if (wasConnected) {
        if (serverFinishedRecently) return endAsOtherSideGone();
        beginReconnectWindow("ICE failed", reconnectText);
        handleIceFailure("ICE failed mid-call");
        return;
      }
      if (peerCanRestartIce()) {
        handleIceFailure("ICE failed before connect");
        return;
      }
      if (call.iceDisconnectTimer) call.iceDisconnectTimer->cancel();
      call.iceDisconnectTimer.reset();
      log("[NativeCallMgr] ICE failed before connect — ending call (peer can't ICE-restart)");
      timeline_.noteEndReason("ICE failed before connecting (other side can't ICE-restart) — see [ICE] WHY line");
      endCall();
      return;
    case PeerConnectionState::disconnected:
      if (wasConnected) {
        if (serverFinishedRecently) return endAsOtherSideGone();
        if (timeline_.isRunning()) {
          timeline_.step("⚠️ connection DROPPED mid-call — Reconnecting… (45s window)");
        }
        beginReconnectWindow("ICE disconnected", reconnectText);
        if (peerCanRestartIce()) armIceAttemptTimer("ICE disconnected mid-call", 6.0);
        return;
      }
      log("[NativeCallMgr] ICE disconnected before connect — ignoring (let ICE retry)");
      return;
    case PeerConnectionState::newState:
    case PeerConnectionState::connecting:
    case PeerConnectionState::closed:
      return;
  }
}

void NativeCallManager::beginReconnectWindow(const std::string& reason, const std::string& statusText) {
  auto& call = state_.call;
  if (call.iceDisconnectTimer) {
    publishCallDuration(statusText);
    log("[NativeCallMgr] " + reason + " — still reconnecting, deadline unchanged");
    return;
  }
  log("[NativeCallMgr] " + reason + " (was connected) — freezing timer, showing '" + statusText +
      "', 45s to recover");
  timers_.pauseDurationTimer();
  publishCallDuration(statusText);
  // Cancelled by a recovery, a certain remote end and cleanup(); it carries
  // the generation too, so a window of an earlier call can never end a new one.
  auto item = std::make_shared<platform::WorkItem>([weak = weak_from_this(), generation = state_.kept.callGeneration] {
    auto self = weak.lock();
    if (!self || self->state_.kept.callGeneration != generation) return;
    self->log("[NativeCallMgr] reconnect window elapsed without recovery — ending call");
    self->timeline_.noteEndReason("connection lost mid-call and did not recover in 45s");
    self->endCall();
  });
  call.iceDisconnectTimer = item;
  platform::mainQueue().postAfter(kReconnectWindowSeconds, item);
}

bool NativeCallManager::peerCanRestartIce() const {
  const auto& call = state_.call;
  if (!call.remoteUserNumber || call.remoteUserNumber->empty() || !call.remoteDeviceUdid ||
      call.remoteDeviceUdid->empty()) {
    return false;
  }
  return call.iceRestartCapablePeers.contains(signalingAddress(*call.remoteUserNumber, *call.remoteDeviceUdid));
}

}  // namespace orvik
