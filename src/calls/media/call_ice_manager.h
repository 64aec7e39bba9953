// Holds remote ICE candidates that arrive before the peer connection has a
// remote description to attach them to, and hands them on in arrival order
// once one is applied. Also holds them back again while a new remote
// description is applied on a running connection (renegotiation, ICE
// restart). Knows nothing of WebRTC: candidates go to `onApplyCandidate`.
// THREAD-SAFETY: main queue only.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orvik {

struct RemoteICECandidate {
  std::string candidate;
  std::optional<std::string> sdpMid;
  std::int32_t sdpMLineIndex = 0;
};

class CallICEManager {
 public:
  using ApplyCandidate =
      std::function<void(const std::string& candidate, const std::optional<std::string>& sdpMid, std::int32_t sdpMLineIndex)>;

  // Replaced each time the call manager wires a call.
  ApplyCandidate onApplyCandidate;

  void addRemoteCandidate(std::string candidate, std::optional<std::string> sdpMid, std::int32_t sdpMLineIndex);
  // A remote description was applied: release what was held, in order.
  void remoteDescriptionWasSet();
  // A new remote description is about to be applied: hold candidates again.
  void beginRenegotiation();
  // A new call: forget held candidates and hold from now on.
  void reset();

  const std::vector<RemoteICECandidate>& pendingCandidates() const { return pendingCandidates_; }
  bool isRemoteDescriptionSet() const { return isRemoteDescriptionSet_; }

 private:
  void apply(const RemoteICECandidate& candidate) const;

  std::vector<RemoteICECandidate> pendingCandidates_;
  bool isRemoteDescriptionSet_ = false;
};

}  // namespace orvik
