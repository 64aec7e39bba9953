#include "calls/media/call_peer_connection.h"

#include <api/audio_codecs/audio_decoder_factory_template.h>
#include <api/audio_codecs/audio_encoder_factory_template.h>
#include <api/audio_codecs/g711/audio_decoder_g711.h>
#include <api/audio_codecs/g711/audio_encoder_g711.h>
#include <api/audio_codecs/g722/audio_decoder_g722.h>
#include <api/audio_codecs/g722/audio_encoder_g722.h>
#include <api/audio_codecs/opus/audio_decoder_opus.h>
#include <api/audio_codecs/opus/audio_encoder_opus.h>
#include <api/create_peerconnection_factory.h>
#include <api/jsep.h>
#include <api/rtp_parameters.h>
#include <api/set_local_description_observer_interface.h>
#include <api/stats/rtc_stats_collector_callback.h>
#include <api/stats/rtc_stats_report.h>
#include <api/task_queue/default_task_queue_factory.h>
#include <api/video_codecs/builtin_video_decoder_factory.h>
#include <api/video_codecs/builtin_video_encoder_factory.h>
#include <media/base/adapted_video_track_source.h>
#include <pc/webrtc_sdp.h>
#include <rtc_base/thread.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <set>
#include <utility>

#include "calls/media/call_audio_device.h"
#include "calls/media/call_audio_device_module.h"
#include "calls/media/call_peer_connection_internal.h"
#include "calls/media/ice_diagnostics.h"
#include "calls/media/control_channel.h"
#include "calls/media/ice_timeline.h"
#include "calls/media/peer_configuration.h"
#include "calls/media/peer_connection_events.h"
#include "calls/media/opus_tuned_description.h"
#include "calls/media/webrtc_observers.h"
#include "calls/media/webrtc_stats.h"
#include "calls/media/local_video_source.h"
#include "calls/media/sender_caps.h"
#include "calls/signaling/ice_config.h"
#include "core/native_logger.h"
#include "platform/dispatch/clock.h"
#include "platform/dispatch/task_queue.h"
#include "platform/queue_checker.h"

namespace orvik {
namespace {

constexpr const char* kAudioTrackId = "audio0";
constexpr const char* kVideoTrackId = "video0";
constexpr const char* kStreamId = "stream0";
constexpr const char* kDataChannelLabel = "control";

const char* boolText(bool value) { return value ? "true" : "false"; }

IceConnectionState toState(webrtc::PeerConnectionInterface::IceConnectionState state) {
  return static_cast<IceConnectionState>(static_cast<int>(state));
}

std::string candidateLine(const cricket::Candidate& candidate) { return webrtc::SdpSerializeCandidate(candidate); }

webrtc::Priority webrtcPriority(SenderPriority priority) {
  switch (priority) {
    case SenderPriority::veryLow: return webrtc::Priority::kVeryLow;
    case SenderPriority::low: return webrtc::Priority::kLow;
    case SenderPriority::medium: return webrtc::Priority::kMedium;
    case SenderPriority::high: return webrtc::Priority::kHigh;
  }
  return webrtc::Priority::kLow;
}

webrtc::DegradationPreference webrtcDegradation(SenderDegradation degradation) {
  switch (degradation) {
    case SenderDegradation::disabled: return webrtc::DegradationPreference::DISABLED;
    case SenderDegradation::maintainFramerate: return webrtc::DegradationPreference::MAINTAIN_FRAMERATE;
    case SenderDegradation::maintainResolution: return webrtc::DegradationPreference::MAINTAIN_RESOLUTION;
    case SenderDegradation::balanced: return webrtc::DegradationPreference::BALANCED;
  }
  return webrtc::DegradationPreference::BALANCED;
}

PeerConnectionError peerError(const webrtc::RTCError& error) {
  return {"RTCError", static_cast<int>(error.type()), error.message()};
}

// A remote description from the peer's text; parse errors come back as the
// error WebRTC would have given.
std::unique_ptr<webrtc::SessionDescriptionInterface> parseDescription(webrtc::SdpType type, const std::string& sdp,
                                                                      std::string& error) {
  webrtc::SdpParseError parseError;
  auto description = webrtc::CreateSessionDescription(type, sdp, &parseError);
  if (!description) error = "SDP parse error: " + parseError.description + " (" + parseError.line + ")";
  return description;
}

}  // namespace

VideoSourceHandle makeLocalVideoSource(bool isScreencast) {
  return std::make_shared<VideoSourceRef>(VideoSourceRef{rtc::make_ref_counted<LocalVideoSource>(isScreencast)});
}

LocalVideoSource* localVideoSource(const VideoSourceHandle& handle) {
  // Every source handed out by the media engine is one of ours.
  return handle && handle->source ? static_cast<LocalVideoSource*>(handle->source.get()) : nullptr;
}

// One per connection: its events carry the connection's generation, so the
// events of a closed or replaced connection are told apart and dropped.
struct ConnectionEvents;

struct CallPeerConnection::Impl {
  Impl(CallPeerConnection& owner, CallPeerConnectionOptions options, std::shared_ptr<TestHooks> hooks)
      : owner(owner), options(std::move(options)), hooks(std::move(hooks)) {
    network = rtc::Thread::CreateWithSocketServer();
    worker = rtc::Thread::Create();
    signaling = rtc::Thread::Create();
    network->SetName("orvik.call.net", nullptr);
    worker->SetName("orvik.call.work", nullptr);
    signaling->SetName("orvik.call.sig", nullptr);
    network->Start();
    worker->Start();
    signaling->Start();
  }

  // Every WebRTC object is released on the peer queue while WebRTC's threads
  // still run; releasing them afterwards would block for ever.
  void teardown();

  bool isCurrent(std::uint64_t connection) const { return generation.load() == connection; }

  // Runs `work` on the main queue while the object lives and `connection` is
  // still the current one.
  template <typename Work>
  void onMain(std::uint64_t connection, Work work) {
    platform::mainQueue().post([weak = owner.weak_from_this(), connection, work = std::move(work)]() mutable {
      auto self = weak.lock();
      if (self && self->impl_->isCurrent(connection)) work();
    });
  }

  template <typename Call>
  void tellDelegate(std::uint64_t connection, Call call) {
    onMain(connection, [this, call = std::move(call)] {
      if (auto d = delegate.lock()) call(*d);
    });
  }

  // Runs `work` on the peer queue while `connection` is still the current one.
  template <typename Work>
  void onPeerQueue(std::uint64_t connection, Work work) {
    peerQueue.post([weak = owner.weak_from_this(), connection, work = std::move(work)]() mutable {
      auto self = weak.lock();
      if (self && self->impl_->isCurrent(connection)) work();
    });
  }

  // Peer queue. The data channel and its queue live here only.
  // Watches `channel` of `connection`: opening flushes the queue, messages
  // go to the delegate.
  std::unique_ptr<ControlChannel::Watch> watchChannel(std::uint64_t connection,
                                                      rtc::scoped_refptr<webrtc::DataChannelInterface> channel);

  // `peersUfrag`: the ICE user fragment of the peer's restart offer being
  // answered; nothing for a restart offer of our own.
  void prepareForIceRestart(const std::string& reason, const std::optional<std::string>& peersUfrag = std::nullopt);
  // Peer queue. Notes `candidate` as handed to WebRTC; false when it belongs
  // to an ICE generation that a restart retired.
  bool keepRemoteCandidate(const cricket::Candidate& candidate, const std::string& sdpMid);
  // Peer queue, at the start of a restart: takes the remote candidates
  // handed in so far out of WebRTC's list, all of them, or those of other
  // fragments than `peersUfrag` when the peer's next one is known.
  void retireRemoteCandidates(const std::optional<std::string>& peersUfrag);
  // Peer queue: the restart answer once no offer of ours is pending.
  void answerRestartOffer(const SDPPayload& offer, std::function<void()> onRemoteApplied,
                          DescriptionCompletion completion);

  // WebRTC's signalling thread, for the current connection.
  void iceConnectionChanged(std::uint64_t connection, webrtc::PeerConnectionInterface::IceConnectionState state);
  void connectionChanged(std::uint64_t connection, webrtc::PeerConnectionInterface::PeerConnectionState state);
  void gatheringChanged(webrtc::PeerConnectionInterface::IceGatheringState state);
  void candidateGathered(std::uint64_t connection, const webrtc::IceCandidateInterface& candidate);
  void selectedPairChanged(const cricket::CandidatePairChangeEvent& event);
  void gatheringFailed(const std::string& address, const std::string& url, int errorCode, const std::string& errorText);
  void remoteChannelArrived(std::uint64_t connection, rtc::scoped_refptr<webrtc::DataChannelInterface> channel);
  void remoteTrackArrived(std::uint64_t connection, rtc::scoped_refptr<webrtc::MediaStreamTrackInterface> track,
                          const std::string& source);
  void requestStatsFromEvent(std::uint64_t connection, const std::string& label);

  CallPeerConnection& owner;
  const CallPeerConnectionOptions options;
  std::shared_ptr<TestHooks> hooks;
  std::weak_ptr<CallPeerConnectionDelegate> delegate;
  platform::SerialQueue peerQueue{"orvik.call.peer"};
  std::unique_ptr<rtc::Thread> network;
  std::unique_ptr<rtc::Thread> worker;
  std::unique_ptr<rtc::Thread> signaling;
  std::unique_ptr<webrtc::TaskQueueFactory> taskQueueFactory = webrtc::CreateDefaultTaskQueueFactory();

  // Moves on at every build and every close.
  std::atomic<std::uint64_t> generation{0};
  // WebRTC may still hold an observer of a closed connection; they stay until
  // the threads stop (one small object per call).
  std::vector<std::unique_ptr<ConnectionEvents>> connectionEvents;

  rtc::scoped_refptr<webrtc::PeerConnectionFactoryInterface> factory;
  rtc::scoped_refptr<webrtc::PeerConnectionInterface> peerConnection;
  rtc::scoped_refptr<webrtc::AudioTrackInterface> localAudioTrack;
  rtc::scoped_refptr<webrtc::VideoTrackInterface> localVideoTrack;
  rtc::scoped_refptr<webrtc::VideoTrackInterface> remoteVideoTrack;
  rtc::scoped_refptr<webrtc::AudioTrackInterface> remoteAudioTrack;
  rtc::scoped_refptr<LocalVideoSource> videoSource;
  // The video sender a mid-call upgrade added, until it is answered or undone.
  rtc::scoped_refptr<webrtc::RtpSenderInterface> upgradeSender;
  ControlChannel control;
  // The remote candidates handed to the current connection since its last
  // restart, and the ICE user fragments of those a restart retired; peer
  // queue.
  std::vector<cricket::Candidate> remoteCandidates;
  std::set<std::string> retiredRemoteUfrags;
  std::atomic<bool> hasRemoteDescription{false};
  // The configured transport policy, for the end-of-gathering warning.
  std::atomic<bool> relayPolicy{false};
  IceTimeline timeline{platform::systemClock()};
};

struct ConnectionEvents : public webrtc::PeerConnectionObserver {
  using PC = webrtc::PeerConnectionInterface;
  ConnectionEvents(CallPeerConnection::Impl& impl, std::uint64_t connection) : impl(impl), connection(connection) {}
  bool current() const { return impl.isCurrent(connection); }

  void OnSignalingChange(PC::SignalingState state) override {
    if (!current()) return;
    const std::string name = signalingStateName(state);
    nativeLog("[PeerConn] Signaling state → " + name);
    impl.timeline.line("SDP signaling state → " + name);
  }
  void OnAddStream(rtc::scoped_refptr<webrtc::MediaStreamInterface> stream) override {
    if (!current()) return;
    nativeLog("[PeerConn] Stream added: " + stream->id() + " audio=" + std::to_string(stream->GetAudioTracks().size()) +
              " video=" + std::to_string(stream->GetVideoTracks().size()));
  }
  void OnRenegotiationNeeded() override {
    if (current()) nativeLog("[PeerConn] shouldNegotiate fired");
  }
  void OnIceConnectionChange(PC::IceConnectionState state) override {
    if (current()) impl.iceConnectionChanged(connection, state);
  }
  void OnConnectionChange(PC::PeerConnectionState state) override {
    if (current()) impl.connectionChanged(connection, state);
  }
  void OnIceGatheringChange(PC::IceGatheringState state) override {
    if (current()) impl.gatheringChanged(state);
  }
  void OnIceCandidate(const webrtc::IceCandidateInterface* candidate) override {
    if (current() && candidate) impl.candidateGathered(connection, *candidate);
  }
  void OnIceCandidatesRemoved(const std::vector<cricket::Candidate>& candidates) override {
    if (current()) nativeLog("[PeerConn] " + std::to_string(candidates.size()) + " ICE candidate(s) removed");
  }
  void OnIceSelectedCandidatePairChanged(const cricket::CandidatePairChangeEvent& event) override {
    if (current()) impl.selectedPairChanged(event);
  }
  void OnIceCandidateError(const std::string& address, int, const std::string& url, int errorCode,
                           const std::string& errorText) override {
    if (current()) impl.gatheringFailed(address, url, errorCode, errorText);
  }
  void OnDataChannel(rtc::scoped_refptr<webrtc::DataChannelInterface> channel) override {
    if (current()) impl.remoteChannelArrived(connection, std::move(channel));
  }
  void OnAddTrack(rtc::scoped_refptr<webrtc::RtpReceiverInterface> receiver,
                  const std::vector<rtc::scoped_refptr<webrtc::MediaStreamInterface>>&) override {
    if (!current()) return;
    if (auto track = receiver->track()) {
      impl.remoteTrackArrived(connection, track, "didAddReceiver");
    } else {
      nativeLog("[PeerConn] didAdd rtpReceiver — track is nil");
    }
  }
  void OnTrack(rtc::scoped_refptr<webrtc::RtpTransceiverInterface> transceiver) override {
    if (!current()) return;
    const std::string mid = transceiver->mid().value_or("");
    if (auto track = transceiver->receiver()->track()) {
      impl.remoteTrackArrived(connection, track, "didStartReceivingOnTransceiver mid=" + mid);
    } else {
      nativeLog("[PeerConn] didStartReceivingOnTransceiver — receiver track is nil (mid=" + mid + ")");
    }
  }

  CallPeerConnection::Impl& impl;
  const std::uint64_t connection;
};

void CallPeerConnection::Impl::teardown() {
  // From here on every event of the closing connection is stale: our own
  // close must not reach the call manager as a failure of the next call.
  ++generation;
  control.close();
  remoteCandidates.clear();
  retiredRemoteUfrags.clear();
  if (peerConnection) {
    peerConnection->Close();
    peerConnection = nullptr;
  }
  localAudioTrack = nullptr;
  localVideoTrack = nullptr;
  upgradeSender = nullptr;
  remoteVideoTrack = nullptr;
  remoteAudioTrack = nullptr;
  videoSource = nullptr;
  factory = nullptr;
  hasRemoteDescription = false;
  timeline.connectionClosed();
}

void CallPeerConnection::Impl::requestStatsFromEvent(std::uint64_t connection, const std::string& label) {
  onPeerQueue(connection, [this, label] { owner.requestIceStats(label); });
}

void CallPeerConnection::Impl::iceConnectionChanged(std::uint64_t connection,
                                                    webrtc::PeerConnectionInterface::IceConnectionState state) {
  const IceConnectionState ours = toState(state);
  const std::string name = iceConnectionStateName(state);
  nativeLog("[PeerConn] ICE connection → " + name);
  timeline.iceStateChanged(ours, name);
  const std::string sent = std::to_string(timeline.localCandidatesSent());
  switch (ours) {
    case IceConnectionState::newState: nativeLog("[PeerConn] ICE new"); break;
    case IceConnectionState::checking:
      nativeLog("[PeerConn] ICE checking — localCandidatesSent=" + sent + " (waiting for connectivity)");
      break;
    case IceConnectionState::connected:
    case IceConnectionState::completed:
      nativeLog("[PeerConn] ✅ ICE connected — localCandidatesSent=" + sent + " | " + timeline.candidateSummary());
      requestStatsFromEvent(connection, "connected");
      owner.scheduleSenderCaps("ICE connected");
      break;
    case IceConnectionState::failed:
      nativeLog("[PeerConn] ❌ ICE FAILED — localCandidatesSent=" + sent + " | " + timeline.candidateSummary());
      requestStatsFromEvent(connection, "failed");
      break;
    case IceConnectionState::disconnected:
      nativeLog("[PeerConn] ⚠️ ICE disconnected — localCandidatesSent=" + sent);
      timeline.line(
          "⚠️ disconnected — the path stopped answering consent checks (network change / Wi-Fi drop / other side "
          "gone); WebRTC retries for a while before 'failed'");
      requestStatsFromEvent(connection, "disconnected");
      break;
    case IceConnectionState::closed: nativeLog("[PeerConn] ICE closed"); break;
  }
  if (auto forwarded = forwardedIceState(ours)) {
    tellDelegate(connection, [state = *forwarded](CallPeerConnectionDelegate& d) { d.peerConnectionDidChangeIceState(state); });
  }
}

void CallPeerConnection::Impl::connectionChanged(std::uint64_t connection,
                                                 webrtc::PeerConnectionInterface::PeerConnectionState state) {
  const std::string name = peerConnectionStateName(static_cast<int>(state));
  nativeLog("[PeerConn] Connection state → " + name);
  timeline.connectionChanged(name);
  tellDelegate(connection, [ours = static_cast<PeerConnectionState>(static_cast<int>(state))](CallPeerConnectionDelegate& d) {
    d.peerConnectionDidChangeIceState(ours);
  });
}

void CallPeerConnection::Impl::gatheringChanged(webrtc::PeerConnectionInterface::IceGatheringState state) {
  const std::string name = iceGatheringStateName(state);
  const bool complete = state == webrtc::PeerConnectionInterface::kIceGatheringComplete;
  nativeLog("[PeerConn] ICE gathering → " + name +
            (complete ? " — all local candidates sent, total=" + std::to_string(timeline.localCandidatesSent()) : ""));
  timeline.gatheringChanged(name);
  if (!complete) return;
  if (auto warning = gatheringCompleteWarning(timeline.localTypes(), relayPolicy, timeline.gatherErrors())) {
    timeline.line(*warning);
  }
}

void CallPeerConnection::Impl::candidateGathered(std::uint64_t connection, const webrtc::IceCandidateInterface& candidate) {
  LocalIceCandidate local{candidate.sdp_mid(), candidate.sdp_mline_index(), {}};
  candidate.ToString(&local.candidate);
  const auto count = timeline.localCandidate(local.candidate);
  nativeLog("[PeerConn] Local ICE candidate #" + std::to_string(count) +
            " sdpMid=" + (local.sdpMid.empty() ? std::string("-") : local.sdpMid) +
            " candidate_preview=" + leadingCharacters(local.candidate, 80));
  tellDelegate(connection, [local = std::move(local)](CallPeerConnectionDelegate& d) {
    d.peerConnectionDidGenerateCandidate(local);
  });
}

void CallPeerConnection::Impl::selectedPairChanged(const cricket::CandidatePairChangeEvent& event) {
  const std::string local = candidateLine(event.selected_candidate_pair.local_candidate());
  const std::string remote = candidateLine(event.selected_candidate_pair.remote_candidate());
  timeline.line("selected pair → local " + candidateType(local) + "/" + candidateTransport(local) + " ⇄ remote " +
                    candidateType(remote) + "/" + candidateTransport(remote) + " | reason: " + event.reason +
                    " | last data " + std::to_string(static_cast<std::int32_t>(event.last_data_received_ms)) +
                    "ms ago");
}

void CallPeerConnection::Impl::gatheringFailed(const std::string& address, const std::string& url, int errorCode,
                                               const std::string& errorText) {
  timeline.gatheringError(gatherErrorEntry(url, errorCode, errorText, address), turnErrorHint(errorCode));
}

void CallPeerConnection::Impl::remoteTrackArrived(std::uint64_t connection,
                                                  rtc::scoped_refptr<webrtc::MediaStreamTrackInterface> track,
                                                  const std::string& source) {
  RemoteMediaTrack remote{track->kind(), track->id(), track->enabled(), nullptr};
  nativeLog("[PeerConn] Remote track received (" + source + "): kind=" + remote.kind + " id=" + remote.trackId +
            " enabled=" + boolText(remote.enabled));
  rtc::scoped_refptr<webrtc::VideoTrackInterface> video;
  rtc::scoped_refptr<webrtc::AudioTrackInterface> audio;
  if (remote.kind == webrtc::MediaStreamTrackInterface::kVideoKind) {
    video = rtc::scoped_refptr<webrtc::VideoTrackInterface>(static_cast<webrtc::VideoTrackInterface*>(track.get()));
    remote.video = std::make_shared<VideoTrackRef>(VideoTrackRef{video});
  } else if (remote.kind == webrtc::MediaStreamTrackInterface::kAudioKind) {
    audio = rtc::scoped_refptr<webrtc::AudioTrackInterface>(static_cast<webrtc::AudioTrackInterface*>(track.get()));
  }
  onPeerQueue(connection, [this, video, audio] {
    if (video) remoteVideoTrack = video;
    if (audio) remoteAudioTrack = audio;
  });
  tellDelegate(connection, [remote = std::move(remote)](CallPeerConnectionDelegate& d) { d.attachRemoteTrack(remote); });
}

void CallPeerConnection::Impl::remoteChannelArrived(std::uint64_t connection,
                                                    rtc::scoped_refptr<webrtc::DataChannelInterface> channel) {
  nativeLog("[PeerConn] ✅ Remote DataChannel arrived: '" + channel->label() + "' — ICE must be connected");
  // Observed from this moment: the channel opens right after this event, and
  // that opening (which flushes the texts waiting for it) must not be missed
  // while the adoption waits for the peer queue.
  auto watch = std::make_shared<std::unique_ptr<ControlChannel::Watch>>(watchChannel(connection, std::move(channel)));
  onPeerQueue(connection, [this, connection, watch] {
    control.adopt(std::move(*watch));
    tellDelegate(connection, [](CallPeerConnectionDelegate& d) { d.peerConnectionDidOpenRemoteDataChannel(); });
  });
}

std::unique_ptr<ControlChannel::Watch> CallPeerConnection::Impl::watchChannel(
    std::uint64_t connection, rtc::scoped_refptr<webrtc::DataChannelInterface> channel) {
  ControlChannel::Reports reports;
  reports.opened = [this, connection] {
    if (isCurrent(connection)) onPeerQueue(connection, [this] { control.flush(); });
  };
  reports.message = [this, connection](const std::string& text) {
    if (!isCurrent(connection)) return;
    tellDelegate(connection, [text](CallPeerConnectionDelegate& d) { d.peerConnectionDidReceiveDataChannelMessage(text); });
  };
  return std::make_unique<ControlChannel::Watch>(std::move(channel), std::move(reports));
}

bool CallPeerConnection::Impl::keepRemoteCandidate(const cricket::Candidate& candidate, const std::string& sdpMid) {
  if (!candidate.username().empty() && retiredRemoteUfrags.contains(candidate.username())) return false;
  cricket::Candidate kept = candidate;
  // Taking a candidate out again goes by its transport.
  kept.set_transport_name(sdpMid);
  remoteCandidates.push_back(std::move(kept));
  return true;
}

// A restart must not leave the peer's old candidates in WebRTC's list of
// remote candidates. The ports of the new gathering come up before the
// peer's restart description arrives and pair with every candidate in that
// list; when the peer's new candidate then sits at the address of an old one
// (a TURN server that restarted hands the same relay ports out again), it
// replaces such a pair inside a TURN port. That replacement leaves the port's
// permission entry marked for destruction while the new pair still uses it,
// and destroying the new pair later (at the latest when the call closes)
// fails a check in WebRTC's TURN port and aborts the program. Taking the old
// candidates out of the list keeps the new ports to the new candidates; the
// pairs the old ports already have carry on until the new path takes over.
// Candidates of the retired generation that arrive late are dropped.
void CallPeerConnection::Impl::retireRemoteCandidates(const std::optional<std::string>& peersUfrag) {
  if (!peerConnection) return;
  // An offer from the peer that keeps its credentials (a renegotiation
  // answered on this path) retires nothing.
  std::vector<cricket::Candidate> retired;
  std::erase_if(remoteCandidates, [&](const cricket::Candidate& candidate) {
    const bool retire = !peersUfrag || candidate.username() != *peersUfrag;
    if (retire) retired.push_back(candidate);
    return retire;
  });
  if (retired.empty()) return;
  for (const auto& candidate : retired) {
    if (!candidate.username().empty()) retiredRemoteUfrags.insert(candidate.username());
  }
  const bool removed = peerConnection->RemoveIceCandidates(retired);
  timeline.line(std::to_string(retired.size()) + " remote candidate(s) of the last attempt retired (removed=" +
                boolText(removed) + ")");
}

void CallPeerConnection::Impl::prepareForIceRestart(const std::string& reason,
                                                    const std::optional<std::string>& peersUfrag) {
  if (!peerConnection) return;
  const CandidateTally local = timeline.localTypes();
  const auto relayCount = local.find("relay");
  const bool noLocalRelay = relayCount == local.end() || relayCount->second == 0;
  const std::string summary = timeline.candidateSummary();
  auto config = peerConnection->GetConfiguration();
  const bool relay = config.type == webrtc::PeerConnectionInterface::kRelay;
  if (noLocalRelay && relay && hasRoutableIPv4()) {
    config.type = webrtc::PeerConnectionInterface::kNoHost;
    const bool applied = peerConnection->SetConfiguration(config).ok();
    if (applied) relayPolicy = false;
    nativeLog("[ICERestart] " + reason + ": no local relay candidate last attempt → policy relay→noHost (setConfiguration=" +
              boolText(applied) + ") | " + summary);
  } else {
    nativeLog("[ICERestart] " + reason + ": keeping policy=" + (relay ? "relay" : "noHost") + " | last attempt " + summary);
  }
  retireRemoteCandidates(peersUfrag);
  timeline.startAttempt();
  timeline.line("ICE restart (" + reason + ") — new credentials, gathering again");
}

std::shared_ptr<CallPeerConnection> CallPeerConnection::create(CallPeerConnectionOptions options,
                                                              std::shared_ptr<TestHooks> hooks) {
  // Callbacks on the peer queue and on WebRTC's threads hold the object for a
  // moment; when the owner lets go meanwhile, the last reference drops there,
  // where the destructor cannot stop the very thread it runs on. It is then
  // destroyed on the main queue instead.
  return std::shared_ptr<CallPeerConnection>(new CallPeerConnection(std::move(options), std::move(hooks)), [](CallPeerConnection* object) {
    const Impl& d = *object->impl_;
    if (d.peerQueue.isCurrent() || d.signaling->IsCurrent() || d.worker->IsCurrent() || d.network->IsCurrent()) {
      platform::mainQueue().post([owned = std::shared_ptr<CallPeerConnection>(object)] {});
    } else {
      delete object;
    }
  });
}

CallPeerConnection::CallPeerConnection(CallPeerConnectionOptions options, std::shared_ptr<TestHooks> hooks)
    : impl_(std::make_unique<Impl>(*this, std::move(options), std::move(hooks))) {}

CallPeerConnection::~CallPeerConnection() {
  if (impl_->peerQueue.isCurrent()) {
    impl_->teardown();
  } else {
    impl_->peerQueue.post([impl = impl_.get()] { impl->teardown(); });
    impl_->peerQueue.flush();
  }
  impl_->signaling->Stop();
  impl_->worker->Stop();
  impl_->network->Stop();
}

void CallPeerConnection::setDelegate(std::weak_ptr<CallPeerConnectionDelegate> delegate) {
  // Commands come from the owner's queue only: their order is the order of the peer queue's work.
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  impl_->delegate = std::move(delegate);
}

platform::SerialQueue& CallPeerConnection::peerQueue() { return impl_->peerQueue; }

void CallPeerConnection::build(const PeerConnectionSetup& setup, std::function<void(BuildResult)> completion) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  impl_->peerQueue.post([weak = weak_from_this(), setup, completion = std::move(completion)] {
    auto self = weak.lock();
    const BuildResult result = self ? self->buildPeerConnection(setup.iceServers, setup.serverPolicy, setup.isVideo,
                                                                setup.isCaller)
                                    : BuildResult::failed;
    if (completion) platform::mainQueue().post([completion, result] { completion(result); });
  });
}

BuildResult CallPeerConnection::buildPeerConnection(const std::vector<ICEServer>& iceServers,
                                                    const std::string& serverPolicy, bool isVideo, bool isCaller) {
  Impl& d = *impl_;
  if (d.peerConnection) {
    nativeLog("[PeerConn] buildPeerConnection refused — the current call's connection is still open; keeping it");
    return BuildResult::refusedOpenConnection;
  }
  d.hasRemoteDescription = false;
  d.timeline.startCall(isCaller);
  const bool hasTurn = hasTurnServer(iceServers);
  nativeLog("[PeerConn] buildPeerConnection isVideo=" + std::string(boolText(isVideo)) +
            " iceServers=" + std::to_string(iceServers.size()) + " policy=" + serverPolicy +
            " hasTurn=" + boolText(hasTurn) + " | " + describeICEServers(iceServers));

  rtc::scoped_refptr<webrtc::AudioDeviceModule> audioDevice;
  if (d.hooks && d.hooks->audioDevice) {
    audioDevice = d.hooks->audioDevice(*d.taskQueueFactory);
  } else if (d.options.customAudioDeviceEnabled && d.options.customAudioDeviceEnabled() && d.options.makeAudioDevice) {
    // A fresh device for each call.
    audioDevice = makeCallAudioDeviceModule(d.options.makeAudioDevice());
  } else {
    nativeLog("[AudioDevice] custom call audio device OFF — WebRTC built-in audio");
  }
  // Opus has to be named: the library's built-in audio factories leave it
  // out, and calls would silently fall back to a narrow-band codec.
  d.factory = webrtc::CreatePeerConnectionFactory(
      d.network.get(), d.worker.get(), d.signaling.get(), audioDevice,
      webrtc::CreateAudioEncoderFactory<webrtc::AudioEncoderOpus, webrtc::AudioEncoderG722, webrtc::AudioEncoderG711>(),
      webrtc::CreateAudioDecoderFactory<webrtc::AudioDecoderOpus, webrtc::AudioDecoderG722, webrtc::AudioDecoderG711>(),
      webrtc::CreateBuiltinVideoEncoderFactory(), webrtc::CreateBuiltinVideoDecoderFactory(), nullptr, nullptr);
  const std::uint64_t connection = ++d.generation;
  auto fail = [&] {
    d.tellDelegate(connection, [](CallPeerConnectionDelegate& delegate) {
      delegate.peerConnectionDidFail({"CallPeerConnection", -1, "Failed to create RTCPeerConnection"});
    });
    return BuildResult::failed;
  };
  if (!d.factory) return fail();
  if (d.hooks && d.hooks->allowLoopback) {
    webrtc::PeerConnectionFactoryInterface::Options options;
    options.network_ignore_mask = 0;
    d.factory->SetOptions(options);
  }

  const bool routableIPv4 = hasRoutableIPv4();
  const PeerConfigurationPlan plan = planPeerConfiguration(iceServers, routableIPv4);
  webrtc::PeerConnectionInterface::RTCConfiguration config;
  config.sdp_semantics = webrtc::SdpSemantics::kUnifiedPlan;
  for (const ICEServer& server : iceServers) {
    webrtc::PeerConnectionInterface::IceServer entry;
    entry.urls = server.urls;
    entry.username = server.username;
    entry.password = server.credential;
    config.servers.push_back(entry);
  }
  if (plan.policy == IcePolicy::relay) {
    config.type = webrtc::PeerConnectionInterface::kRelay;
  } else {
    config.type = webrtc::PeerConnectionInterface::kNoHost;
    nativeLog("[PeerConn] ⚠️ no TURN server in ICE config — using noHost instead of relay");
  }
  if (d.hooks && d.hooks->allowAllCandidates) config.type = webrtc::PeerConnectionInterface::kAll;
  config.continual_gathering_policy = webrtc::PeerConnectionInterface::GATHER_CONTINUALLY;
  config.disable_link_local_networks = true;
  if (plan.ipv6Off) {
    config.max_ipv6_networks = 0;
    d.timeline.line("network: routable IPv4=yes → IPv6 gathering off");
  } else {
    d.timeline.line("network: routable IPv4=NO (IPv6-only/NAT64?) → IPv6 kept");
  }
  d.timeline.line(std::string("peer connection created — role=") + (isCaller ? "caller (sends offer)" : "callee (answers)") +
              " video=" + boolText(isVideo) +
              " policy=" + policyDescription(config.type == webrtc::PeerConnectionInterface::kRelay ? IcePolicy::relay
                                                                                                  : IcePolicy::noHost) +
              " servers=" + std::to_string(iceServers.size()) + " hasTurn=" + boolText(hasTurn));

  d.relayPolicy = config.type == webrtc::PeerConnectionInterface::kRelay;
  d.connectionEvents.push_back(std::make_unique<ConnectionEvents>(d, connection));
  auto created =
      d.factory->CreatePeerConnectionOrError(config, webrtc::PeerConnectionDependencies(d.connectionEvents.back().get()));
  if (!created.ok()) return fail();
  d.peerConnection = created.MoveValue();

  auto audioSource = d.factory->CreateAudioSource(cricket::AudioOptions());
  d.localAudioTrack = d.factory->CreateAudioTrack(kAudioTrackId, audioSource.get());
  (void)d.peerConnection->AddTrack(d.localAudioTrack, {kStreamId});
  if (isVideo) {
    d.videoSource = rtc::make_ref_counted<LocalVideoSource>();
    d.localVideoTrack = d.factory->CreateVideoTrack(kVideoTrackId, d.videoSource.get());
    (void)d.peerConnection->AddTrack(d.localVideoTrack, {kStreamId});
  }
  if (isCaller) {
    webrtc::DataChannelInit init;
    init.ordered = true;
    auto channel = d.peerConnection->CreateDataChannelOrError(kDataChannelLabel, &init);
    if (channel.ok()) {
      d.control.adopt(d.watchChannel(connection, channel.MoveValue()));
      nativeLog("[PeerConn] Data channel created label=control (caller)");
    }
  } else {
    nativeLog("[PeerConn] Callee — skipping local DC creation; will receive via didOpen");
  }
  return BuildResult::built;
}

void CallPeerConnection::close() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  impl_->peerQueue.post([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->impl_->teardown();
  });
}

namespace {

using LocalDone = std::function<void(const std::string& sdp, webrtc::RTCError error)>;

}  // namespace

void CallPeerConnection::createOffer() { createLocalDescription(/*offer=*/true); }
void CallPeerConnection::createAnswer() { createLocalDescription(/*offer=*/false); }

void CallPeerConnection::createLocalDescription(bool offer) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  const std::string kind = offer ? "offer" : "answer";
  nativeLog(std::string("[PeerConn] ") + (offer ? "createOffer" : "createAnswer") + " START");
  impl_->peerQueue.post([weak = weak_from_this(), offer, kind] {
    auto self = weak.lock();
    rtc::scoped_refptr<webrtc::PeerConnectionInterface> pc = self ? self->impl_->peerConnection : nullptr;
    if (!pc) {
      nativeLog(std::string("[PeerConn] ") + (offer ? "createOffer" : "createAnswer") + " — peerConnection is nil!");
      return;
    }
    const std::uint64_t connection = self->impl_->generation;
    auto fail = [weak, connection](const webrtc::RTCError& error) {
      if (auto self = weak.lock()) {
        self->impl_->tellDelegate(connection, [failure = peerError(error)](CallPeerConnectionDelegate& d) {
          d.peerConnectionDidFail(failure);
        });
      }
    };
    auto created = [weak, pc, offer, kind, connection, fail](std::unique_ptr<webrtc::SessionDescriptionInterface> description,
                                                              webrtc::RTCError error) {
      if (!weak.lock()) return;
      if (!error.ok()) {
        nativeLog("[PeerConn] " + kind + "() failed: " + error.message());
        fail(error);
        return;
      }
      if (!description) {
        nativeLog("[PeerConn] " + kind + "() — sdp is nil");
        return;
      }
      std::string sdp;
      description->ToString(&sdp);
      const std::string created = "[PeerConn] " + kind + " created type=" +
                                  std::to_string(static_cast<int>(description->GetType())) +
                                  " sdp_len=" + std::to_string(displayLength(sdp));
      if (offer) {
        nativeLog(created + " — setting local description");
      } else {
        nativeLog(created);
        std::string preview = sdp;
        for (std::size_t at = preview.find("\r\n"); at != std::string::npos; at = preview.find("\r\n", at)) {
          preview.replace(at, 2, "↵");
        }
        nativeLog("[PeerConn] answer SDP preview: " + leadingCharacters(preview, 300));
      }
      applyTunedLocalDescription(pc, kind, std::move(description),
                                 [weak, offer, kind, connection, fail](const std::string& sdp, webrtc::RTCError error) {
                                   if (!error.ok()) {
                                     nativeLog("[PeerConn] setLocalDescription(" + kind + ") failed: " + error.message());
                                     fail(error);
                                     return;
                                   }
                                   nativeLog("[PeerConn] setLocalDescription(" + kind + ") OK — sending " + kind +
                                             " to remote");
                                   auto self = weak.lock();
                                   if (!self) return;
                                   self->scheduleSenderCaps(kind + " set");
                                   self->impl_->tellDelegate(connection, [offer, json = describeSessionDescription(offer, sdp)](
                                                                             CallPeerConnectionDelegate& d) {
                                     offer ? d.peerConnectionDidCreateOffer(json) : d.peerConnectionDidCreateAnswer(json);
                                   });
                                 });
    };
    auto observer = rtc::make_ref_counted<CreateObserver>(std::move(created));
    const webrtc::PeerConnectionInterface::RTCOfferAnswerOptions noConstraints;
    offer ? pc->CreateOffer(observer.get(), noConstraints) : pc->CreateAnswer(observer.get(), noConstraints);
  });
}

void CallPeerConnection::setRemoteDescription(const SDPPayload& payload, std::function<void()> completion) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  nativeLog("[PeerConn] setRemoteDescription type=" + payload.type + " sdp_len=" + std::to_string(displayLength(payload.sdp)));
  impl_->peerQueue.post([weak = weak_from_this(), payload, completion = std::move(completion)] {
    auto self = weak.lock();
    rtc::scoped_refptr<webrtc::PeerConnectionInterface> pc = self ? self->impl_->peerConnection : nullptr;
    if (!pc) {
      nativeLog("[PeerConn] setRemoteDescription — peerConnection is nil!");
      return;
    }
    const std::uint64_t connection = self->impl_->generation;
    auto done = [weak, connection, completion](webrtc::RTCError error) {
      auto self = weak.lock();
      if (!error.ok()) {
        nativeLog("[PeerConn] setRemoteDescription FAILED: " + std::string(error.message()));
        if (self) {
          self->impl_->tellDelegate(connection, [failure = peerError(error)](CallPeerConnectionDelegate& d) {
            d.peerConnectionDidFail(failure);
          });
        }
        return;
      }
      nativeLog("[PeerConn] setRemoteDescription OK");
      if (!self) {
        if (completion) platform::mainQueue().post(completion);
        return;
      }
      if (self->impl_->isCurrent(connection)) self->impl_->hasRemoteDescription = true;
      if (completion) self->impl_->onMain(connection, completion);
    };
    const webrtc::SdpType type = payload.type == "offer" ? webrtc::SdpType::kOffer : webrtc::SdpType::kAnswer;
    std::string parseError;
    auto description = parseDescription(type, payload.sdp, parseError);
    if (!description) {
      done(webrtc::RTCError(webrtc::RTCErrorType::INVALID_PARAMETER, parseError));
      return;
    }
    pc->SetRemoteDescription(std::move(description), rtc::make_ref_counted<SetRemoteObserver>(std::move(done)));
  });
}

void CallPeerConnection::addICECandidate(const std::string& candidate, const std::optional<std::string>& sdpMid,
                                         std::int32_t sdpMLineIndex) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  impl_->peerQueue.post([weak = weak_from_this(), candidate, sdpMid, sdpMLineIndex] {
    auto self = weak.lock();
    rtc::scoped_refptr<webrtc::PeerConnectionInterface> pc = self ? self->impl_->peerConnection : nullptr;
    if (!pc) {
      nativeLog("[PeerConn] addICECandidate — peerConnection nil, dropped");
      return;
    }
    self->impl_->timeline.remoteCandidate(candidate);
    const std::string preview = leadingCharacters(candidate, 60);
    webrtc::SdpParseError parseError;
    std::unique_ptr<webrtc::IceCandidateInterface> parsed(
        webrtc::CreateIceCandidate(sdpMid.value_or(""), sdpMLineIndex, candidate, &parseError));
    if (!parsed) {
      nativeLog("[PeerConn] addICECandidate failed: " + parseError.description + " — candidate=" + preview);
      return;
    }
    if (!self->impl_->keepRemoteCandidate(parsed->candidate(), sdpMid.value_or(""))) {
      nativeLog("[PeerConn] addICECandidate — candidate of an earlier ICE generation, dropped: " + preview);
      return;
    }
    pc->AddIceCandidate(std::move(parsed), [preview, mid = sdpMid.value_or("nil"), sdpMLineIndex](webrtc::RTCError error) {
      if (error.ok()) {
        nativeLog("[PeerConn] addICECandidate OK — sdpMid=" + mid + " idx=" + std::to_string(sdpMLineIndex));
      } else {
        nativeLog("[PeerConn] addICECandidate failed: " + std::string(error.message()) + " — candidate=" + preview);
      }
    });
  });
}

void CallPeerConnection::addLocalVideoTrack(std::function<void(VideoTrackHandle, VideoSourceHandle)> completion) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  impl_->peerQueue.post([weak = weak_from_this(), completion = std::move(completion)] {
    auto self = weak.lock();
    if (!self || !self->impl_->factory || !self->impl_->peerConnection) {
      nativeLog("[PeerConn] addLocalVideoTrack — factory/pc nil, aborting upgrade");
      platform::mainQueue().post([completion] { completion(nullptr, nullptr); });
      return;
    }
    Impl& d = *self->impl_;
    if (d.localVideoTrack && d.videoSource) {
      nativeLog("[PeerConn] addLocalVideoTrack — already has video track, reusing it");
    } else {
      d.videoSource = rtc::make_ref_counted<LocalVideoSource>();
      d.localVideoTrack = d.factory->CreateVideoTrack(kVideoTrackId, d.videoSource.get());
      auto added = d.peerConnection->AddTrack(d.localVideoTrack, {kStreamId});
      d.upgradeSender = added.ok() ? added.value() : nullptr;
      nativeLog("[PeerConn] ✅ Local video track added mid-call — renegotiation will follow");
    }
    auto track = std::make_shared<VideoTrackRef>(VideoTrackRef{d.localVideoTrack});
    auto source = std::make_shared<VideoSourceRef>(VideoSourceRef{d.videoSource});
    d.onMain(d.generation, [completion, track, source] { completion(track, source); });
  });
}

void CallPeerConnection::replaceLocalVideoTrack(VideoTrackHandle track, std::function<void()> completion) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  impl_->peerQueue.post([weak = weak_from_this(), track = std::move(track), completion = std::move(completion)] {
    auto done = [completion] {
      if (completion) platform::mainQueue().post(completion);
    };
    auto self = weak.lock();
    if (!self || !self->impl_->peerConnection) return done();
    Impl& d = *self->impl_;
    // The sender is found by what its transceiver carries, not by its current
    // track: a sender emptied by an earlier replacement must still be found
    // to put the camera or the screen back.
    rtc::scoped_refptr<webrtc::RtpSenderInterface> sender;
    for (const auto& transceiver : d.peerConnection->GetTransceivers()) {
      if (transceiver->media_type() == cricket::MEDIA_TYPE_VIDEO && !transceiver->stopped()) {
        sender = transceiver->sender();
        break;
      }
    }
    if (!sender) {
      nativeLog("[PeerConn] replaceLocalVideoTrack — no existing video sender found");
      return done();
    }
    rtc::scoped_refptr<webrtc::VideoTrackInterface> video = track ? track->track : nullptr;
    (void)sender->SetTrack(video.get());
    d.localVideoTrack = video;
    nativeLog("[PeerConn] replaceLocalVideoTrack OK — trackId=" + (video ? video->id() : std::string("nil")));
    self->applySenderCaps("video track replaced");
    done();
  });
}

void CallPeerConnection::makeVideoTrack(
    const std::string& trackId,
    std::function<void(VideoTrackHandle, VideoSourceHandle, VideoTrackHandle)> completion) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  impl_->peerQueue.post([weak = weak_from_this(), trackId, completion = std::move(completion)] {
    auto self = weak.lock();
    if (!self || !self->impl_->factory || !self->impl_->peerConnection) {
      platform::mainQueue().post([completion] { completion(nullptr, nullptr, nullptr); });
      return;
    }
    Impl& d = *self->impl_;
    auto source = rtc::make_ref_counted<LocalVideoSource>(trackId.starts_with("screen"));
    auto track = std::make_shared<VideoTrackRef>(VideoTrackRef{d.factory->CreateVideoTrack(trackId, source.get())});
    auto sourceHandle = std::make_shared<VideoSourceRef>(VideoSourceRef{source});
    // The track on the video sender, found as replaceLocalVideoTrack finds
    // the sender: none when the call has no video sender at all.
    rtc::scoped_refptr<webrtc::VideoTrackInterface> onSender;
    for (const auto& transceiver : d.peerConnection->GetTransceivers()) {
      if (transceiver->media_type() == cricket::MEDIA_TYPE_VIDEO && !transceiver->stopped()) {
        auto senderTrack = transceiver->sender()->track();
        if (senderTrack) onSender = rtc::scoped_refptr<webrtc::VideoTrackInterface>(
                             static_cast<webrtc::VideoTrackInterface*>(senderTrack.get()));
        break;
      }
    }
    VideoTrackHandle current = onSender ? std::make_shared<VideoTrackRef>(VideoTrackRef{onSender}) : nullptr;
    d.onMain(d.generation, [completion, track, sourceHandle, current] { completion(track, sourceHandle, current); });
  });
}

void CallPeerConnection::cancelVideoUpgrade(std::function<void()> completion) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  impl_->peerQueue.post([weak = weak_from_this(), completion = std::move(completion)] {
    auto done = [completion] {
      if (completion) platform::mainQueue().post(completion);
    };
    auto self = weak.lock();
    rtc::scoped_refptr<webrtc::PeerConnectionInterface> pc = self ? self->impl_->peerConnection : nullptr;
    if (!pc) return done();
    // The sender goes once the rollback has been applied (or was not
    // needed), on the peer queue again, so the peer queue never waits on
    // WebRTC.
    auto removeSender = [weak, done, connection = self->impl_->generation.load()] {
      auto self = weak.lock();
      if (!self || !self->impl_->isCurrent(connection)) return done();
      Impl& d = *self->impl_;
      if (d.upgradeSender) {
        auto removed = d.peerConnection->RemoveTrackOrError(d.upgradeSender);
        if (!removed.ok()) nativeLog("[PeerConn] cancelVideoUpgrade — RemoveTrack failed: " + std::string(removed.message()));
        for (const auto& transceiver : d.peerConnection->GetTransceivers()) {
          if (transceiver->sender() == d.upgradeSender) (void)transceiver->StopStandard();
        }
        d.upgradeSender = nullptr;
        d.localVideoTrack = nullptr;
        d.videoSource = nullptr;
        nativeLog("[PeerConn] cancelVideoUpgrade — upgrade video sender removed");
      }
      done();
    };
    if (pc->signaling_state() != webrtc::PeerConnectionInterface::kHaveLocalOffer) {
      return self->impl_->peerQueue.post(removeSender);
    }
    nativeLog("[PeerConn] cancelVideoUpgrade — rolling back the unanswered upgrade offer");
    auto rolledBack = [weak, removeSender](webrtc::RTCError error) {
      if (!error.ok()) nativeLog("[PeerConn] cancelVideoUpgrade — rollback failed: " + std::string(error.message()));
      if (auto self = weak.lock()) self->impl_->peerQueue.post(removeSender);
    };
    pc->SetLocalDescription(webrtc::CreateSessionDescription(webrtc::SdpType::kRollback, ""),
                            rtc::make_ref_counted<SetLocalObserver>(std::move(rolledBack)));
  });
}

namespace {

// What follows WebRTC's restart offer or answer: set (Opus-tuned), then handed
// on as JSON text, or nothing when either step failed.
CreateObserver::Done restartDescriptionCreated(rtc::scoped_refptr<webrtc::PeerConnectionInterface> pc, bool offer,
                                               std::function<void(std::optional<std::string>)> complete) {
  const std::string kind = offer ? "restart offer" : "restart answer";
  return [pc, offer, kind, complete](std::unique_ptr<webrtc::SessionDescriptionInterface> description,
                                     webrtc::RTCError error) {
    if (!error.ok() || !description) {
      nativeLog("[ICERestart] " + kind + "() failed: " + (error.ok() ? std::string("nil sdp") : std::string(error.message())));
      return complete(std::nullopt);
    }
    applyTunedLocalDescription(pc, kind, std::move(description),
                               [offer, kind, complete](const std::string& sdp, webrtc::RTCError error) {
                                 if (!error.ok()) {
                                   nativeLog("[ICERestart] setLocalDescription(" + kind + ") failed: " +
                                             std::string(error.message()));
                                   return complete(std::nullopt);
                                 }
                                 nativeLog("[ICERestart] " + kind + " ready sdp_len=" + std::to_string(displayLength(sdp)));
                                 complete(describeSessionDescription(offer, sdp));
                               });
  };
}

}  // namespace

void CallPeerConnection::createIceRestartOffer(DescriptionCompletion completion) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  impl_->peerQueue.post([weak = weak_from_this(), completion = std::move(completion)] {
    auto self = weak.lock();
    auto nothing = [completion] { platform::mainQueue().post([completion] { completion(std::nullopt); }); };
    rtc::scoped_refptr<webrtc::PeerConnectionInterface> pc = self ? self->impl_->peerConnection : nullptr;
    if (!pc) {
      nativeLog("[ICERestart] createIceRestartOffer — peerConnection is nil");
      return nothing();
    }
    const auto state = pc->signaling_state();
    if (state != webrtc::PeerConnectionInterface::kStable && state != webrtc::PeerConnectionInterface::kHaveLocalOffer) {
      nativeLog("[ICERestart] createIceRestartOffer — signalingState=" + std::to_string(state) + ", skipped");
      return nothing();
    }
    Impl& d = *self->impl_;
    d.prepareForIceRestart("caller");
    pc->RestartIce();
    webrtc::PeerConnectionInterface::RTCOfferAnswerOptions restart;
    restart.ice_restart = true;
    const std::uint64_t connection = d.generation;
    auto complete = [weak, connection, completion](std::optional<std::string> description) {
      if (auto self = weak.lock()) self->impl_->onMain(connection, [completion, description] { completion(description); });
    };
    auto created = restartDescriptionCreated(pc, /*offer=*/true, complete);
    pc->CreateOffer(rtc::make_ref_counted<CreateObserver>(std::move(created)).get(), restart);
  });
}

void CallPeerConnection::answerIceRestartOffer(const SDPPayload& offer, std::function<void()> onRemoteApplied,
                                               DescriptionCompletion completion) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  impl_->peerQueue.post([weak = weak_from_this(), offer, onRemoteApplied = std::move(onRemoteApplied),
                         completion = std::move(completion)]() mutable {
    auto self = weak.lock();
    rtc::scoped_refptr<webrtc::PeerConnectionInterface> pc = self ? self->impl_->peerConnection : nullptr;
    if (!pc) {
      nativeLog("[ICERestart] answerIceRestartOffer — peerConnection is nil");
      platform::mainQueue().post([completion] { completion(std::nullopt); });
      return;
    }
    if (pc->signaling_state() != webrtc::PeerConnectionInterface::kHaveLocalOffer) {
      return self->impl_->answerRestartOffer(offer, std::move(onRemoteApplied), std::move(completion));
    }
    // Collision: the peer's offer wins. The answer goes on from the
    // rollback's report, queued behind what was asked meanwhile, so the peer
    // queue never waits on WebRTC.
    nativeLog("[ICERestart] answerIceRestartOffer — rolling back our own pending offer (peer's offer wins)");
    const std::uint64_t connection = self->impl_->generation;
    auto rolledBack = [weak, connection, offer, onRemoteApplied = std::move(onRemoteApplied),
                       completion = std::move(completion)](webrtc::RTCError error) mutable {
      if (!error.ok()) nativeLog("[ICERestart] rollback failed: " + std::string(error.message()));
      auto self = weak.lock();
      if (!self) return;
      auto next = [weak, offer, onRemoteApplied = std::move(onRemoteApplied), completion]() mutable {
        if (auto self = weak.lock()) self->impl_->answerRestartOffer(offer, std::move(onRemoteApplied), completion);
      };
      self->impl_->peerQueue.post([weak, connection, next = std::move(next), completion]() mutable {
        auto self = weak.lock();
        if (self && self->impl_->isCurrent(connection)) return next();
        // The connection closed meanwhile: the owner still hears the end.
        platform::mainQueue().post([completion] { completion(std::nullopt); });
      });
    };
    pc->SetLocalDescription(webrtc::CreateSessionDescription(webrtc::SdpType::kRollback, ""),
                            rtc::make_ref_counted<SetLocalObserver>(std::move(rolledBack)));
  });
}

void CallPeerConnection::Impl::answerRestartOffer(const SDPPayload& offer, std::function<void()> onRemoteApplied,
                                                  DescriptionCompletion completion) {
  auto nothing = [completion] { platform::mainQueue().post([completion] { completion(std::nullopt); }); };
  rtc::scoped_refptr<webrtc::PeerConnectionInterface> pc = peerConnection;
  if (!pc) {
    nativeLog("[ICERestart] answerIceRestartOffer — peerConnection is nil");
    return nothing();
  }
  const auto state = pc->signaling_state();
  if (state != webrtc::PeerConnectionInterface::kStable) {
    nativeLog("[ICERestart] answerIceRestartOffer — signalingState=" + std::to_string(state) + ", skipped");
    return nothing();
  }
  prepareForIceRestart("callee", iceUfragOf(offer.sdp));
  const std::uint64_t connection = generation;
  std::weak_ptr<CallPeerConnection> weak = owner.weak_from_this();
  auto complete = [weak, connection, completion](std::optional<std::string> description) {
    if (auto self = weak.lock()) self->impl_->onMain(connection, [completion, description] { completion(description); });
  };
  auto answered = restartDescriptionCreated(pc, /*offer=*/false, complete);
  auto applied = [weak, pc, connection, onRemoteApplied, complete, answered](webrtc::RTCError error) {
    if (!error.ok()) {
      nativeLog("[ICERestart] setRemoteDescription(restart offer) failed: " + std::string(error.message()));
      return complete(std::nullopt);
    }
    if (auto self = weak.lock(); self && onRemoteApplied) self->impl_->onMain(connection, onRemoteApplied);
    pc->CreateAnswer(rtc::make_ref_counted<CreateObserver>(answered).get(),
                     webrtc::PeerConnectionInterface::RTCOfferAnswerOptions());
  };
  std::string parseError;
  auto description = parseDescription(webrtc::SdpType::kOffer, offer.sdp, parseError);
  if (!description) return applied(webrtc::RTCError(webrtc::RTCErrorType::INVALID_PARAMETER, parseError));
  pc->SetRemoteDescription(std::move(description), rtc::make_ref_counted<SetRemoteObserver>(std::move(applied)));
}

void CallPeerConnection::applyIceRestartAnswer(const SDPPayload& answer, std::function<void(bool)> completion) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  impl_->peerQueue.post([weak = weak_from_this(), answer, completion = std::move(completion)] {
    auto self = weak.lock();
    auto refused = [completion] { platform::mainQueue().post([completion] { completion(false); }); };
    rtc::scoped_refptr<webrtc::PeerConnectionInterface> pc = self ? self->impl_->peerConnection : nullptr;
    if (!pc) return refused();
    const auto state = pc->signaling_state();
    if (state != webrtc::PeerConnectionInterface::kHaveLocalOffer) {
      nativeLog("[ICERestart] applyIceRestartAnswer — signalingState=" + std::to_string(state) +
                ", no restart offer pending");
      return refused();
    }
    const std::uint64_t connection = self->impl_->generation;
    auto applied = [weak, connection, completion](webrtc::RTCError error) {
      if (!error.ok()) nativeLog("[ICERestart] setRemoteDescription(restart answer) failed: " + std::string(error.message()));
      if (auto self = weak.lock()) self->impl_->onMain(connection, [completion, ok = error.ok()] { completion(ok); });
    };
    std::string parseError;
    auto description = parseDescription(webrtc::SdpType::kAnswer, answer.sdp, parseError);
    if (!description) return applied(webrtc::RTCError(webrtc::RTCErrorType::INVALID_PARAMETER, parseError));
    pc->SetRemoteDescription(std::move(description), rtc::make_ref_counted<SetRemoteObserver>(std::move(applied)));
  });
}

void CallPeerConnection::sendDataChannelMessage(const std::string& text) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  impl_->peerQueue.post([weak = weak_from_this(), text] {
    if (auto self = weak.lock()) self->impl_->control.sendOrQueue(text);
  });
}

void CallPeerConnection::setLocalAudioEnabled(bool enabled) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  impl_->peerQueue.post([weak = weak_from_this(), enabled] {
    auto self = weak.lock();
    if (self && self->impl_->localAudioTrack) self->impl_->localAudioTrack->set_enabled(enabled);
  });
}

void CallPeerConnection::setLocalVideoEnabled(bool enabled, VideoTrackHandle cameraTrack) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  impl_->peerQueue.post([weak = weak_from_this(), enabled, cameraTrack = std::move(cameraTrack)] {
    auto self = weak.lock();
    if (!self) return;
    if (self->impl_->localVideoTrack) self->impl_->localVideoTrack->set_enabled(enabled);
    if (cameraTrack && cameraTrack->track) cameraTrack->track->set_enabled(enabled);
  });
}

void CallPeerConnection::setRemoteAudioEnabled(bool enabled) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  impl_->peerQueue.post([weak = weak_from_this(), enabled] {
    auto self = weak.lock();
    if (self && self->impl_->remoteAudioTrack) self->impl_->remoteAudioTrack->set_enabled(enabled);
  });
}

void CallPeerConnection::logDiagnostics() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  impl_->peerQueue.post([weak = weak_from_this()] {
    auto self = weak.lock();
    auto pc = self ? self->impl_->peerConnection : nullptr;
    if (!pc) {
      nativeLog("[PeerConn] DIAG — peerConnection is nil");
      return;
    }
    Impl& d = *self->impl_;
    nativeLog("[PeerConn] DIAG — ice=" + iceConnectionStateName(pc->ice_connection_state()) +
              " conn=" + peerConnectionStateName(static_cast<int>(pc->peer_connection_state())) +
              " gather=" + iceGatheringStateName(pc->ice_gathering_state()) +
              " localCandidatesSent=" + std::to_string(d.timeline.localCandidatesSent()) +
              " hasRemoteDesc=" + boolText(d.hasRemoteDescription) +
              " dataChannelState=" + std::to_string(d.control.stateNumber()) +
              " signalingState=" + std::to_string(pc->signaling_state()));
  });
}

void CallPeerConnection::applySenderCaps(const std::string& reason) {
  Impl& d = *impl_;
  if (!d.peerConnection) return;
  for (const auto& sender : d.peerConnection->GetSenders()) {
    auto track = sender->track();
    if (!track) continue;
    webrtc::RtpParameters parameters = sender->GetParameters();
    if (parameters.encodings.empty()) continue;
    const std::optional<SenderCaps> caps = senderCaps(track->kind(), track->id());
    if (!caps) continue;
    auto& encoding = parameters.encodings.front();
    encoding.max_bitrate_bps = caps->maxBitrateBps;
    if (caps->setsMaxFramerate) {
      encoding.max_framerate = caps->maxFramerate ? absl::optional<double>(*caps->maxFramerate) : absl::nullopt;
    }
    encoding.network_priority = webrtcPriority(caps->networkPriority);
    encoding.bitrate_priority = caps->bitratePriority;
    if (caps->degradation) {
      parameters.degradation_preference = webrtcDegradation(*caps->degradation);
    }
    // Senders come audio first: touching the video sender right after makes
    // the encoder pick up the lowered audio cap at once instead of at the
    // next bandwidth update.
    const webrtc::RTCError result = sender->SetParameters(parameters);
    // Read the caps back: WebRTC may refuse parameters without failing loudly.
    const webrtc::RtpParameters applied = sender->GetParameters();
    if (!result.ok() || applied.encodings.empty() ||
        applied.encodings.front().max_bitrate_bps != encoding.max_bitrate_bps) {
      nativeLog("[Media] ⚠️ sender caps did not take on the " + track->kind() + " sender (" + reason + "): " +
                (result.ok() ? std::string("read back differs") : std::string(result.message())));
    }
  }
  nativeLog(senderCapsLogLine(reason, d.localVideoTrack && d.localVideoTrack->id().starts_with("screen")));
}

void CallPeerConnection::scheduleSenderCaps(const std::string& reason) {
  impl_->peerQueue.post([weak = weak_from_this(), reason] {
    if (auto self = weak.lock()) self->applySenderCaps(reason);
  });
}

namespace {

class StatsCallback : public webrtc::RTCStatsCollectorCallback {
 public:
  StatsCallback(std::weak_ptr<CallPeerConnection> owner, std::string label, IceStatsSnapshot snapshot)
      : owner_(std::move(owner)), label_(std::move(label)), snapshot_(std::move(snapshot)) {}

  void OnStatsDelivered(const rtc::scoped_refptr<const webrtc::RTCStatsReport>& report) override {
    auto owner = owner_.lock();
    if (!owner || !report) return;
    const IceStatsReading reading = readIceStats(label_, snapshot_, readStatsReport(*report));
    owner->iceTimeline(reading.statsLine);
    if (reading.diagnosis) owner->iceTimeline(*reading.diagnosis);
  }

 private:
  std::weak_ptr<CallPeerConnection> owner_;
  std::string label_;
  IceStatsSnapshot snapshot_;
};

}  // namespace

void CallPeerConnection::requestIceStats(const std::string& label) {
  Impl& d = *impl_;
  auto connection = d.peerConnection;
  if (!connection) return;
  const bool relay = connection->GetConfiguration().type == webrtc::PeerConnectionInterface::kRelay;
  IceStatsSnapshot snapshot = d.timeline.snapshot(relay ? "relay" : "noHost",
                                                  d.hasRemoteDescription || connection->remote_description() != nullptr);
  connection->GetStats(rtc::make_ref_counted<StatsCallback>(weak_from_this(), label, std::move(snapshot)).get());
}

void CallPeerConnection::checkStillConnecting() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  impl_->peerQueue.post([weak = weak_from_this()] {
    auto self = weak.lock();
    if (!self) return;
    self->iceTimeline("⏱ still not connected — ICE state=" + self->impl_->timeline.iceStateName());
    self->requestIceStats("still not connected");
  });
}

void CallPeerConnection::iceTimeline(const std::string& text) const { impl_->timeline.line(text); }
IceConnectionState CallPeerConnection::lastIceState() const { return impl_->timeline.lastIceState(); }
std::vector<std::string> CallPeerConnection::iceGatherErrors() const { return impl_->timeline.gatherErrors(); }

bool CallPeerConnection::hasPeerConnection() const { return impl_->peerConnection != nullptr; }
bool CallPeerConnection::hasDataChannel() const { return impl_->control.hasChannel(); }
bool CallPeerConnection::hasLocalAudioTrack() const { return impl_->localAudioTrack != nullptr; }
bool CallPeerConnection::hasLocalVideoTrack() const { return impl_->localVideoTrack != nullptr && impl_->videoSource; }
bool CallPeerConnection::hasRemoteDescription() const { return impl_->hasRemoteDescription; }
std::size_t CallPeerConnection::pendingDataChannelMessageCount() const { return impl_->control.pendingCount(); }

webrtc::PeerConnectionInterface* webrtcConnection(CallPeerConnection& connection) {
  return connection.impl_->peerConnection.get();
}

webrtc::PeerConnectionFactoryInterface* webrtcFactory(CallPeerConnection& connection) {
  return connection.impl_->factory.get();
}

}  // namespace orvik
