// The readable account of an ICE attempt: candidate tallies, the statistics
// line and, when a call fails or is slow to connect, one line saying why.
// Pure text functions over our own value types, so that the rules are tested
// on synthetic statistics; the peer connection feeds them from WebRTC.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace orvik {

// The word after "typ", or "?".
std::string candidateType(const std::string& candidateLine);
// The third word in lower case ("udp", "tcp"), or "?".
std::string candidateTransport(const std::string& candidateLine);
// "?", "IPv4", "IPv6 link-local" or "IPv6".
std::string addressFamilyLabel(const std::string& address);
// What a STUN/TURN gathering error code means, for the log.
std::string turnErrorHint(std::int32_t errorCode);

using CandidateTally = std::map<std::string, std::int64_t>;

// "local[host=1 srflx=0 prflx=0 relay=2] remote[host=… ]" — only the four
// known types are shown.
std::string candidateTypeSummary(const CandidateTally& local, const CandidateTally& remote);

// One entry of WebRTC's statistics report, with its members as JSON.
struct StatsEntry {
  std::string type;  // "candidate-pair", "local-candidate", …
  std::string id;
  nlohmann::json members = nlohmann::json::object();
};

// What was known when the statistics were asked for.
struct IceStatsSnapshot {
  std::string policyName;  // "relay" or "noHost"
  CandidateTally localTypes;
  CandidateTally remoteTypes;
  std::vector<std::string> gatherErrors;
  bool hasRemoteDescription = false;
};

struct IceStatsReading {
  std::string statsLine;                 // the timeline text of the statistics
  std::optional<std::string> diagnosis;  // "❌ WHY it failed: …" for failure labels
};

// Reads the report for `label` ("connected", "disconnected", "failed",
// "still not connected"); only the last two are diagnosed.
IceStatsReading readIceStats(const std::string& label, const IceStatsSnapshot& snapshot,
                             const std::vector<StatsEntry>& report);

}  // namespace orvik
