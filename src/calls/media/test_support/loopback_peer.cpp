#include "calls/media/test_support/loopback_peer.h"

#include "calls/media/call_peer_connection_internal.h"
#include "calls/media/test_support/loopback_call.h"

namespace orvik::testing {

std::shared_ptr<CallPeerConnection> makeLoopbackPeer(bool allowAllCandidates) {
  return CallPeerConnection::create({}, loopbackHooks(allowAllCandidates));
}

// audioPacketsReceived lives with the loopback call (loopback_call.cpp).

void releaseLoopbackPeer(std::shared_ptr<CallPeerConnection>& connection) { closeAndRelease(connection); }

}  // namespace orvik::testing
