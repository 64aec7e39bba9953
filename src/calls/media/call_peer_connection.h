// The WebRTC side of one call at a time: the factory, the peer connection,
// the local tracks, the caller's "control" data channel and the ICE
// bookkeeping behind the diagnostics. The call manager keeps one for the life
// of the process and builds a fresh WebRTC connection in it for every call.
//
// THREADING: every operation on the connection runs on `peerQueue()` (the
// serial queue "orvik.call.peer"), so no two WebRTC calls of this object
// overlap. WebRTC calls back on its own signalling thread; those callbacks
// touch only the lock-guarded bookkeeping and hop to the main queue before
// they call the delegate, so the delegate always hears from the main queue.
// Destroy the object on the main queue; it closes the connection and stops
// its WebRTC threads first.
//
// This header is free of WebRTC types; WebRTC stays inside src/calls/media.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "calls/signaling/call_model.h"
#include "platform/dispatch/serial_queue.h"

namespace webrtc {
class PeerConnectionInterface;
}

namespace orvik {

class CallPeerConnection;
webrtc::PeerConnectionInterface* webrtcConnection(CallPeerConnection& connection);

// WebRTC's ICE connection states, in its order.
enum class IceConnectionState { newState, checking, connected, completed, failed, disconnected, closed };

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

// Events of the peer connection, delivered on the main queue.
class CallPeerConnectionDelegate {
 public:
  virtual ~CallPeerConnectionDelegate() = default;
  virtual void peerConnectionDidFail(const PeerConnectionError& error) = 0;
  virtual void peerConnectionDidGenerateCandidate(const LocalIceCandidate& candidate) = 0;
  virtual void peerConnectionDidChangeIceState(IceConnectionState state) = 0;
};

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
  // returns at once.
  void close();

  // Peer queue. Caps the senders: audio protected, video yields.
  void applySenderCaps(const std::string& reason);
  void scheduleSenderCaps(const std::string& reason);

  // Asks WebRTC for statistics and writes the stats line (and, for "failed"
  // and "still not connected", the diagnosis) to the ICE timeline. Peer queue
  // or WebRTC's signalling thread.
  void requestIceStats(const std::string& label);
  // Schedules the "still not connected" line and statistics on the peer queue.
  void checkStillConnecting();

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

  struct Impl;

 private:
  friend webrtc::PeerConnectionInterface* webrtcConnection(CallPeerConnection& connection);
  explicit CallPeerConnection(std::shared_ptr<TestHooks> hooks);
  std::unique_ptr<Impl> impl_;
};

}  // namespace orvik
