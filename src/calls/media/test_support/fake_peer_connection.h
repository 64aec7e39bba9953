// A PeerConnection for tests of the call manager, on virtual time and
// without a network. Peers made by one FakePeerNetwork negotiate with
// description and candidate texts shaped like the engine's (the local
// descriptions go through the same Opus tuning) and connect once each side
// holds the other's current description and at least one of its current
// candidates. Like CallPeerConnection it reports on the main queue, never
// inside the command that caused it, and drops what a closed or rebuilt
// connection would have said; it refuses a build over an open connection,
// fails a description that does not fit the signalling state or cannot be
// read, ignores candidates of an earlier ICE generation, rolls back its own
// pending offer when the peer's restart offer arrives, and queues control
// texts until the channel opens.
//
//   platform::VirtualQueue queue;  ScopedMainQueue main(queue);
//   FakePeerNetwork network;
//   auto alice = network.makePeer("alice"), bob = network.makePeer("bob");
//   ... exchange descriptions and candidates through signalling ...
//   queue.advance(1.0);             // both report connected
//   network.cut();                  // both report disconnected, then failed
//
// It carries no media: addLocalVideoTrack hands back empty handles, remote
// tracks come without a video handle.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "calls/media/peer_connection.h"

namespace orvik::testing {

class FakePeerConnection;

class FakePeerNetwork {
 public:
  // Virtual seconds: from a local description to its candidate, from both
  // sides being ready to both being connected, from a cut path (or a peer
  // gone) to disconnected, and from disconnected to failed.
  double gatherDelay = 0.05;
  double connectDelay = 0.2;
  double disconnectDelay = 2.0;
  double failDelay = 10.0;
  // Virtual seconds from createOffer to the offer (0: the next turn).
  double offerDelay = 0;

  std::shared_ptr<FakePeerConnection> makePeer(const std::string& name);

  // The path between the peers dies (a relay went away) or comes back. A
  // path that comes back needs an ICE restart to be used again, as a relay
  // that lost its allocations does.
  void cut();
  void restore();
  bool isCut() const { return cut_; }

 private:
  friend class FakePeerConnection;
  std::shared_ptr<FakePeerConnection> find(const std::string& name) const;

  std::map<std::string, std::weak_ptr<FakePeerConnection>> peers_;
  bool cut_ = false;
};

class FakePeerConnection final : public PeerConnection, public std::enable_shared_from_this<FakePeerConnection> {
 public:
  enum class SignalingState { stable, haveLocalOffer, haveRemoteOffer };

  FakePeerConnection(FakePeerNetwork& network, std::string name);

  void setDelegate(std::weak_ptr<CallPeerConnectionDelegate> delegate) override;
  void build(const PeerConnectionSetup& setup, std::function<void(BuildResult)> completion) override;
  void close() override;
  void createOffer() override;
  void createAnswer() override;
  void setRemoteDescription(const SDPPayload& payload, std::function<void()> completion) override;
  void addICECandidate(const std::string& candidate, const std::optional<std::string>& sdpMid,
                       std::int32_t sdpMLineIndex) override;
  void addLocalVideoTrack(std::function<void(VideoTrackHandle track, VideoSourceHandle source)> completion) override;
  void replaceLocalVideoTrack(VideoTrackHandle track, std::function<void()> completion = {}) override;
  void makeVideoTrack(const std::string& trackId,
                      std::function<void(VideoTrackHandle track, VideoSourceHandle source, VideoTrackHandle senderTrack)>
                          completion) override;
  void cancelVideoUpgrade(std::function<void()> completion) override;
  void createIceRestartOffer(DescriptionCompletion completion) override;
  void answerIceRestartOffer(const SDPPayload& offer, std::function<void()> onRemoteApplied,
                             DescriptionCompletion completion) override;
  void applyIceRestartAnswer(const SDPPayload& answer, std::function<void(bool applied)> completion) override;
  void sendDataChannelMessage(const std::string& text) override;
  void setLocalAudioEnabled(bool enabled) override;
  void setLocalVideoEnabled(bool enabled, VideoTrackHandle cameraTrack = nullptr) override;
  void setRemoteAudioEnabled(bool enabled) override;
  void checkStillConnecting() override;
  void logDiagnostics() override;
  // Connected while the fake path is up, else checking once built.
  IceConnectionState lastIceState() const override;

  // What a test may look at.
  const std::string& name() const { return name_; }
  bool isBuilt() const { return built_; }
  bool isConnected() const { return connected_; }
  SignalingState signalingState() const { return signaling_; }
  const std::optional<PeerConnectionSetup>& setup() const { return setup_; }
  // Every command by name, in the order given ("build", "createOffer", …).
  std::vector<std::string> commands;
  // The track on the video sender: a token handle made at a video build or
  // by addLocalVideoTrack, or whatever replaceLocalVideoTrack put there.
  VideoTrackHandle senderTrack;
  // Track ids made by makeVideoTrack, by handle.
  std::map<const VideoTrackRef*, std::string> madeTrackIds;
  // Control texts that went out on the open channel, in order.
  std::vector<std::string> sentTexts;
  // Track enable flags (no media here): the microphone, the track on the
  // video sender, the camera track handed in beside it, the remote audio.
  bool localAudioEnabled = true;
  bool localVideoEnabled = true;
  std::optional<bool> asideCameraEnabled;
  bool remoteAudioEnabled = true;

 private:
  friend class FakePeerNetwork;
  struct Description {
    std::string peer;
    std::string ufrag;
    bool video = false;
    bool channel = false;
  };

  // Runs `work` on the main queue in a later turn (after `delay` seconds)
  // while this connection is still the current one.
  void later(std::function<void()> work, double delay = 0);
  void tell(std::function<void(CallPeerConnectionDelegate&)> event, double delay = 0);
  void fail(int code, const std::string& description);

  std::string writeDescription(bool offer);
  std::optional<Description> readDescription(const std::string& sdp) const;
  // Sets a new local description (fresh credentials when `restart`) and
  // gathers its candidate; returns the description's JSON text.
  std::optional<std::string> setLocalDescription(bool offer, bool restart);
  // The error text, or nothing when the description was applied.
  std::optional<std::string> applyRemote(const SDPPayload& payload, bool offer);
  void tryConnect();
  bool isReadyFor(const FakePeerConnection& peer) const;
  void becomeConnected();
  void pathLost();
  void deliver(const std::string& text);
  void flushChannel();

  FakePeerNetwork& network_;
  const std::string name_;
  std::weak_ptr<CallPeerConnectionDelegate> delegate_;
  // Moves on at every build and every close.
  std::uint64_t generation_ = 0;
  std::optional<PeerConnectionSetup> setup_;
  bool built_ = false;
  SignalingState signaling_ = SignalingState::stable;
  std::uint64_t ufragCounter_ = 0;
  std::string localUfrag_;
  // The local ufrag before a pending offer of ours, for a rollback.
  std::string stableLocalUfrag_;
  std::optional<Description> remote_;
  bool remoteCandidateSeen_ = false;
  // The path was lost: only fresh credentials (an ICE restart) connect again.
  bool needsRestart_ = false;
  bool videoAdded_ = false;
  bool connecting_ = false;
  bool connected_ = false;
  // How many times the path was lost; a pending failure of an earlier loss
  // is dropped.
  std::uint64_t losses_ = 0;
  bool hasChannel_ = false;
  bool channelOpen_ = false;
  bool remoteChannelReported_ = false;
  std::vector<std::string> pendingTexts_;
  int candidateCounter_ = 0;
};

}  // namespace orvik::testing
