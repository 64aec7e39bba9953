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
#include <rtc_base/thread.h>

#include <cstdio>
#include <mutex>

#include "calls/media/call_audio_device.h"
#include "calls/media/call_audio_device_module.h"
#include "calls/media/call_peer_connection_internal.h"
#include "calls/media/ice_diagnostics.h"
#include "calls/media/peer_configuration.h"
#include "calls/media/sdp_tuning.h"
#include "calls/signaling/ice_config.h"
#include "core/native_logger.h"
#include "platform/dispatch/clock.h"
#include "platform/dispatch/task_queue.h"
#include "platform/user_defaults.h"

namespace orvik {
namespace {

constexpr const char* kAudioTrackId = "audio0";
constexpr const char* kVideoTrackId = "video0";
constexpr const char* kStreamId = "stream0";
constexpr const char* kDataChannelLabel = "control";

const char* boolText(bool value) { return value ? "true" : "false"; }

// Frames from the camera or the screen enter WebRTC here.
class OrvikVideoSource : public rtc::AdaptedVideoTrackSource {
 public:
  bool is_screencast() const override { return false; }
  absl::optional<bool> needs_denoising() const override { return false; }
  webrtc::MediaSourceInterface::SourceState state() const override { return kLive; }
  bool remote() const override { return false; }
  void deliverFrame(const webrtc::VideoFrame& frame) { OnFrame(frame); }
};

// A fresh device for each call, published as the current one for routing.
rtc::scoped_refptr<webrtc::AudioDeviceModule> makeCallAudioDevice() {
  auto device = std::make_shared<CallAudioDevice>(platform::AudioHardware::shared());
  CallAudioDevice::setCurrent(device);
  return makeCallAudioDeviceModule(std::move(device));
}

nlohmann::json memberValue(const webrtc::RTCStatsMemberInterface& member) {
  using Member = webrtc::RTCStatsMemberInterface;
  switch (member.type()) {
    case Member::kBool: return *member.cast_to<webrtc::RTCStatsMember<bool>>();
    case Member::kInt32: return *member.cast_to<webrtc::RTCStatsMember<int32_t>>();
    case Member::kUint32: return *member.cast_to<webrtc::RTCStatsMember<uint32_t>>();
    case Member::kInt64: return *member.cast_to<webrtc::RTCStatsMember<int64_t>>();
    case Member::kUint64: return *member.cast_to<webrtc::RTCStatsMember<uint64_t>>();
    case Member::kDouble: return *member.cast_to<webrtc::RTCStatsMember<double>>();
    case Member::kString: return *member.cast_to<webrtc::RTCStatsMember<std::string>>();
    default: return nlohmann::json::parse(member.ValueToJson(), nullptr, false);
  }
}

std::vector<StatsEntry> readReport(const webrtc::RTCStatsReport& report) {
  std::vector<StatsEntry> entries;
  for (const webrtc::RTCStats& stats : report) {
    StatsEntry entry{stats.type(), stats.id()};
    for (const auto* member : stats.Members()) {
      if (member->is_defined()) entry.members[member->name()] = memberValue(*member);
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

IceConnectionState toState(webrtc::PeerConnectionInterface::IceConnectionState state) {
  return static_cast<IceConnectionState>(static_cast<int>(state));
}

}  // namespace

struct CallPeerConnection::Impl : public webrtc::PeerConnectionObserver, public webrtc::DataChannelObserver {
  explicit Impl(CallPeerConnection& owner, std::shared_ptr<TestHooks> hooks)
      : owner(owner), hooks(std::move(hooks)), iceStartedAt(platform::systemClock().monotonicNow()) {
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
  void teardown() {
    if (dataChannel) {
      dataChannel->UnregisterObserver();
      dataChannel->Close();
      dataChannel = nullptr;
    }
    pendingDataChannelMessages.clear();
    if (peerConnection) {
      peerConnection->Close();
      peerConnection = nullptr;
    }
    localAudioTrack = nullptr;
    localVideoTrack = nullptr;
    remoteVideoTrack = nullptr;
    remoteAudioTrack = nullptr;
    videoSource = nullptr;
    factory = nullptr;
    hasRemoteDescription = false;
    localCandidatesSent = 0;
    {
      std::lock_guard lock(candidateTypesLock);
      localCandidateTypes.clear();
      remoteCandidateTypes.clear();
    }
    std::lock_guard lock(iceStateLock);
    lastIceState = IceConnectionState::newState;
  }

  template <typename Call>
  void tellDelegate(Call call) {
    platform::mainQueue().post([weak = owner.weak_from_this(), call = std::move(call)] {
      auto self = weak.lock();
      if (!self) return;
      if (auto delegate = self->impl_->delegate.lock()) call(*delegate);
    });
  }

  // PeerConnectionObserver, on WebRTC's signalling thread.
  void OnSignalingChange(webrtc::PeerConnectionInterface::SignalingState) override {}
  // TODO(#9): the callee adopts the caller's "control" channel here.
  void OnDataChannel(rtc::scoped_refptr<webrtc::DataChannelInterface>) override {}
  void OnIceGatheringChange(webrtc::PeerConnectionInterface::IceGatheringState) override {}
  void OnIceCandidate(const webrtc::IceCandidateInterface* candidate) override {
    LocalIceCandidate local{candidate->sdp_mid(), candidate->sdp_mline_index(), {}};
    candidate->ToString(&local.candidate);
    ++localCandidatesSent;
    owner.recordCandidateType(local.candidate, /*isRemote=*/false);
    tellDelegate([local = std::move(local)](CallPeerConnectionDelegate& d) { d.peerConnectionDidGenerateCandidate(local); });
  }
  void OnIceConnectionChange(webrtc::PeerConnectionInterface::IceConnectionState state) override {
    const IceConnectionState ours = toState(state);
    {
      std::lock_guard lock(iceStateLock);
      lastIceState = ours;
    }
    tellDelegate([ours](CallPeerConnectionDelegate& d) { d.peerConnectionDidChangeIceState(ours); });
  }

  // DataChannelObserver. TODO(#9): open/flush and received messages.
  void OnStateChange() override {}
  void OnMessage(const webrtc::DataBuffer&) override {}

  CallPeerConnection& owner;
  std::shared_ptr<TestHooks> hooks;
  std::weak_ptr<CallPeerConnectionDelegate> delegate;
  platform::SerialQueue peerQueue{"orvik.call.peer"};
  std::unique_ptr<rtc::Thread> network;
  std::unique_ptr<rtc::Thread> worker;
  std::unique_ptr<rtc::Thread> signaling;
  std::unique_ptr<webrtc::TaskQueueFactory> taskQueueFactory = webrtc::CreateDefaultTaskQueueFactory();

  rtc::scoped_refptr<webrtc::PeerConnectionFactoryInterface> factory;
  rtc::scoped_refptr<webrtc::PeerConnectionInterface> peerConnection;
  rtc::scoped_refptr<webrtc::AudioTrackInterface> localAudioTrack;
  rtc::scoped_refptr<webrtc::VideoTrackInterface> localVideoTrack;
  rtc::scoped_refptr<webrtc::VideoTrackInterface> remoteVideoTrack;
  rtc::scoped_refptr<webrtc::AudioTrackInterface> remoteAudioTrack;
  rtc::scoped_refptr<OrvikVideoSource> videoSource;
  rtc::scoped_refptr<webrtc::DataChannelInterface> dataChannel;
  std::vector<std::string> pendingDataChannelMessages;
  bool hasRemoteDescription = false;
  std::atomic<std::int64_t> localCandidatesSent{0};

  mutable std::mutex candidateTypesLock;
  CandidateTally localCandidateTypes;
  CandidateTally remoteCandidateTypes;

  mutable std::mutex iceStateLock;
  IceConnectionState lastIceState = IceConnectionState::newState;

  mutable std::mutex iceDiagLock;
  platform::Clock::MonotonicTime iceStartedAt;
  std::optional<platform::Clock::MonotonicTime> iceCheckingAt;
  std::atomic<bool> isCallerRole{false};
  std::string prevIceStateName = "new";
  std::string prevGatherStateName = "new";
  std::string prevConnStateName = "new";
  bool firstLocalCandidateLogged = false;
  bool firstRemoteCandidateLogged = false;
  std::vector<std::string> iceGatherErrors;
};

std::shared_ptr<CallPeerConnection> CallPeerConnection::create(std::shared_ptr<TestHooks> hooks) {
  return std::shared_ptr<CallPeerConnection>(new CallPeerConnection(std::move(hooks)));
}

CallPeerConnection::CallPeerConnection(std::shared_ptr<TestHooks> hooks)
    : impl_(std::make_unique<Impl>(*this, std::move(hooks))) {}

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
  impl_->delegate = std::move(delegate);
}

platform::SerialQueue& CallPeerConnection::peerQueue() { return impl_->peerQueue; }

BuildResult CallPeerConnection::buildPeerConnection(const std::vector<ICEServer>& iceServers,
                                                    const std::string& serverPolicy, bool isVideo, bool isCaller) {
  Impl& d = *impl_;
  if (d.peerConnection) {
    nativeLog("[PeerConn] buildPeerConnection refused — the current call's connection is still open; keeping it");
    return BuildResult::refusedOpenConnection;
  }
  d.hasRemoteDescription = false;
  d.localCandidatesSent = 0;
  {
    std::lock_guard lock(d.candidateTypesLock);
    d.localCandidateTypes.clear();
    d.remoteCandidateTypes.clear();
  }
  {
    std::lock_guard lock(d.iceDiagLock);
    d.iceStartedAt = platform::systemClock().monotonicNow();
    d.iceCheckingAt.reset();
    d.isCallerRole = isCaller;
    d.prevIceStateName = d.prevGatherStateName = d.prevConnStateName = "new";
    d.firstLocalCandidateLogged = d.firstRemoteCandidateLogged = false;
    d.iceGatherErrors.clear();
  }
  const bool hasTurn = hasTurnServer(iceServers);
  nativeLog("[PeerConn] buildPeerConnection isVideo=" + std::string(boolText(isVideo)) +
            " iceServers=" + std::to_string(iceServers.size()) + " policy=" + serverPolicy +
            " hasTurn=" + boolText(hasTurn) + " | " + describeICEServers(iceServers));

  rtc::scoped_refptr<webrtc::AudioDeviceModule> audioDevice;
  if (d.hooks && d.hooks->audioDevice) {
    audioDevice = d.hooks->audioDevice(*d.taskQueueFactory);
  } else if (CallAudioDevice::isCustomDeviceEnabled(platform::UserDefaults::standard())) {
    audioDevice = makeCallAudioDevice();
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
  auto fail = [&] {
    d.tellDelegate([](CallPeerConnectionDelegate& delegate) {
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
    iceTimeline("network: routable IPv4=yes → IPv6 gathering off");
  } else {
    iceTimeline("network: routable IPv4=NO (IPv6-only/NAT64?) → IPv6 kept");
  }
  iceTimeline(std::string("peer connection created — role=") + (isCaller ? "caller (sends offer)" : "callee (answers)") +
              " video=" + boolText(isVideo) +
              " policy=" + policyDescription(config.type == webrtc::PeerConnectionInterface::kRelay ? IcePolicy::relay
                                                                                                  : IcePolicy::noHost) +
              " servers=" + std::to_string(iceServers.size()) + " hasTurn=" + boolText(hasTurn));

  auto created = d.factory->CreatePeerConnectionOrError(config, webrtc::PeerConnectionDependencies(&d));
  if (!created.ok()) return fail();
  d.peerConnection = created.MoveValue();

  auto audioSource = d.factory->CreateAudioSource(cricket::AudioOptions());
  d.localAudioTrack = d.factory->CreateAudioTrack(kAudioTrackId, audioSource.get());
  (void)d.peerConnection->AddTrack(d.localAudioTrack, {kStreamId});
  if (isVideo) {
    d.videoSource = rtc::make_ref_counted<OrvikVideoSource>();
    d.localVideoTrack = d.factory->CreateVideoTrack(kVideoTrackId, d.videoSource.get());
    (void)d.peerConnection->AddTrack(d.localVideoTrack, {kStreamId});
  }
  if (isCaller) {
    webrtc::DataChannelInit init;
    init.ordered = true;
    auto channel = d.peerConnection->CreateDataChannelOrError(kDataChannelLabel, &init);
    if (channel.ok()) {
      d.dataChannel = channel.MoveValue();
      d.dataChannel->RegisterObserver(&d);
      nativeLog("[PeerConn] Data channel created label=control (caller)");
    }
  } else {
    nativeLog("[PeerConn] Callee — skipping local DC creation; will receive via didOpen");
  }
  return BuildResult::built;
}

void CallPeerConnection::close() {
  impl_->peerQueue.post([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->impl_->teardown();
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
    auto& encoding = parameters.encodings.front();
    if (track->kind() == webrtc::MediaStreamTrackInterface::kAudioKind) {
      encoding.max_bitrate_bps = 24000;
      encoding.network_priority = webrtc::Priority::kHigh;
      encoding.bitrate_priority = 4.0;
    } else if (track->kind() == webrtc::MediaStreamTrackInterface::kVideoKind) {
      const bool screen = track->id().starts_with("screen");
      encoding.max_bitrate_bps = screen ? 2500000 : 1500000;
      encoding.max_framerate = screen ? absl::optional<double>(15) : absl::nullopt;
      encoding.network_priority = webrtc::Priority::kLow;
      encoding.bitrate_priority = 1.0;
      parameters.degradation_preference = screen ? webrtc::DegradationPreference::MAINTAIN_RESOLUTION
                                                 : webrtc::DegradationPreference::MAINTAIN_FRAMERATE;
    } else {
      continue;
    }
    // Senders come audio first: touching the video sender right after makes
    // the encoder pick up the lowered audio cap at once instead of at the
    // next bandwidth update.
    (void)sender->SetParameters(parameters);
  }
  const bool screen = d.localVideoTrack && d.localVideoTrack->id().starts_with("screen");
  nativeLog("[Media] sender caps applied (" + reason + ") — audio 24 kbps high-priority, video " +
            (screen ? "screen 2.5 Mbps/15fps" : "camera 1.5 Mbps") + " low-priority");
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
    const IceStatsReading reading = readIceStats(label_, snapshot_, readReport(*report));
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
  IceStatsSnapshot snapshot;
  snapshot.policyName =
      connection->GetConfiguration().type == webrtc::PeerConnectionInterface::kRelay ? "relay" : "noHost";
  {
    std::lock_guard lock(d.candidateTypesLock);
    snapshot.localTypes = d.localCandidateTypes;
    snapshot.remoteTypes = d.remoteCandidateTypes;
  }
  {
    std::lock_guard lock(d.iceDiagLock);
    snapshot.gatherErrors = d.iceGatherErrors;
  }
  snapshot.hasRemoteDescription = d.hasRemoteDescription || connection->remote_description() != nullptr;
  connection->GetStats(rtc::make_ref_counted<StatsCallback>(weak_from_this(), label, std::move(snapshot)).get());
}

void CallPeerConnection::checkStillConnecting() {
  impl_->peerQueue.post([weak = weak_from_this()] {
    auto self = weak.lock();
    if (!self) return;
    std::string state;
    {
      std::lock_guard lock(self->impl_->iceDiagLock);
      state = self->impl_->prevIceStateName;
    }
    self->iceTimeline("⏱ still not connected — ICE state=" + state);
    self->requestIceStats("still not connected");
  });
}

void CallPeerConnection::iceTimeline(const std::string& text) const {
  platform::Clock::MonotonicTime startedAt;
  {
    std::lock_guard lock(impl_->iceDiagLock);
    startedAt = impl_->iceStartedAt;
  }
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.2f", platform::systemClock().secondsSince(startedAt));
  nativeLog("[ICE] " + std::string(impl_->isCallerRole ? "caller" : "callee") + " +" + seconds + "s · " + text);
}

void CallPeerConnection::recordCandidateType(const std::string& candidateLine, bool isRemote) {
  const std::string type = candidateType(candidateLine);
  std::lock_guard lock(impl_->candidateTypesLock);
  ++(isRemote ? impl_->remoteCandidateTypes : impl_->localCandidateTypes)[type];
}

std::string CallPeerConnection::candidateTypeSummary() const {
  std::lock_guard lock(impl_->candidateTypesLock);
  return orvik::candidateTypeSummary(impl_->localCandidateTypes, impl_->remoteCandidateTypes);
}

IceConnectionState CallPeerConnection::lastIceState() const {
  std::lock_guard lock(impl_->iceStateLock);
  return impl_->lastIceState;
}

std::vector<std::string> CallPeerConnection::iceGatherErrors() const {
  std::lock_guard lock(impl_->iceDiagLock);
  return impl_->iceGatherErrors;
}

bool CallPeerConnection::hasPeerConnection() const { return impl_->peerConnection != nullptr; }
bool CallPeerConnection::hasDataChannel() const { return impl_->dataChannel != nullptr; }
bool CallPeerConnection::hasLocalAudioTrack() const { return impl_->localAudioTrack != nullptr; }
bool CallPeerConnection::hasLocalVideoTrack() const { return impl_->localVideoTrack != nullptr && impl_->videoSource; }
bool CallPeerConnection::hasRemoteDescription() const { return impl_->hasRemoteDescription; }

webrtc::PeerConnectionInterface* webrtcConnection(CallPeerConnection& connection) {
  return connection.impl_->peerConnection.get();
}

namespace {

class SetLocalObserver : public webrtc::SetLocalDescriptionObserverInterface {
 public:
  explicit SetLocalObserver(std::function<void(webrtc::RTCError)> done) : done_(std::move(done)) {}
  void OnSetLocalDescriptionComplete(webrtc::RTCError error) override { done_(std::move(error)); }

 private:
  std::function<void(webrtc::RTCError)> done_;
};

}  // namespace

void applyTunedLocalDescription(CallPeerConnection& connection, const std::string& label,
                                std::unique_ptr<webrtc::SessionDescriptionInterface> description,
                                std::function<void(const std::string& sdp, webrtc::RTCError error)> done) {
  rtc::scoped_refptr<webrtc::PeerConnectionInterface> pc(webrtcConnection(connection));
  if (!pc) return;
  std::string original;
  description->ToString(&original);
  const std::string tuned = tuneOpus(original);
  const webrtc::SdpType type = description->GetType();
  if (tuned == original) {
    pc->SetLocalDescription(std::move(description), rtc::make_ref_counted<SetLocalObserver>(
                                                        [done, original](webrtc::RTCError error) { done(original, std::move(error)); }));
    return;
  }
  auto tunedDescription = webrtc::CreateSessionDescription(type, tuned);
  if (!tunedDescription) tunedDescription = webrtc::CreateSessionDescription(type, original);
  pc->SetLocalDescription(
      std::move(tunedDescription),
      rtc::make_ref_counted<SetLocalObserver>([pc, label, type, original, tuned, done](webrtc::RTCError error) {
        if (error.ok()) {
          nativeLog("[Media] " + label + ": Opus tuned (24 kbps mono, FEC, DTX, 60 ms)");
          done(tuned, std::move(error));
          return;
        }
        nativeLog("[Media] " + label + ": tuned SDP rejected (" + std::string(error.message()) + ") — using the original");
        pc->SetLocalDescription(webrtc::CreateSessionDescription(type, original),
                                rtc::make_ref_counted<SetLocalObserver>(
                                    [done, original](webrtc::RTCError second) { done(original, std::move(second)); }));
      }));
}

}  // namespace orvik
