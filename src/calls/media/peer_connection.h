// The peer connection as the call manager sees it: the media negotiation and
// transport of one call at a time, behind an interface so that the call
// manager runs whole calls against FakePeerConnection on virtual time and
// against WebRTC in the program (CallPeerConnection). No WebRTC type crosses
// it, so the engine behind it could move into a child process.
//
// THREADING: every command is called on the main queue and returns at once,
// keeping the order of the commands. Every completion and every delegate
// event runs on the main queue in a later turn, never inside the command
// that caused it. Events and completions of a connection that is no longer
// the current one (closed, or replaced by the next call's build) are
// dropped, also when they were already on their way.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "calls/signaling/call_model.h"

namespace orvik {

// WebRTC's ICE connection states, in its order.
enum class IceConnectionState { newState, checking, connected, completed, failed, disconnected, closed };
// WebRTC's peer connection (ICE and DTLS) states, in its order: what the
// call manager hears.
enum class PeerConnectionState { newState, connecting, connected, disconnected, failed, closed };

// A video track or video source of the engine, opaque outside it. Drop them
// before the connection that gave them out.
struct VideoTrackRef;
struct VideoSourceRef;
using VideoTrackHandle = std::shared_ptr<VideoTrackRef>;
using VideoSourceHandle = std::shared_ptr<VideoSourceRef>;

struct RemoteMediaTrack {
  std::string kind;  // "audio" or "video"
  std::string trackId;
  bool enabled = true;
  VideoTrackHandle video;  // set for a video track (may be empty in a fake)
};

struct PeerConnectionError {
  std::string domain;
  int code = 0;
  std::string description;
};

struct LocalIceCandidate {
  std::string sdpMid;
  int sdpMLineIndex = 0;
  std::string candidate;
};

// Events of the current connection, delivered on the main queue.
class CallPeerConnectionDelegate {
 public:
  virtual ~CallPeerConnectionDelegate() = default;
  virtual void peerConnectionDidFail(const PeerConnectionError& error) = 0;
  virtual void peerConnectionDidGenerateCandidate(const LocalIceCandidate& candidate) = 0;
  // Folded ICE states (connected, disconnected, failed) and every connection
  // state unchanged; connected may come several times.
  virtual void peerConnectionDidChangeIceState(PeerConnectionState state) = 0;
  // The local offer or answer that was set, as {"type","sdp"} JSON text;
  // nothing when it could not be written.
  virtual void peerConnectionDidCreateOffer(const std::optional<std::string>& description) = 0;
  virtual void peerConnectionDidCreateAnswer(const std::optional<std::string>& description) = 0;
  // One text on the "control" channel; empty when the bytes were not UTF-8.
  virtual void peerConnectionDidReceiveDataChannelMessage(const std::string& text) = 0;
  // The callee adopted the caller's channel.
  virtual void peerConnectionDidOpenRemoteDataChannel() = 0;
  // Usually twice per track (receiver and transceiver events).
  virtual void attachRemoteTrack(const RemoteMediaTrack& track) = 0;
};

// A restart offer or answer as JSON text, or nothing when none was produced.
using DescriptionCompletion = std::function<void(const std::optional<std::string>& description)>;

enum class [[nodiscard]] BuildResult {
  built,
  // A connection of the current call is still open: building now would tear
  // a live call's media away (a credential refresh re-arms the ICE servers
  // mid-call), so the open connection is kept.
  refusedOpenConnection,
  // The engine refused to create the connection; the delegate was told.
  failed,
};

// What one call's connection is built from.
struct PeerConnectionSetup {
  std::vector<ICEServer> iceServers;
  // The policy text the signalling server sent; only logged.
  std::string serverPolicy;
  bool isVideo = false;
  // The caller sends the offer and makes the "control" channel.
  bool isCaller = false;
};

class PeerConnection {
 public:
  virtual ~PeerConnection() = default;

  virtual void setDelegate(std::weak_ptr<CallPeerConnectionDelegate> delegate) = 0;

  // Builds the connection of a call: configuration, local tracks, and the
  // data channel for the caller.
  virtual void build(const PeerConnectionSetup& setup, std::function<void(BuildResult)> completion) = 0;
  // Tears the current connection down. Its events no longer reach the
  // delegate: our own close is not a failure of the call.
  virtual void close() = 0;

  // Negotiation. Results come through the delegate (offer, answer, failure).
  virtual void createOffer() = 0;
  virtual void createAnswer() = 0;
  // A payload whose type is not "offer" is applied as an answer. `completion`
  // runs once it is applied; failures go to the delegate.
  virtual void setRemoteDescription(const SDPPayload& payload, std::function<void()> completion) = 0;
  // The outcome is only logged.
  virtual void addICECandidate(const std::string& candidate, const std::optional<std::string>& sdpMid,
                               std::int32_t sdpMLineIndex) = 0;
  // Adds the camera track for a mid-call upgrade (or hands back the one the
  // call has); both handles empty when there is no connection.
  virtual void addLocalVideoTrack(std::function<void(VideoTrackHandle track, VideoSourceHandle source)> completion) = 0;
  // Puts `track` (camera, screen, or none) on the video sender without
  // renegotiating. The completion runs sender or not.
  virtual void replaceLocalVideoTrack(VideoTrackHandle track, std::function<void()> completion = {}) = 0;

  // Screen share and video upgrade. -------------------------------------
  // Makes a source of ours and a video track with `trackId` on it from the
  // connection's factory (nothing is added to the connection), and hands
  // them back with the track now on the video sender (the camera track, or
  // none). All three empty when there is no connection.
  virtual void makeVideoTrack(const std::string& trackId,
                              std::function<void(VideoTrackHandle track, VideoSourceHandle source,
                                                 VideoTrackHandle senderTrack)>
                                  completion) = 0;
  // Undoes an unanswered video upgrade: rolls back our pending offer (when
  // one is pending) and removes the video sender addLocalVideoTrack added,
  // so the connection is stable again and later ICE restarts can offer. The
  // completion runs either way.
  virtual void cancelVideoUpgrade(std::function<void()> completion) = 0;
  // ---------------------------------------------------------------------

  // ICE restart on the same connection. A relay-only attempt that got no
  // relay candidate on a machine with routable IPv4 switches the connection
  // to the no-host policy first.
  virtual void createIceRestartOffer(DescriptionCompletion completion) = 0;
  // Rolls back a pending offer of our own (the peer's wins), applies the
  // peer's restart offer, calls `onRemoteApplied`, then answers.
  virtual void answerIceRestartOffer(const SDPPayload& offer, std::function<void()> onRemoteApplied,
                                     DescriptionCompletion completion) = 0;
  // True when the answer to our pending restart offer was applied.
  virtual void applyIceRestartAnswer(const SDPPayload& answer, std::function<void(bool applied)> completion) = 0;

  // Texts on the "control" channel: sent at once when it is open and nothing
  // waits, otherwise queued and flushed in order when it opens.
  virtual void sendDataChannelMessage(const std::string& text) = 0;

  // In-call controls: the enable flag of the local microphone track; of the
  // track on the video sender (the screen while a share runs) and, when
  // given, of `cameraTrack` (the camera kept aside during a share); and of
  // the remote audio track (the peer's voice silenced here only). A track
  // the connection does not have is skipped.
  virtual void setLocalAudioEnabled(bool enabled) = 0;
  virtual void setLocalVideoEnabled(bool enabled, VideoTrackHandle cameraTrack = nullptr) = 0;
  virtual void setRemoteAudioEnabled(bool enabled) = 0;

  // Diagnostics for the log: the "still not connected" line with statistics,
  // and a one-line state snapshot.
  virtual void checkStillConnecting() = 0;
  virtual void logDiagnostics() = 0;

  // The last ICE connection state WebRTC reported for the current
  // connection; connected and completed count as up. Any thread.
  virtual IceConnectionState lastIceState() const = 0;
};

}  // namespace orvik
