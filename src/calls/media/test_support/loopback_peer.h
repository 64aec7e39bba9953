// A real CallPeerConnection for tests outside the media folder (the call
// manager's integration tests and benchmarks), without WebRTC headers: the
// loopback test knobs, the test microphone, and the audio statistics.
//
// THREADING: make and release on the main queue; audioPacketsReceived waits
// on the connection's peer queue and may be called from the main queue.
#pragma once

#include <cstdint>
#include <memory>

#include "calls/media/call_peer_connection.h"

namespace orvik::testing {

// Loopback networks on, a pulsed-noise test microphone and a discarding
// speaker; `allowAllCandidates` lets host candidates through (else only
// relay and reflexive ones, as in the program).
std::shared_ptr<CallPeerConnection> makeLoopbackPeer(bool allowAllCandidates);

// Audio packets that reached `side` from the other one (0 without a
// connection).
std::uint64_t audioPacketsReceived(CallPeerConnection& side);

// Closes `connection` and lets it go once the callbacks in flight released it.
void releaseLoopbackPeer(std::shared_ptr<CallPeerConnection>& connection);

}  // namespace orvik::testing
