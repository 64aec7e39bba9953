#include "calls/media/test_support/loopback_call.h"

#include <api/stats/rtcstats_objects.h>
#include <modules/audio_device/include/test_audio_device.h>
#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <future>
#include <thread>

#include "platform/test_support/background_process.h"
#include "platform/test_support/subprocess.h"
#include "platform/test_support/temp_dir.h"

namespace orvik::testing {
namespace {

std::shared_ptr<CallPeerConnection> makeSide(bool allowAllCandidates, std::shared_ptr<RecordingPeerDelegate>& events) {
  auto connection = CallPeerConnection::create({}, loopbackHooks(allowAllCandidates));
  events = std::make_shared<RecordingPeerDelegate>();
  connection->setDelegate(events);
  return connection;
}

// A UDP port on loopback that nothing listens on right now.
// 0 when no port could be had.
int freeUdpPort() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
  ::close(fd);
  return ok ? ntohs(address.sin_port) : 0;
}

}  // namespace

struct LocalTurnServer::State {
  TempDir runtime;
  int port = 0;
  int minRelayPort = 49152;
  int maxRelayPort = 49300;
  std::unique_ptr<BackgroundProcess> process;

  bool launch() {
    process = BackgroundProcess::start(
        {"turnserver", "-n", "--listening-ip=127.0.0.1", "--relay-ip=127.0.0.1",
         "--listening-port=" + std::to_string(port), "--lt-cred-mech", "--user=orvik:secret", "--realm=orvik.test",
         "--allow-loopback-peers", "--no-tls", "--no-dtls", "--no-cli", "--log-file=stdout",
         "--min-port=" + std::to_string(minRelayPort), "--max-port=" + std::to_string(maxRelayPort), "--pidfile=" + (runtime.path() / "turn.pid").string(),
         "--userdb=" + (runtime.path() / "turn.db").string()});
    return process && process->waitForLine(
                          [](const std::string& line) { return line.find("Total General servers") != std::string::npos; },
                          10.0);
  }
};

LocalTurnServer::LocalTurnServer(std::unique_ptr<State> state) : state_(std::move(state)) {}
LocalTurnServer::~LocalTurnServer() = default;

std::unique_ptr<LocalTurnServer> LocalTurnServer::start(int minRelayPort, int maxRelayPort) {
  if (!hasProgram("turnserver")) return nullptr;
  auto state = std::make_unique<State>();
  state->port = freeUdpPort();
  if (state->port == 0) return nullptr;
  state->minRelayPort = minRelayPort;
  state->maxRelayPort = maxRelayPort;
  if (!state->launch()) return nullptr;
  return std::unique_ptr<LocalTurnServer>(new LocalTurnServer(std::move(state)));
}

void LocalTurnServer::stop() {
  if (state_->process) state_->process->kill();
  state_->process.reset();
}

bool LocalTurnServer::restart(int onlyRelayPort) {
  stop();
  if (onlyRelayPort != 0) state_->minRelayPort = state_->maxRelayPort = onlyRelayPort;
  return state_->launch();
}

std::vector<ICEServer> LocalTurnServer::iceServers() const {
  return {{{"turn:127.0.0.1:" + std::to_string(state_->port) + "?transport=udp"}, "orvik", "secret"}};
}

bool RecordingPeerDelegate::isConnected() const {
  return !states.empty() && states.back() == PeerConnectionState::connected;
}

bool RecordingPeerDelegate::saw(PeerConnectionState state) const {
  return std::find(states.begin(), states.end(), state) != states.end();
}

void RecordingPeerDelegate::clear() { *this = RecordingPeerDelegate(); }

std::string sdpOf(const std::string& descriptionJson) {
  const auto json = nlohmann::json::parse(descriptionJson, nullptr, false);
  return json.is_object() && json.contains("sdp") && json["sdp"].is_string() ? json["sdp"].get<std::string>()
                                                                              : std::string();
}

std::shared_ptr<CallPeerConnection::TestHooks> loopbackHooks(bool allowAllCandidates) {
  auto hooks = std::make_shared<CallPeerConnection::TestHooks>();
  hooks->allowLoopback = true;
  hooks->allowAllCandidates = allowAllCandidates;
  hooks->audioDevice = [](webrtc::TaskQueueFactory& taskQueues) {
    return rtc::scoped_refptr<webrtc::AudioDeviceModule>(webrtc::TestAudioDeviceModule::Create(
        &taskQueues, webrtc::TestAudioDeviceModule::CreatePulsedNoiseCapturer(1000, 48000),
        webrtc::TestAudioDeviceModule::CreateDiscardRenderer(48000)));
  };
  return hooks;
}

namespace {

class StatsWaiter : public webrtc::RTCStatsCollectorCallback {
 public:
  void OnStatsDelivered(const rtc::scoped_refptr<const webrtc::RTCStatsReport>& report) override {
    report_.set_value(report);
  }
  std::future<rtc::scoped_refptr<const webrtc::RTCStatsReport>> report() { return report_.get_future(); }

 private:
  std::promise<rtc::scoped_refptr<const webrtc::RTCStatsReport>> report_;
};

}  // namespace

std::uint64_t audioPacketsReceived(CallPeerConnection& side) {
  auto waiter = rtc::make_ref_counted<StatsWaiter>();
  auto report = waiter->report();
  const bool asked = onPeerQueue(side, [&] {
    auto* connection = webrtcConnection(side);
    if (connection) connection->GetStats(waiter.get());
    return connection != nullptr;
  });
  if (!asked) return 0;
  std::uint64_t packets = 0;
  for (const auto* inbound : report.get()->GetStatsOfType<webrtc::RTCInboundRTPStreamStats>()) {
    if (inbound->kind.is_defined() && *inbound->kind == "audio" && inbound->packets_received.is_defined()) {
      packets += *inbound->packets_received;
    }
  }
  return packets;
}

void closeAndRelease(std::shared_ptr<CallPeerConnection>& connection) {
  if (!connection) return;
  connection->close();
  onPeerQueue(*connection, [] {});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (connection.use_count() > 1 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  connection.reset();
}

LoopbackCall::~LoopbackCall() {
  closeAndRelease(caller);
  closeAndRelease(callee);
}

void LoopbackCall::forwardCandidates() {
  auto forward = [](RecordingPeerDelegate& from, CallICEManager& to) {
    for (; from.forwarded < from.candidates.size(); ++from.forwarded) {
      const LocalIceCandidate& candidate = from.candidates[from.forwarded];
      to.addRemoteCandidate(candidate.candidate, candidate.sdpMid, candidate.sdpMLineIndex);
    }
  };
  forward(*callerEvents, calleeCandidates);
  forward(*calleeEvents, callerCandidates);
}

bool LoopbackCall::pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    main_.runUntilIdle();
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

std::string LoopbackCall::connect(const std::vector<ICEServer>& servers, bool allowAllCandidates, bool again) {
  if (!again) {
    caller = makeSide(allowAllCandidates, callerEvents);
    callee = makeSide(allowAllCandidates, calleeEvents);
  } else {
    callerEvents->clear();
    calleeEvents->clear();
  }
  for (auto [side, buffer] : {std::pair{caller.get(), &callerCandidates}, std::pair{callee.get(), &calleeCandidates}}) {
    buffer->reset();
    buffer->onApplyCandidate = [side](const std::string& candidate, const std::optional<std::string>& mid,
                                      std::int32_t index) { side->addICECandidate(candidate, mid, index); };
  }
  if (onPeerQueue(*caller, [&] { return caller->buildPeerConnection(servers, "all", isVideo, true); }) != BuildResult::built ||
      onPeerQueue(*callee, [&] { return callee->buildPeerConnection(calleeServers.value_or(servers), "all", isVideo, false); }) !=
          BuildResult::built) {
    return "build failed";
  }
  offerRequestedAt = std::chrono::steady_clock::now();
  caller->createOffer();
  if (!pumpUntil([&] { return !callerEvents->offers.empty() || !callerEvents->failures.empty(); }) ||
      callerEvents->offers.front().empty()) {
    return "no offer";
  }
  offerSdp = sdpOf(callerEvents->offers.front());
  bool offerApplied = false;
  callee->setRemoteDescription({"offer", offerSdp, std::nullopt}, [&] {
    offerApplied = true;
    calleeCandidates.remoteDescriptionWasSet();
  });
  callee->createAnswer();
  if (!pumpUntil([&] { return offerApplied && !calleeEvents->answers.empty(); }) || calleeEvents->answers.front().empty()) {
    return "no answer";
  }
  // The callee gathers as soon as its answer is set; its first candidates
  // reach the caller before the answer does.
  if (!pumpUntil([&] { return !calleeEvents->candidates.empty(); })) return "callee gathered nothing";
  forwardCandidates();
  heldBeforeAnswer = callerCandidates.pendingCandidates().size();
  bool answerApplied = false;
  caller->setRemoteDescription({"answer", sdpOf(calleeEvents->answers.front()), std::nullopt}, [&] {
    answerApplied = true;
    callerCandidates.remoteDescriptionWasSet();
  });
  if (!pumpUntil([&] { return answerApplied || !callerEvents->failures.empty(); }) || !answerApplied) {
    return "answer not applied";
  }
  return waitConnected() ? std::string() : "ICE did not connect";
}

bool LoopbackCall::waitConnected(std::chrono::milliseconds limit) {
  return pumpUntil(
      [&] {
        forwardCandidates();
        return callerEvents->isConnected() && calleeEvents->isConnected();
      },
      limit);
}

std::string LoopbackCall::restartIce() {
  std::optional<std::optional<std::string>> offer, answer;
  std::optional<bool> applied;
  caller->createIceRestartOffer([&](const std::optional<std::string>& description) { offer = description; });
  if (!pumpUntil([&] { return offer.has_value(); }) || !*offer) return "no restart offer";
  calleeCandidates.beginRenegotiation();
  callee->answerIceRestartOffer(
      {"offer", sdpOf(**offer), std::nullopt}, [&] { calleeCandidates.remoteDescriptionWasSet(); },
      [&](const std::optional<std::string>& description) { answer = description; });
  if (!pumpUntil([&] { return answer.has_value(); }) || !*answer) return "no restart answer";
  callerCandidates.beginRenegotiation();
  caller->applyIceRestartAnswer({"answer", sdpOf(**answer), std::nullopt}, [&](bool ok) {
    applied = ok;
    callerCandidates.remoteDescriptionWasSet();
  });
  if (!pumpUntil([&] { return applied.has_value(); }) || !*applied) return "restart answer not applied";
  return std::string();
}

}  // namespace orvik::testing
