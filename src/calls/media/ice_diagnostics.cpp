#include "calls/media/ice_diagnostics.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sstream>

namespace orvik {
namespace {

constexpr const char* kShownTypes[] = {"host", "srflx", "prflx", "relay"};

std::vector<std::string> words(const std::string& line) {
  std::vector<std::string> out;
  std::istringstream in(line);
  for (std::string word; std::getline(in, word, ' ');) {
    if (!word.empty()) out.push_back(word);
  }
  return out;
}

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::string tallyText(const CandidateTally& tally) {
  std::string text;
  for (const char* type : kShownTypes) {
    if (!text.empty()) text += " ";
    auto it = tally.find(type);
    text += std::string(type) + "=" + std::to_string(it == tally.end() ? 0 : it->second);
  }
  return text;
}

std::int64_t total(const CandidateTally& tally) {
  std::int64_t sum = 0;
  for (const auto& [type, count] : tally) sum += count;
  return sum;
}

std::int64_t countOf(const CandidateTally& tally, const char* type) {
  auto it = tally.find(type);
  return it == tally.end() ? 0 : it->second;
}

std::string stringMember(const nlohmann::json& members, const char* key) {
  auto it = members.find(key);
  return it != members.end() && it->is_string() ? it->get<std::string>() : std::string();
}

double numberMember(const nlohmann::json& members, const char* key) {
  auto it = members.find(key);
  return it != members.end() && it->is_number() ? it->get<double>() : 0.0;
}

std::string describeCandidate(const std::map<std::string, const StatsEntry*>& candidates, const std::string& id) {
  auto it = candidates.find(id);
  if (it == candidates.end()) return "?";
  const auto& members = it->second->members;
  auto orUnknown = [](std::string text) { return text.empty() ? std::string("?") : text; };
  std::string text = orUnknown(stringMember(members, "candidateType")) + "/" + orUnknown(stringMember(members, "protocol"));
  if (const std::string relay = stringMember(members, "relayProtocol"); !relay.empty()) text += " via TURN/" + relay;
  if (const std::string network = stringMember(members, "networkType"); !network.empty()) text += " " + network;
  return text;
}

std::string joined(const std::vector<std::string>& items, const char* separator) {
  std::string out;
  for (const auto& item : items) {
    if (!out.empty()) out += separator;
    out += item;
  }
  return out;
}

}  // namespace

std::string candidateType(const std::string& candidateLine) {
  const auto parts = words(candidateLine);
  auto it = std::find(parts.begin(), parts.end(), "typ");
  return it == parts.end() || std::next(it) == parts.end() ? "?" : *std::next(it);
}

std::string candidateTransport(const std::string& candidateLine) {
  const auto parts = words(candidateLine);
  return parts.size() < 3 ? "?" : lowered(parts[2]);
}

std::string addressFamilyLabel(const std::string& address) {
  if (address.empty()) return "?";
  if (address.find(':') == std::string::npos) return "IPv4";
  return lowered(address).starts_with("fe80") ? "IPv6 link-local" : "IPv6";
}

std::string turnErrorHint(std::int32_t errorCode) {
  switch (errorCode) {
    case 300: return "TURN try-alternate redirect";
    case 401: return "TURN authentication failed — username/credential rejected or expired";
    case 403: return "TURN forbidden — server refused this client/IP";
    case 437: return "TURN allocation mismatch — stale allocation, retry";
    case 438: return "TURN stale nonce";
    case 486: return "TURN allocation quota reached for this user";
    case 508: return "TURN server out of capacity";
    case 701:
      return "could not reach the server from this local address (DNS lookup or connect failed on this interface) — "
             "harmless if relay candidates still get gathered";
    default: return "STUN/TURN error";
  }
}

std::string candidateTypeSummary(const CandidateTally& local, const CandidateTally& remote) {
  return "local[" + tallyText(local) + "] remote[" + tallyText(remote) + "]";
}

IceStatsReading readIceStats(const std::string& label, const IceStatsSnapshot& snapshot,
                             const std::vector<StatsEntry>& report) {
  std::map<std::string, const StatsEntry*> candidates;
  for (const auto& entry : report) {
    if (entry.type == "local-candidate" || entry.type == "remote-candidate") candidates[entry.id] = &entry;
  }
  std::int64_t pairs = 0, succeeded = 0, failed = 0, inProgress = 0, waiting = 0, frozen = 0;
  double sent = 0, answered = 0;
  std::optional<std::string> selected;
  for (const auto& entry : report) {
    if (entry.type != "candidate-pair") continue;
    ++pairs;
    const std::string state = stringMember(entry.members, "state");
    if (state == "succeeded") ++succeeded;
    else if (state == "failed") ++failed;
    else if (state == "in-progress") ++inProgress;
    else if (state == "waiting") ++waiting;
    else if (state == "frozen") ++frozen;
    sent += numberMember(entry.members, "requestsSent");
    answered += numberMember(entry.members, "responsesReceived");
    const auto nominated = entry.members.find("nominated");
    if (state == "succeeded" && nominated != entry.members.end() && *nominated == true) {
      std::string rtt = "-";
      if (auto it = entry.members.find("currentRoundTripTime"); it != entry.members.end() && it->is_number()) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.0fms", it->get<double>() * 1000.0);
        rtt = buffer;
      }
      selected = "local " + describeCandidate(candidates, stringMember(entry.members, "localCandidateId")) +
                 " ⇄ remote " + describeCandidate(candidates, stringMember(entry.members, "remoteCandidateId")) +
                 " rtt=" + rtt;
    }
  }
  const auto checksSent = static_cast<std::int64_t>(sent);
  const auto checksAnswered = static_cast<std::int64_t>(answered);

  IceStatsReading reading;
  reading.statsLine = "stats (" + label + ") — policy=" + snapshot.policyName +
                      " remoteSDP=" + (snapshot.hasRemoteDescription ? "yes" : "MISSING") + " " +
                      candidateTypeSummary(snapshot.localTypes, snapshot.remoteTypes) +
                      " | pairs=" + std::to_string(pairs) + " [succeeded " + std::to_string(succeeded) +
                      ", in-progress " + std::to_string(inProgress) + ", waiting " + std::to_string(waiting) +
                      ", frozen " + std::to_string(frozen) + ", failed " + std::to_string(failed) +
                      "] | checks sent=" + std::to_string(checksSent) + " answered=" + std::to_string(checksAnswered);
  if (selected) reading.statsLine += " | selected: " + *selected;
  if (!snapshot.gatherErrors.empty()) reading.statsLine += " | gather errors: " + joined(snapshot.gatherErrors, "; ");

  if (label != "failed" && label != "still not connected") return reading;
  const std::string suffix =
      snapshot.gatherErrors.empty() ? std::string() : " (" + joined(snapshot.gatherErrors, "; ") + ")";
  std::string reason;
  if (!snapshot.hasRemoteDescription) {
    reason = "the other side's offer/answer was never applied here — signaling problem, ICE could not even start";
  } else if (total(snapshot.localTypes) == 0) {
    reason = "this machine gathered NO candidates — STUN/TURN unreachable from this network" + suffix;
  } else if (total(snapshot.remoteTypes) == 0) {
    reason = "NO candidates arrived from the other side — they were not sent or not delivered (check the other "
             "device's [ICE]/[Signaling] logs and the remote device udid)";
  } else if (snapshot.policyName == "relay" && countOf(snapshot.localTypes, "relay") == 0) {
    reason = "TURN gave this machine no relay candidate, and relay-only policy allows nothing else" + suffix;
  } else if (checksSent >= 1 && checksAnswered == 0) {
    reason = std::to_string(checksSent) +
             " connectivity checks sent, NONE answered — packets between the two networks are blocked/dropped "
             "(firewall/NAT/TURN path). remote relay=" +
             std::to_string(countOf(snapshot.remoteTypes, "relay"));
  } else if (pairs == 0) {
    reason = "no candidate pairs formed — local and remote candidates are incompatible (protocol/IP family)";
  } else {
    reason = "checks partly answered (" + std::to_string(checksAnswered) + "/" + std::to_string(checksSent) +
             ") but no pair succeeded before the timeout — very lossy/slow path";
  }
  reading.diagnosis = "❌ WHY it failed: " + reason;
  return reading;
}

}  // namespace orvik
