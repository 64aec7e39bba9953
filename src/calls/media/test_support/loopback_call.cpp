#include "calls/media/test_support/loopback_call.h"

#include <api/jsep.h>
#include <modules/audio_device/include/test_audio_device.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "platform/test_support/background_process.h"
#include "platform/test_support/subprocess.h"
#include "platform/test_support/temp_dir.h"

namespace orvik::testing {
namespace {

class CreateObserver : public webrtc::CreateSessionDescriptionObserver {
 public:
  CreateObserver(CallPeerConnection& connection, std::string label, std::promise<std::string>& sdp)
      : connection_(connection), label_(std::move(label)), sdp_(sdp) {}
  void OnSuccess(webrtc::SessionDescriptionInterface* description) override {
    applyTunedLocalDescription(connection_, label_, std::unique_ptr<webrtc::SessionDescriptionInterface>(description),
                               [this](const std::string& sdp, webrtc::RTCError error) {
                                 sdp_.set_value(error.ok() ? sdp : std::string());
                               });
  }
  void OnFailure(webrtc::RTCError) override { sdp_.set_value({}); }

 private:
  CallPeerConnection& connection_;
  std::string label_;
  std::promise<std::string>& sdp_;
};

class SetRemoteObserver : public webrtc::SetRemoteDescriptionObserverInterface {
 public:
  explicit SetRemoteObserver(std::promise<bool>& done) : done_(done) {}
  void OnSetRemoteDescriptionComplete(webrtc::RTCError error) override { done_.set_value(error.ok()); }

 private:
  std::promise<bool>& done_;
};

std::shared_ptr<CallPeerConnection> makeSide(bool allowAllCandidates, std::shared_ptr<RecordingPeerDelegate>& events) {
  auto connection = CallPeerConnection::create(loopbackHooks(allowAllCandidates));
  events = std::make_shared<RecordingPeerDelegate>();
  connection->setDelegate(events);
  return connection;
}

// A UDP port on loopback that nothing listens on right now.
int freeUdpPort() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

}  // namespace

struct LocalTurnServer::State {
  TempDir runtime;
  int port = 0;
  std::unique_ptr<BackgroundProcess> process;
};

LocalTurnServer::LocalTurnServer(std::unique_ptr<State> state) : state_(std::move(state)) {}
LocalTurnServer::~LocalTurnServer() = default;

std::unique_ptr<LocalTurnServer> LocalTurnServer::start() {
  if (!hasProgram("turnserver")) return nullptr;
  auto state = std::make_unique<State>();
  state->port = freeUdpPort();
  state->process = BackgroundProcess::start(
      {"turnserver", "-n", "--listening-ip=127.0.0.1", "--relay-ip=127.0.0.1",
       "--listening-port=" + std::to_string(state->port), "--lt-cred-mech", "--user=orvik:secret",
       "--realm=orvik.test", "--allow-loopback-peers", "--no-tls", "--no-dtls", "--no-cli", "--log-file=stdout",
       "--min-port=49152", "--max-port=49300", "--pidfile=" + (state->runtime.path() / "turn.pid").string(),
       "--userdb=" + (state->runtime.path() / "turn.db").string()});
  if (!state->process ||
      !state->process->waitForLine(
          [](const std::string& line) { return line.find("Total General servers") != std::string::npos; }, 10.0)) {
    return nullptr;
  }
  return std::unique_ptr<LocalTurnServer>(new LocalTurnServer(std::move(state)));
}

std::vector<ICEServer> LocalTurnServer::iceServers() const {
  return {{{"turn:127.0.0.1:" + std::to_string(state_->port) + "?transport=udp"}, "orvik", "secret"}};
}

bool RecordingPeerDelegate::isConnected() const {
  return !states.empty() &&
         (states.back() == IceConnectionState::connected || states.back() == IceConnectionState::completed);
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

std::string LoopbackCall::createLocal(CallPeerConnection& connection, bool offer) {
  std::promise<std::string> sdp;
  auto future = sdp.get_future();
  onPeerQueue(connection, [&] {
    auto observer = rtc::make_ref_counted<CreateObserver>(connection, offer ? "offer" : "answer", sdp);
    auto* pc = webrtcConnection(connection);
    offer ? pc->CreateOffer(observer.get(), {}) : pc->CreateAnswer(observer.get(), {});
  });
  return future.get();
}

bool LoopbackCall::setRemote(CallPeerConnection& connection, bool offer, const std::string& sdp) {
  std::promise<bool> done;
  auto future = done.get_future();
  onPeerQueue(connection, [&] {
    webrtcConnection(connection)->SetRemoteDescription(
        webrtc::CreateSessionDescription(offer ? webrtc::SdpType::kOffer : webrtc::SdpType::kAnswer, sdp),
        rtc::make_ref_counted<SetRemoteObserver>(done));
  });
  return future.get();
}

void LoopbackCall::forwardCandidates(RecordingPeerDelegate& from, CallPeerConnection& to) {
  for (; from.forwarded < from.candidates.size(); ++from.forwarded) {
    const LocalIceCandidate candidate = from.candidates[from.forwarded];
    to.peerQueue().post([&to, candidate] {
      webrtc::SdpParseError error;
      std::unique_ptr<webrtc::IceCandidateInterface> parsed(
          webrtc::CreateIceCandidate(candidate.sdpMid, candidate.sdpMLineIndex, candidate.candidate, &error));
      if (auto* pc = webrtcConnection(to); pc && parsed) pc->AddIceCandidate(std::move(parsed), [](webrtc::RTCError) {});
    });
  }
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
    callerEvents->states.clear();
    calleeEvents->states.clear();
  }
  if (onPeerQueue(*caller, [&] { return caller->buildPeerConnection(servers, "all", true, true); }) != BuildResult::built ||
      onPeerQueue(*callee, [&] { return callee->buildPeerConnection(servers, "all", true, false); }) != BuildResult::built) {
    return "build failed";
  }
  offerRequestedAt = std::chrono::steady_clock::now();
  offerSdp = createLocal(*caller, true);
  if (offerSdp.empty()) return "no offer";
  if (!setRemote(*callee, true, offerSdp)) return "offer not applied";
  const std::string answer = createLocal(*callee, false);
  if (answer.empty()) return "no answer";
  if (!setRemote(*caller, false, answer)) return "answer not applied";
  const bool connected = pumpUntil([&] {
    forwardCandidates(*callerEvents, *callee);
    forwardCandidates(*calleeEvents, *caller);
    return callerEvents->isConnected() && calleeEvents->isConnected();
  });
  return connected ? std::string() : "ICE did not connect";
}

}  // namespace orvik::testing
