// Two CallPeerConnections in one process that negotiate in memory and
// connect over loopback (or through a TURN relay): the harness of the peer
// connection tests and of the connect benchmark. WebRTC types; media tests
// and benches only.
//
// THREADING: drive it from the thread that owns `main` (a VirtualQueue
// installed as the main queue); `pumpUntil` runs the main queue while WebRTC
// works on its own threads.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <memory>
#include <string>
#include <type_traits>
#include <future>
#include <vector>

#include "calls/media/call_ice_manager.h"
#include "calls/media/call_peer_connection.h"
#include "calls/media/call_peer_connection_internal.h"
#include "platform/dispatch/virtual_queue.h"

namespace orvik::testing {

// Records what a peer connection tells its owner (on the main queue).
class RecordingPeerDelegate : public CallPeerConnectionDelegate {
 public:
  void peerConnectionDidFail(const PeerConnectionError& error) override { failures.push_back(error.description); }
  void peerConnectionDidGenerateCandidate(const LocalIceCandidate& candidate) override { candidates.push_back(candidate); }
  void peerConnectionDidChangeIceState(PeerConnectionState state) override { states.push_back(state); }
  void peerConnectionDidCreateOffer(const std::optional<std::string>& description) override {
    offers.push_back(description.value_or(""));
  }
  void peerConnectionDidCreateAnswer(const std::optional<std::string>& description) override {
    answers.push_back(description.value_or(""));
  }
  void peerConnectionDidReceiveDataChannelMessage(const std::string& text) override { messages.push_back(text); }
  void peerConnectionDidOpenRemoteDataChannel() override { ++remoteChannelsOpened; }
  // Tracks are not kept: their handles must go before the connection does.
  void attachRemoteTrack(const RemoteMediaTrack& track) override {
    remoteTracks.push_back({track.kind, track.video != nullptr});
  }

  bool isConnected() const;
  bool saw(PeerConnectionState state) const;
  // Forgets everything heard so far (a new call in the same objects).
  void clear();

  std::vector<std::string> failures;
  std::vector<LocalIceCandidate> candidates;
  std::vector<PeerConnectionState> states;
  std::vector<std::string> offers, answers;  // JSON texts, "" when absent
  std::vector<std::string> messages;
  int remoteChannelsOpened = 0;
  struct SeenTrack {
    std::string kind;
    bool hasVideoHandle = false;
  };
  std::vector<SeenTrack> remoteTracks;
  std::size_t forwarded = 0;
};

// The "sdp" member of a description's JSON text, or "".
std::string sdpOf(const std::string& descriptionJson);

// Loopback networks on, a pulsed-noise test microphone and a discarding
// speaker; `allowAllCandidates` lets host candidates through.
std::shared_ptr<CallPeerConnection::TestHooks> loopbackHooks(bool allowAllCandidates);

// Runs `work` on the connection's peer queue and waits for its result.
template <typename Work>
auto onPeerQueue(CallPeerConnection& connection, Work work) {
  using Result = decltype(work());
  std::promise<Result> result;
  connection.peerQueue().post([&] {
    if constexpr (std::is_void_v<Result>) {
      work();
      result.set_value();
    } else {
      result.set_value(work());
    }
  });
  return result.get_future().get();
}

// Audio packets that reached `side` from the other one (0 without a
// connection).
std::uint64_t audioPacketsReceived(CallPeerConnection& side);

// Closes `connection` and lets it go on this thread once the callbacks in
// flight have let go of it (the last one out would otherwise hand it to the
// main queue, see CallPeerConnection::create).
void closeAndRelease(std::shared_ptr<CallPeerConnection>& connection);

// A coturn relay on 127.0.0.1 with one long-term user, for relay-only calls.
class LocalTurnServer {
 public:
  // Null when turnserver is missing or did not start. Relay addresses come
  // from the UDP ports `minRelayPort` to `maxRelayPort`.
  static std::unique_ptr<LocalTurnServer> start(int minRelayPort = 49152, int maxRelayPort = 49300);
  ~LocalTurnServer();
  std::vector<ICEServer> iceServers() const;
  // Kills the relay: every allocation and the paths through it are gone.
  void stop();
  // A fresh relay on the same port; false when it did not come up. With
  // `onlyRelayPort` it relays from that one port only, so its first
  // allocation gets the address an earlier one had.
  bool restart(int onlyRelayPort = 0);

 private:
  struct State;
  explicit LocalTurnServer(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

class LoopbackCall {
 public:
  explicit LoopbackCall(platform::VirtualQueue& main) : main_(main) {}
  // Closes both sides and lets them go (closeAndRelease).
  ~LoopbackCall();

  // Builds both sides (fresh objects, or the same ones again after close()),
  // exchanges offer and answer through the objects' own operations, passes
  // candidates through each side's remote candidate buffer (the callee's
  // first candidates reach the caller before the answer and are held), and
  // waits for both to connect. Returns the empty text, or what went wrong.
  std::string connect(const std::vector<ICEServer>& servers, bool allowAllCandidates, bool again = false);
  // Forwards candidates both ways until both sides are connected again.
  bool waitConnected(std::chrono::milliseconds limit = std::chrono::seconds(40));
  // One ICE restart as the call manager runs it: the caller offers, the
  // callee holds remote candidates, answers, the caller applies the answer.
  // Returns the empty text, or what went wrong.
  std::string restartIce();

  // Hands the candidates each side produced to the other side's buffer.
  void forwardCandidates();

  // Runs the main queue until `done` or `limit` (a guard, not a measure).
  bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(40));

  // Both sides build a video call (an audio call when false).
  bool isVideo = true;
  // The callee's ICE servers when they differ from the caller's.
  std::optional<std::vector<ICEServer>> calleeServers;
  std::shared_ptr<CallPeerConnection> caller, callee;
  std::shared_ptr<RecordingPeerDelegate> callerEvents, calleeEvents;
  CallICEManager callerCandidates, calleeCandidates;
  std::string offerSdp;
  // Candidates the caller's buffer held when the answer was applied.
  std::size_t heldBeforeAnswer = 0;
  // When the caller was asked for its offer (for the connect benchmark).
  std::chrono::steady_clock::time_point offerRequestedAt;

 private:
  platform::VirtualQueue& main_;
};

}  // namespace orvik::testing
