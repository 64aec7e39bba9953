#include "calls/media/call_ice_manager.h"

#include "calls/media/ice_diagnostics.h"
#include "core/native_logger.h"
#include "platform/queue_checker.h"

namespace orvik {
namespace {

constexpr std::size_t kSnippetCharacters = 90;

std::string snippet(const std::string& candidate) { return firstCharacters(candidate, kSnippetCharacters); }

}  // namespace

void CallICEManager::apply(const RemoteICECandidate& candidate) const {
  if (onApplyCandidate) onApplyCandidate(candidate.candidate, candidate.sdpMid, candidate.sdpMLineIndex);
}

void CallICEManager::addRemoteCandidate(std::string candidate, std::optional<std::string> sdpMid,
                                        std::int32_t sdpMLineIndex) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  RemoteICECandidate remote{std::move(candidate), std::move(sdpMid), sdpMLineIndex};
  if (isRemoteDescriptionSet_) {
    nativeLog("[ICEMgr] applying remote candidate sdpMid=" + remote.sdpMid.value_or("-") +
              " idx=" + std::to_string(remote.sdpMLineIndex) + " typ=" + candidateType(remote.candidate) + " → " +
              snippet(remote.candidate));
    apply(remote);
    return;
  }
  nativeLog("[ICEMgr] buffering candidate total=" + std::to_string(pendingCandidates_.size() + 1) +
            " typ=" + candidateType(remote.candidate) + " → " + snippet(remote.candidate));
  pendingCandidates_.push_back(std::move(remote));
}

void CallICEManager::remoteDescriptionWasSet() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  nativeLog("[ICEMgr] remoteDescriptionWasSet — flushing " + std::to_string(pendingCandidates_.size()) +
            " buffered candidate(s)");
  // The flag goes first: a candidate arriving while the drain runs is applied
  // at once rather than appended to a list about to be replaced.
  isRemoteDescriptionSet_ = true;
  if (pendingCandidates_.empty()) return;
  std::vector<RemoteICECandidate> snapshot;
  snapshot.swap(pendingCandidates_);
  for (const auto& candidate : snapshot) apply(candidate);
  nativeLog("[ICEMgr] flushed " + std::to_string(snapshot.size()) + " candidate(s) to peer connection");
}

void CallICEManager::beginRenegotiation() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  nativeLog("[ICEMgr] beginRenegotiation — buffering remote candidates until the new description is applied");
  isRemoteDescriptionSet_ = false;
}

void CallICEManager::reset() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  nativeLog("[ICEMgr] reset — discarding " + std::to_string(pendingCandidates_.size()) + " pending candidate(s)");
  pendingCandidates_.clear();
  isRemoteDescriptionSet_ = false;
}

}  // namespace orvik
