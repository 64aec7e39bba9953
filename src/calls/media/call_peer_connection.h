// The WebRTC side of one call at a time: the factory, the peer connection,
// the local tracks, the caller's "control" data channel and the ICE
// bookkeeping behind the diagnostics. The call manager keeps one for the life
// of the process and builds a fresh WebRTC connection in it for every call.
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

#include "calls/signaling/call_model.h"
#include "platform/dispatch/serial_queue.h"

namespace webrtc {
class PeerConnectionInterface;
class PeerConnectionFactoryInterface;
}

namespace orvik {

class CallPeerConnection;
webrtc::PeerConnectionInterface* webrtcConnection(CallPeerConnection& connection);
webrtc::PeerConnectionFactoryInterface* webrtcFactory(CallPeerConnection& connection);

// WebRTC's ICE connection states, in its order.
enum class IceConnectionState { newState, checking, connected, completed, failed, disconnected, closed };
// WebRTC's peer connection (ICE and DTLS) states, in its order: what the
// call manager hears.
enum class PeerConnectionState { newState, connecting, connected, disconnected, failed, closed };

// A WebRTC video track or video source, opaque outside the media engine
// (call_peer_connection_internal.h opens them). Drop them before the
// CallPeerConnection that gave them out.
struct VideoTrackRef;
struct VideoSourceRef;
using VideoTrackHandle = std::shared_ptr<VideoTrackRef>;
using VideoSourceHandle = std::shared_ptr<VideoSourceRef>;

struct RemoteMediaTrack {
  std::string kind;  // "audio" or "video"
  std::string trackId;
  bool enabled = true;
  VideoTrackHandle video;  // set for a video track
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
  // WebRTC refused to create the connection; the delegate was told.
  failed,
};

class CallPeerConnection : public std::enable_shared_from_this<CallPeerConnection> {
 public:
  // Test-only knobs (loopback networks, all candidate types, a test audio
  // device); defined in call_peer_connection_internal.h.
  struct TestHooks;

  static std::shared_ptr<CallPeerConnection> create(std::shared_ptr<TestHooks> hooks = nullptr);
  ~CallPeerConnection();
  CallPeerConnection(const CallPeerConnection&) = delete;
  CallPeerConnection& operator=(const CallPeerConnection&) = delete;

  void setDelegate(std::weak_ptr<CallPeerConnectionDelegate> delegate);
  platform::SerialQueue& peerQueue();

  // Peer queue. Builds the connection of a call: factory, configuration,
  // local tracks, and the data channel when `isCaller`. `serverPolicy` is the
  // policy text the signalling server sent; it is only logged.
  BuildResult buildPeerConnection(const std::vector<ICEServer>& iceServers, const std::string& serverPolicy, bool isVideo,
                                  bool isCaller);
  // Schedules the teardown of the current connection on the peer queue and
  // returns at once. Events of the closed connection no longer reach the
  // delegate: our own close is not a failure of the call.
  void close();

  // Negotiation. Results come through the delegate (offer, answer, failure).
  void createOffer();
  void createAnswer();
  // A payload whose type is not "offer" is applied as an answer. `completion`
  // runs on the main queue once it is applied; failures go to the delegate.
  void setRemoteDescription(const SDPPayload& payload, std::function<void()> completion);
  // The outcome is only logged.
  void addICECandidate(const std::string& candidate, const std::optional<std::string>& sdpMid,
                       std::int32_t sdpMLineIndex);
  // Adds the camera track for a mid-call upgrade (or hands back the one the
  // call has); both handles empty when there is no connection. Main queue.
  void addLocalVideoTrack(std::function<void(VideoTrackHandle track, VideoSourceHandle source)> completion);
  // Puts `track` (camera, screen, or none) on the video sender without
  // renegotiating. The completion runs on the main queue, sender or not.
  void replaceLocalVideoTrack(VideoTrackHandle track, std::function<void()> completion = {});

  // ICE restart on the same connection. Completions run on the main queue.
  // A relay-only attempt that got no relay candidate on a machine with
  // routable IPv4 switches the connection to the no-host policy first.
  void createIceRestartOffer(DescriptionCompletion completion);
  // Rolls back a pending offer of our own (the peer's wins), applies the
  // peer's restart offer, calls `onRemoteApplied`, then answers.
  void answerIceRestartOffer(const SDPPayload& offer, std::function<void()> onRemoteApplied,
                             DescriptionCompletion completion);
  // True when the answer to our pending restart offer was applied.
  void applyIceRestartAnswer(const SDPPayload& answer, std::function<void(bool applied)> completion);

  // Texts on the "control" channel: sent at once when it is open and nothing
  // waits, otherwise queued and flushed in order when it opens.
  void sendDataChannelMessage(const std::string& text);

  // Peer queue. Caps the senders: audio protected, video yields.
  void applySenderCaps(const std::string& reason);
  void scheduleSenderCaps(const std::string& reason);

  // Asks WebRTC for statistics and writes the stats line (and, for "failed"
  // and "still not connected", the diagnosis) to the ICE timeline. Peer queue.
  void requestIceStats(const std::string& label);
  // Schedules the "still not connected" line and statistics on the peer queue.
  void checkStillConnecting();
  // Schedules the one-line state snapshot on the peer queue.
  void logDiagnostics();

  // "[ICE] <role> +<seconds>s · <text>"; any thread.
  void iceTimeline(const std::string& text) const;
  void recordCandidateType(const std::string& candidateLine, bool isRemote);
  std::string candidateTypeSummary() const;

  IceConnectionState lastIceState() const;
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
  explicit CallPeerConnection(std::shared_ptr<TestHooks> hooks);
  void createLocalDescription(bool offer);
  std::unique_ptr<Impl> impl_;
};

}  // namespace orvik
