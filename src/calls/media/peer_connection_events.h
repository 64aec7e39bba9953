// The text and decisions behind the peer connection's WebRTC events, kept
// free of WebRTC so that the tables and rules are tested on plain values:
// state names, which ICE states reach the call manager and as what, the
// gathering-error list, the end-of-gathering warning, the description JSON
// and the reading of received data-channel bytes. Pure functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "calls/media/peer_connection.h"
#include "calls/media/ice_diagnostics.h"

namespace orvik {

// Names by WebRTC's numeric value; a value beyond a table is its number.
std::string iceConnectionStateName(int state);
std::string peerConnectionStateName(int state);
std::string iceGatheringStateName(int state);
std::string signalingStateName(int state);
std::string dataChannelStateName(int state);

// What an ICE connection state tells the call manager: connected for
// connected and completed, disconnected, failed for failed and for a closed
// transport; nothing for new and checking.
std::optional<PeerConnectionState> forwardedIceState(IceConnectionState state);

// "<url> → <code> <text> [local <family>]".
std::string gatherErrorEntry(const std::string& url, std::int32_t errorCode, const std::string& errorText,
                             const std::string& address);
constexpr std::size_t kMaxGatherErrors = 10;
// Keeps `entry` when it is new and the list is not full; true when kept.
bool keepGatherError(std::vector<std::string>& errors, const std::string& entry);

// The timeline warning at the end of gathering, when there is one.
std::optional<std::string> gatheringCompleteWarning(const CandidateTally& localTypes, bool relayPolicy,
                                                    const std::vector<std::string>& gatherErrors);

// {"type": "offer"|"answer", "sdp": …} as compact JSON; nothing when the SDP
// cannot be written as JSON (it is not UTF-8).
std::optional<std::string> describeSessionDescription(bool isOffer, const std::string& sdp);

// The first "a=ice-ufrag:" value of a description, or nothing.
std::optional<std::string> iceUfragOf(const std::string& sdp);

bool isValidUtf8(const std::string& bytes);
// The bytes as text, or the empty text when they are not valid UTF-8.
std::string utf8TextOrEmpty(const std::string& bytes);

// Length in characters for the log, a CR LF pair counting as one.
std::size_t displayLength(const std::string& text);
// The first `count` characters of `text` (all of it when shorter).
std::string leadingCharacters(const std::string& text, std::size_t count);

}  // namespace orvik
