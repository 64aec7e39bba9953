// What the signalling client, the peer connection and the call timers tell
// the manager, on the main queue, for the behaviours still to be written in
// this class: they log what they received until then. The outgoing
// negotiation, candidates, connection states and remote endings have files
// of their own.
#include "calls/control/native_call_manager.h"
#include "core/native_logger.h"

namespace orvik {

std::string callStateName(const CallState& state);

void NativeCallManager::peerConnectionDidReceiveDataChannelMessage(const std::string&) {}
void NativeCallManager::peerConnectionDidOpenRemoteDataChannel() {}
void NativeCallManager::attachRemoteTrack(const RemoteMediaTrack&) {}

void NativeCallManager::callTimerDidTick(double) {}

}  // namespace orvik
