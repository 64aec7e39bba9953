// A connection's delegate for tests of a call engine: it passes every event
// on to the engine's manager, as the manager's own delegate does, and keeps
// the data-channel texts as they arrived.
//
// THREADING: the main queue, as the manager's delegate.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "calls/control/native_call_manager.h"
#include "calls/media/call_peer_connection.h"

namespace orvik::testing {

struct ChannelTap final : CallPeerConnectionDelegate {
  explicit ChannelTap(std::shared_ptr<NativeCallManager> manager) : manager(manager) {}
  void peerConnectionDidFail(const PeerConnectionError& e) override { forward([&](auto& m) { m.peerConnectionDidFail(e); }); }
  void peerConnectionDidGenerateCandidate(const LocalIceCandidate& c) override {
    forward([&](auto& m) { m.peerConnectionDidGenerateCandidate(c); });
  }
  void peerConnectionDidChangeIceState(PeerConnectionState s) override {
    forward([&](auto& m) { m.peerConnectionDidChangeIceState(s); });
  }
  void peerConnectionDidCreateOffer(const std::optional<std::string>& d) override {
    forward([&](auto& m) { m.peerConnectionDidCreateOffer(d); });
  }
  void peerConnectionDidCreateAnswer(const std::optional<std::string>& d) override {
    forward([&](auto& m) { m.peerConnectionDidCreateAnswer(d); });
  }
  void peerConnectionDidReceiveDataChannelMessage(const std::string& text) override {
    texts.push_back(text);
    forward([&](auto& m) { m.peerConnectionDidReceiveDataChannelMessage(text); });
  }
  void peerConnectionDidOpenRemoteDataChannel() override {
    forward([&](auto& m) { m.peerConnectionDidOpenRemoteDataChannel(); });
  }
  void attachRemoteTrack(const RemoteMediaTrack& t) override { forward([&](auto& m) { m.attachRemoteTrack(t); }); }

  template <typename Call>
  void forward(Call call) {
    if (auto m = manager.lock()) call(*m);
  }
  std::weak_ptr<NativeCallManager> manager;
  std::vector<std::string> texts;
};

}  // namespace orvik::testing
