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
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <future>
#include <vector>

#include "calls/media/call_peer_connection.h"
#include "calls/media/call_peer_connection_internal.h"
#include "platform/dispatch/virtual_queue.h"

namespace orvik::testing {

// Records what a peer connection tells its owner.
class RecordingPeerDelegate : public CallPeerConnectionDelegate {
 public:
  void peerConnectionDidFail(const PeerConnectionError& error) override { failures.push_back(error.description); }
  void peerConnectionDidGenerateCandidate(const LocalIceCandidate& candidate) override { candidates.push_back(candidate); }
  void peerConnectionDidChangeIceState(IceConnectionState state) override { states.push_back(state); }

  bool isConnected() const;

  std::vector<std::string> failures;
  std::vector<LocalIceCandidate> candidates;
  std::vector<IceConnectionState> states;
  std::size_t forwarded = 0;
};

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

// A coturn relay on 127.0.0.1 with one long-term user, for relay-only calls.
class LocalTurnServer {
 public:
  // Null when turnserver is missing or did not start.
  static std::unique_ptr<LocalTurnServer> start();
  ~LocalTurnServer();
  std::vector<ICEServer> iceServers() const;

 private:
  struct State;
  explicit LocalTurnServer(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

class LoopbackCall {
 public:
  explicit LoopbackCall(platform::VirtualQueue& main) : main_(main) {}

  // Builds both sides (fresh objects, or the same ones again after close()),
  // exchanges offer and answer (Opus-tuned) and candidates, and waits for
  // both to connect. Returns the empty text, or what went wrong.
  std::string connect(const std::vector<ICEServer>& servers, bool allowAllCandidates, bool again = false);

  // The local description `offer` or answer set on `connection`, or "".
  std::string createLocal(CallPeerConnection& connection, bool offer);
  bool setRemote(CallPeerConnection& connection, bool offer, const std::string& sdp);
  void forwardCandidates(RecordingPeerDelegate& from, CallPeerConnection& to);

  // Runs the main queue until `done` or `limit` (a guard, not a measure).
  bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(20));

  std::shared_ptr<CallPeerConnection> caller, callee;
  std::shared_ptr<RecordingPeerDelegate> callerEvents, calleeEvents;
  std::string offerSdp;
  // When the caller was asked for its offer (for the connect benchmark).
  std::chrono::steady_clock::time_point offerRequestedAt;

 private:
  platform::VirtualQueue& main_;
};

}  // namespace orvik::testing
