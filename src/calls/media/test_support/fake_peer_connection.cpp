#include "calls/media/test_support/fake_peer_connection.h"

#include <functional>
#include <sstream>
#include <utility>

#include "calls/media/call_peer_connection_internal.h"
#include "calls/media/peer_connection_events.h"
#include "calls/media/sdp_tuning.h"
#include "platform/dispatch/task_queue.h"

namespace orvik::testing {
namespace {

// WebRTC's error types for a description that cannot be read and for a step
// in the wrong signalling state.
constexpr int kInvalidParameter = 3;
constexpr int kInvalidState = 6;

const char* stateName(FakePeerConnection::SignalingState state) {
  switch (state) {
    case FakePeerConnection::SignalingState::stable: return "stable";
    case FakePeerConnection::SignalingState::haveLocalOffer: return "have-local-offer";
    case FakePeerConnection::SignalingState::haveRemoteOffer: return "have-remote-offer";
  }
  return "?";
}

// The value after `key` on the line that starts with it, or nothing.
std::optional<std::string> attribute(const std::string& sdp, const std::string& key) {
  std::istringstream lines(sdp);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.starts_with(key)) return line.substr(key.size());
  }
  return std::nullopt;
}

// The word after `key` in a candidate line, or "".
std::string candidateField(const std::string& line, const std::string& key) {
  std::istringstream words(line);
  for (std::string word; words >> word;) {
    if (word == key) {
      std::string value;
      words >> value;
      return value;
    }
  }
  return {};
}

}  // namespace

std::shared_ptr<FakePeerConnection> FakePeerNetwork::makePeer(const std::string& name) {
  auto peer = std::make_shared<FakePeerConnection>(*this, name);
  peers_[name] = peer;
  return peer;
}

std::shared_ptr<FakePeerConnection> FakePeerNetwork::find(const std::string& name) const {
  const auto it = peers_.find(name);
  return it == peers_.end() ? nullptr : it->second.lock();
}

void FakePeerNetwork::cut() {
  cut_ = true;
  for (const auto& [name, weak] : peers_) {
    if (auto peer = weak.lock()) peer->pathLost();
  }
}

void FakePeerNetwork::restore() {
  cut_ = false;
  for (const auto& [name, weak] : peers_) {
    if (auto peer = weak.lock()) peer->tryConnect();
  }
}

FakePeerConnection::FakePeerConnection(FakePeerNetwork& network, std::string name)
    : network_(network), name_(std::move(name)) {}

void FakePeerConnection::later(std::function<void()> work, double delay) {
  auto task = [weak = weak_from_this(), generation = generation_, work = std::move(work)] {
    auto self = weak.lock();
    if (self && self->generation_ == generation) work();
  };
  if (delay > 0) {
    platform::mainQueue().postAfter(delay, std::move(task));
  } else {
    platform::mainQueue().post(std::move(task));
  }
}

void FakePeerConnection::tell(std::function<void(CallPeerConnectionDelegate&)> event, double delay) {
  later(
      [this, event = std::move(event)] {
        if (auto delegate = delegate_.lock()) event(*delegate);
      },
      delay);
}

void FakePeerConnection::fail(int code, const std::string& description) {
  tell([error = PeerConnectionError{"RTCError", code, description}](CallPeerConnectionDelegate& d) {
    d.peerConnectionDidFail(error);
  });
}

void FakePeerConnection::setDelegate(std::weak_ptr<CallPeerConnectionDelegate> delegate) {
  delegate_ = std::move(delegate);
}

void FakePeerConnection::build(const PeerConnectionSetup& setup, std::function<void(BuildResult)> completion) {
  commands.push_back("build");
  BuildResult result = BuildResult::refusedOpenConnection;
  if (!built_) {
    ++generation_;
    built_ = true;
    setup_ = setup;
    signaling_ = SignalingState::stable;
    localUfrag_.clear();
    stableLocalUfrag_.clear();
    remote_.reset();
    remoteCandidateSeen_ = needsRestart_ = videoAdded_ = false;
    connecting_ = connected_ = false;
    hasChannel_ = setup.isCaller;
    senderTrack = setup.isVideo ? std::make_shared<VideoTrackRef>() : nullptr;
    channelOpen_ = remoteChannelReported_ = false;
    // Fresh tracks are enabled.
    localAudioEnabled = localVideoEnabled = remoteAudioEnabled = true;
    asideCameraEnabled.reset();
    result = BuildResult::built;
  }
  if (completion) platform::mainQueue().post([completion, result] { completion(result); });
}

void FakePeerConnection::close() {
  commands.push_back("close");
  if (!built_) return;
  // The other side notices only when its checks go unanswered.
  if (auto peer = remote_ ? network_.find(remote_->peer) : nullptr; peer && (connected_ || connecting_)) {
    if (peer->remote_ && peer->remote_->peer == name_) peer->pathLost();
  }
  ++generation_;
  built_ = false;
  setup_.reset();
  signaling_ = SignalingState::stable;
  remote_.reset();
  connecting_ = connected_ = false;
  hasChannel_ = channelOpen_ = false;
  pendingTexts_.clear();
}

std::string FakePeerConnection::writeDescription(bool offer) {
  const bool video = (setup_ && setup_->isVideo) || videoAdded_ || (!offer && remote_ && remote_->video);
  const bool channel = hasChannel_ || (!offer && remote_ && remote_->channel);
  std::string sdp = "v=0\r\no=- " + std::to_string(std::hash<std::string>{}(name_) % 1000000) + " " +
                    std::to_string(ufragCounter_) + " IN IP4 127.0.0.1\r\ns=-\r\nt=0 0\r\n";
  sdp += "a=x-fake-peer:" + name_ + "\r\n";
  sdp += "m=audio 9 UDP/TLS/RTP/SAVPF 111\r\nc=IN IP4 0.0.0.0\r\n";
  sdp += "a=ice-ufrag:" + localUfrag_ + "\r\na=ice-pwd:" + localUfrag_ + "-password-of-24\r\n";
  sdp += std::string("a=setup:") + (offer ? "actpass" : "active") + "\r\na=mid:0\r\na=sendrecv\r\n";
  sdp += "a=rtpmap:111 opus/48000/2\r\na=fmtp:111 minptime=10;useinbandfec=1\r\n";
  if (video) sdp += "m=video 9 UDP/TLS/RTP/SAVPF 96\r\na=mid:1\r\na=sendrecv\r\na=rtpmap:96 VP8/90000\r\n";
  if (channel) sdp += "m=application 9 UDP/DTLS/SCTP webrtc-datachannel\r\na=mid:2\r\na=sctp-port:5000\r\n";
  // Local descriptions are tuned for Opus before they are set, as the
  // engine's are.
  return tuneOpus(sdp);
}

std::optional<FakePeerConnection::Description> FakePeerConnection::readDescription(const std::string& sdp) const {
  auto peer = attribute(sdp, "a=x-fake-peer:");
  auto ufrag = attribute(sdp, "a=ice-ufrag:");
  if (!peer || !ufrag || peer->empty() || ufrag->empty()) return std::nullopt;
  return Description{*peer, *ufrag, sdp.find("\nm=video ") != std::string::npos,
                     sdp.find("\nm=application ") != std::string::npos};
}

std::optional<std::string> FakePeerConnection::setLocalDescription(bool offer, bool restart) {
  if (offer && signaling_ == SignalingState::stable) stableLocalUfrag_ = localUfrag_;
  if (localUfrag_.empty() || restart) {
    localUfrag_ = name_ + "u" + std::to_string(++ufragCounter_);
    needsRestart_ = false;
  }
  const std::string sdp = writeDescription(offer);
  signaling_ = offer ? SignalingState::haveLocalOffer : SignalingState::stable;
  // One relay candidate per gathering, of this description's generation.
  const int number = ++candidateCounter_;
  const std::string candidate = "candidate:" + std::to_string(number) + " 1 udp 41885439 10.66.0." +
                                std::to_string(std::hash<std::string>{}(name_) % 200 + 1) + " " +
                                std::to_string(50000 + number) +
                                " typ relay raddr 0.0.0.0 rport 0 generation 0 ufrag " + localUfrag_ + " network-id 1";
  tell([candidate](CallPeerConnectionDelegate& d) { d.peerConnectionDidGenerateCandidate({"0", 0, candidate}); },
       network_.gatherDelay);
  tryConnect();
  return describeSessionDescription(offer, sdp);
}

std::optional<std::string> FakePeerConnection::applyRemote(const SDPPayload& payload, bool offer) {
  const auto description = readDescription(payload.sdp);
  if (!description) return "SDP parse error: not a description of a fake peer";
  if (offer && signaling_ != SignalingState::stable) {
    return "Failed to set remote offer sdp: Called in wrong state: " + std::string(stateName(signaling_));
  }
  if (!offer && signaling_ != SignalingState::haveLocalOffer) {
    return "Failed to set remote answer sdp: Called in wrong state: " + std::string(stateName(signaling_));
  }
  if (!remote_ || remote_->ufrag != description->ufrag) remoteCandidateSeen_ = false;
  const bool first = !remote_;
  remote_ = *description;
  signaling_ = offer ? SignalingState::haveRemoteOffer : SignalingState::stable;
  if (first) {
    tell([](CallPeerConnectionDelegate& d) { d.attachRemoteTrack({"audio", "audio0", true, nullptr}); });
    if (description->video) {
      tell([](CallPeerConnectionDelegate& d) { d.attachRemoteTrack({"video", "video0", true, nullptr}); });
    }
  }
  tryConnect();
  return std::nullopt;
}

void FakePeerConnection::createOffer() {
  commands.push_back("createOffer");
  later([this] {
    if (!built_) return;
    if (signaling_ == SignalingState::haveRemoteOffer) {
      return fail(kInvalidState, "CreateOffer called in wrong state: have-remote-offer");
    }
    tell([json = setLocalDescription(true, false)](CallPeerConnectionDelegate& d) { d.peerConnectionDidCreateOffer(json); });
  }, network_.offerDelay);
}

void FakePeerConnection::createAnswer() {
  commands.push_back("createAnswer");
  later([this] {
    if (!built_) return;
    if (signaling_ != SignalingState::haveRemoteOffer) {
      return fail(kInvalidState, "CreateAnswer called in wrong state: " + std::string(stateName(signaling_)));
    }
    tell(
        [json = setLocalDescription(false, false)](CallPeerConnectionDelegate& d) { d.peerConnectionDidCreateAnswer(json); });
  });
}

void FakePeerConnection::setRemoteDescription(const SDPPayload& payload, std::function<void()> completion) {
  commands.push_back("setRemoteDescription");
  later([this, payload, completion = std::move(completion)] {
    if (!built_) return;
    if (auto error = applyRemote(payload, payload.type == "offer")) {
      return fail(error->starts_with("SDP parse error") ? kInvalidParameter : kInvalidState, *error);
    }
    if (completion) later(completion);
  });
}

void FakePeerConnection::addICECandidate(const std::string& candidate, const std::optional<std::string>&, std::int32_t) {
  commands.push_back("addICECandidate");
  later([this, candidate] {
    // Without a remote description, or of an earlier generation: refused,
    // and only logged, as the engine does.
    if (!built_ || !remote_ || candidateField(candidate, "ufrag") != remote_->ufrag) return;
    remoteCandidateSeen_ = true;
    tryConnect();
  });
}

void FakePeerConnection::addLocalVideoTrack(std::function<void(VideoTrackHandle, VideoSourceHandle)> completion) {
  commands.push_back("addLocalVideoTrack");
  if (!built_) return platform::mainQueue().post([completion] { completion(nullptr, nullptr); });
  videoAdded_ = true;
  if (!senderTrack) senderTrack = std::make_shared<VideoTrackRef>();
  platform::mainQueue().post([completion, track = senderTrack] {
    completion(track, std::make_shared<VideoSourceRef>());
  });
}

void FakePeerConnection::replaceLocalVideoTrack(VideoTrackHandle track, std::function<void()> completion) {
  commands.push_back("replaceLocalVideoTrack");
  if (built_ && ((setup_ && setup_->isVideo) || videoAdded_)) senderTrack = std::move(track);
  if (completion) platform::mainQueue().post(completion);
}

void FakePeerConnection::makeVideoTrack(
    const std::string& trackId,
    std::function<void(VideoTrackHandle, VideoSourceHandle, VideoTrackHandle)> completion) {
  commands.push_back("makeVideoTrack " + trackId);
  if (!built_) return platform::mainQueue().post([completion] { completion(nullptr, nullptr, nullptr); });
  auto track = std::make_shared<VideoTrackRef>();
  madeTrackIds[track.get()] = trackId;
  later([completion, track, current = senderTrack] { completion(track, std::make_shared<VideoSourceRef>(), current); });
}

void FakePeerConnection::cancelVideoUpgrade(std::function<void()> completion) {
  commands.push_back("cancelVideoUpgrade");
  if (signaling_ == SignalingState::haveLocalOffer) {
    signaling_ = SignalingState::stable;
    localUfrag_ = stableLocalUfrag_;
  }
  if (videoAdded_ && !(setup_ && setup_->isVideo)) {
    videoAdded_ = false;
    senderTrack = nullptr;
  }
  if (completion) platform::mainQueue().post(completion);
}

void FakePeerConnection::createIceRestartOffer(DescriptionCompletion completion) {
  commands.push_back("createIceRestartOffer");
  later([this, completion] {
    if (!built_ || (signaling_ != SignalingState::stable && signaling_ != SignalingState::haveLocalOffer)) {
      return platform::mainQueue().post([completion] { completion(std::nullopt); });
    }
    later([completion, json = setLocalDescription(true, true)] { completion(json); });
  });
}

void FakePeerConnection::answerIceRestartOffer(const SDPPayload& offer, std::function<void()> onRemoteApplied,
                                               DescriptionCompletion completion) {
  commands.push_back("answerIceRestartOffer");
  later([this, offer, onRemoteApplied = std::move(onRemoteApplied), completion] {
    auto nothing = [completion] { platform::mainQueue().post([completion] { completion(std::nullopt); }); };
    if (!built_) return nothing();
    if (signaling_ == SignalingState::haveLocalOffer) {
      // The peer's offer wins: ours is rolled back.
      signaling_ = SignalingState::stable;
      localUfrag_ = stableLocalUfrag_;
    }
    if (signaling_ != SignalingState::stable || applyRemote(offer, true)) return nothing();
    if (onRemoteApplied) later(onRemoteApplied);
    later([completion, json = setLocalDescription(false, true)] { completion(json); });
  });
}

void FakePeerConnection::applyIceRestartAnswer(const SDPPayload& answer, std::function<void(bool)> completion) {
  commands.push_back("applyIceRestartAnswer");
  later([this, answer, completion] {
    if (!built_ || signaling_ != SignalingState::haveLocalOffer) {
      return platform::mainQueue().post([completion] { completion(false); });
    }
    later([completion, applied = !applyRemote(answer, false)] { completion(applied); });
  });
}

void FakePeerConnection::sendDataChannelMessage(const std::string& text) {
  commands.push_back("sendDataChannelMessage");
  if (!isValidUtf8(text)) return;
  // Queued at once, as the engine queues it ahead of a build that follows.
  pendingTexts_.push_back(text);
  later([this] { flushChannel(); });
}

void FakePeerConnection::setLocalAudioEnabled(bool enabled) {
  commands.push_back(std::string("setLocalAudioEnabled ") + (enabled ? "true" : "false"));
  localAudioEnabled = enabled;
}

void FakePeerConnection::setLocalVideoEnabled(bool enabled, VideoTrackHandle cameraTrack) {
  commands.push_back(std::string("setLocalVideoEnabled ") + (enabled ? "true" : "false") +
                     (cameraTrack ? " +camera" : ""));
  localVideoEnabled = enabled;
  if (cameraTrack) asideCameraEnabled = enabled;
}

void FakePeerConnection::setRemoteAudioEnabled(bool enabled) {
  commands.push_back(std::string("setRemoteAudioEnabled ") + (enabled ? "true" : "false"));
  remoteAudioEnabled = enabled;
}

void FakePeerConnection::checkStillConnecting() { commands.push_back("checkStillConnecting"); }
void FakePeerConnection::logDiagnostics() { commands.push_back("logDiagnostics"); }

IceConnectionState FakePeerConnection::lastIceState() const {
  if (connected_) return IceConnectionState::connected;
  return built_ ? IceConnectionState::checking : IceConnectionState::newState;
}

bool FakePeerConnection::isReadyFor(const FakePeerConnection& peer) const {
  return built_ && signaling_ == SignalingState::stable && !localUfrag_.empty() && !needsRestart_ && remote_ &&
         remote_->peer == peer.name_ && remote_->ufrag == peer.localUfrag_ && remoteCandidateSeen_;
}

void FakePeerConnection::tryConnect() {
  if (!built_ || connected_ || connecting_ || network_.isCut() || !remote_) return;
  auto peer = network_.find(remote_->peer);
  if (!peer || peer->connected_ || peer->connecting_ || !isReadyFor(*peer) || !peer->isReadyFor(*this)) return;
  for (FakePeerConnection* side : {this, peer.get()}) {
    side->connecting_ = true;
    side->tell([](CallPeerConnectionDelegate& d) { d.peerConnectionDidChangeIceState(PeerConnectionState::connecting); });
    side->later([side] { side->becomeConnected(); }, network_.connectDelay);
  }
}

void FakePeerConnection::becomeConnected() {
  if (!connecting_) return;
  connecting_ = false;
  ++losses_;
  connected_ = true;
  tell([](CallPeerConnectionDelegate& d) { d.peerConnectionDidChangeIceState(PeerConnectionState::connected); });
  if (!hasChannel_ && remote_ && remote_->channel) {
    // The callee adopts the caller's channel once the path is up.
    hasChannel_ = true;
    tell([](CallPeerConnectionDelegate& d) { d.peerConnectionDidOpenRemoteDataChannel(); });
  }
  if (hasChannel_) channelOpen_ = true;
  flushChannel();
}

void FakePeerConnection::pathLost() {
  if (!connected_ && !connecting_) return;
  connected_ = connecting_ = false;
  needsRestart_ = true;
  // Each report holds only while this loss lasts: a path found again in
  // the meantime is not reported lost afterwards.
  const std::uint64_t loss = ++losses_;
  auto reportIfStillLost = [this, loss](PeerConnectionState state) {
    later(
        [this, loss, state] {
          if (losses_ != loss || connected_) return;
          if (auto delegate = delegate_.lock()) delegate->peerConnectionDidChangeIceState(state);
        },
        state == PeerConnectionState::disconnected ? network_.disconnectDelay
                                                   : network_.disconnectDelay + network_.failDelay);
  };
  reportIfStillLost(PeerConnectionState::disconnected);
  reportIfStillLost(PeerConnectionState::failed);
}

void FakePeerConnection::flushChannel() {
  if (!channelOpen_ || !connected_ || !remote_) return;
  auto peer = network_.find(remote_->peer);
  if (!peer) return;
  for (const auto& text : std::exchange(pendingTexts_, {})) {
    sentTexts.push_back(text);
    peer->deliver(text);
  }
}

void FakePeerConnection::deliver(const std::string& text) {
  tell([text](CallPeerConnectionDelegate& d) { d.peerConnectionDidReceiveDataChannelMessage(text); });
}

}  // namespace orvik::testing
