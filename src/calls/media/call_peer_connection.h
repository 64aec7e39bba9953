// The WebRTC side of one call at a time (the PeerConnection of the program):
// the factory, the peer connection, the local tracks, the caller's "control"
// data channel and the ICE bookkeeping behind the diagnostics. The call
// manager keeps one for the life of the process and builds a fresh WebRTC
// connection in it for every call.
//
// THREADING: every operation on the connection runs on `peerQueue()` (the
// serial queue "orvik.call.peer"), so no two WebRTC calls of this object
// overlap; the public operations return at once and keep their order. WebRTC
// calls back on its own signalling thread; those callbacks touch only the
// lock-guarded bookkeeping and hop to the main queue before they call the
// delegate or a completion, so the owner only ever hears from the main queue.
// Results of a connection that is no longer the current one (closed, or
// replaced by the next call's build) are dropped, also when they were
// already on their way. Let go of the object on the main queue, after
// dropping every track handle it gave out; it closes the connection and stops
// its WebRTC threads first. (When a callback on one of its own threads holds
// the last reference, the destruction moves to the main queue.)
//
// This header is free of WebRTC types; WebRTC stays inside src/calls/media.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "calls/media/peer_connection.h"
#include "calls/signaling/call_model.h"
#include "platform/dispatch/serial_queue.h"

namespace webrtc {
class PeerConnectionInterface;
class PeerConnectionFactoryInterface;
}

namespace orvik {

class CallAudioDevice;
class CallPeerConnection;
webrtc::PeerConnectionInterface* webrtcConnection(CallPeerConnection& connection);
webrtc::PeerConnectionFactoryInterface* webrtcFactory(CallPeerConnection& connection);

// What the engine takes from the program, handed in by whoever makes it.
struct CallPeerConnectionOptions {
  // Asked at each build: whether the call runs on our own audio device
  // (else on WebRTC's built-in one). Absent: the built-in one.
  std::function<bool()> customAudioDeviceEnabled;
  // Makes the call's own audio device; whoever routes audio learns of it
  // here. Required when customAudioDeviceEnabled can say yes.
  std::function<std::shared_ptr<CallAudioDevice>()> makeAudioDevice;
};

class CallPeerConnection final : public PeerConnection, public std::enable_shared_from_this<CallPeerConnection> {
 public:
  // Test-only knobs (loopback networks, all candidate types, a test audio
  // device); defined in call_peer_connection_internal.h.
  struct TestHooks;

  static std::shared_ptr<CallPeerConnection> create(CallPeerConnectionOptions options = {},
                                                    std::shared_ptr<TestHooks> hooks = nullptr);
  ~CallPeerConnection() override;
  CallPeerConnection(const CallPeerConnection&) = delete;
  CallPeerConnection& operator=(const CallPeerConnection&) = delete;

  void setDelegate(std::weak_ptr<CallPeerConnectionDelegate> delegate) override;
  platform::SerialQueue& peerQueue();

  // Main queue: buildPeerConnection on the peer queue, the result back here.
  void build(const PeerConnectionSetup& setup, std::function<void(BuildResult)> completion) override;

  // Peer queue. Builds the connection of a call: factory, configuration,
  // local tracks, and the data channel when `isCaller`. `serverPolicy` is the
  // policy text the signalling server sent; it is only logged.
  BuildResult buildPeerConnection(const std::vector<ICEServer>& iceServers, const std::string& serverPolicy, bool isVideo,
                                  bool isCaller);
  // Schedules the teardown of the current connection on the peer queue and
  // returns at once. Events of the closed connection no longer reach the
  // delegate: our own close is not a failure of the call.
  void close() override;

  // Negotiation. Results come through the delegate (offer, answer, failure).
  void createOffer() override;
  void createAnswer() override;
  // A payload whose type is not "offer" is applied as an answer. `completion`
  // runs on the main queue once it is applied; failures go to the delegate.
  void setRemoteDescription(const SDPPayload& payload, std::function<void()> completion) override;
  // The outcome is only logged.
  void addICECandidate(const std::string& candidate, const std::optional<std::string>& sdpMid,
                       std::int32_t sdpMLineIndex) override;
  // Adds the camera track for a mid-call upgrade (or hands back the one the
  // call has); both handles empty when there is no connection. Main queue.
  void addLocalVideoTrack(std::function<void(VideoTrackHandle track, VideoSourceHandle source)> completion) override;
  // Puts `track` (camera, screen, or none) on the video sender without
  // renegotiating. The completion runs on the main queue, sender or not.
  void replaceLocalVideoTrack(VideoTrackHandle track, std::function<void()> completion = {}) override;

  // Screen share and video upgrade; completions run on the main queue.
  void makeVideoTrack(const std::string& trackId,
                      std::function<void(VideoTrackHandle track, VideoSourceHandle source, VideoTrackHandle senderTrack)>
                          completion) override;
  void cancelVideoUpgrade(std::function<void()> completion) override;

  // ICE restart on the same connection. Completions run on the main queue.
  // A relay-only attempt that got no relay candidate on a machine with
  // routable IPv4 switches the connection to the no-host policy first.
  void createIceRestartOffer(DescriptionCompletion completion) override;
  // Rolls back a pending offer of our own (the peer's wins), applies the
  // peer's restart offer, calls `onRemoteApplied`, then answers.
  void answerIceRestartOffer(const SDPPayload& offer, std::function<void()> onRemoteApplied,
                             DescriptionCompletion completion) override;
  // True when the answer to our pending restart offer was applied.
  void applyIceRestartAnswer(const SDPPayload& answer, std::function<void(bool applied)> completion) override;

  // Texts on the "control" channel: sent at once when it is open and nothing
  // waits, otherwise queued and flushed in order when it opens.
  void sendDataChannelMessage(const std::string& text) override;

  // In-call controls: track enable flags, set on the peer queue after the
  // commands before them.
  void setLocalAudioEnabled(bool enabled) override;
  void setLocalVideoEnabled(bool enabled, VideoTrackHandle cameraTrack = nullptr) override;
  void setRemoteAudioEnabled(bool enabled) override;

  // Peer queue. Caps the senders: audio protected, video yields.
  void applySenderCaps(const std::string& reason);
  void scheduleSenderCaps(const std::string& reason);

  // Asks WebRTC for statistics and writes the stats line (and, for "failed"
  // and "still not connected", the diagnosis) to the ICE timeline. Peer queue.
  void requestIceStats(const std::string& label);
  // Schedules the "still not connected" line and statistics on the peer queue.
  void checkStillConnecting() override;
  // Schedules the one-line state snapshot on the peer queue.
  void logDiagnostics() override;

  // "[ICE] <role> +<seconds>s · <text>"; any thread.
  void iceTimeline(const std::string& text) const;
  IceConnectionState lastIceState() const override;
  std::vector<std::string> iceGatherErrors() const;

  // Peer queue: what the current build holds.
  bool hasPeerConnection() const;
  bool hasDataChannel() const;
  bool hasLocalAudioTrack() const;
  bool hasLocalVideoTrack() const;
  bool hasRemoteDescription() const;
  std::size_t pendingDataChannelMessageCount() const;

  struct Impl;

 private:
  friend webrtc::PeerConnectionInterface* webrtcConnection(CallPeerConnection& connection);
  friend webrtc::PeerConnectionFactoryInterface* webrtcFactory(CallPeerConnection& connection);
  CallPeerConnection(CallPeerConnectionOptions options, std::shared_ptr<TestHooks> hooks);
  void createLocalDescription(bool offer);
  std::unique_ptr<Impl> impl_;
};

}  // namespace orvik
