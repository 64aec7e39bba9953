#include "calls/media/peer_connection_events.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

#include <nlohmann/json.hpp>

namespace orvik {
namespace {

template <std::size_t N>
std::string nameIn(const std::array<const char*, N>& names, int state) {
  if (state >= 0 && static_cast<std::size_t>(state) < N) return names[static_cast<std::size_t>(state)];
  return std::to_string(state);
}

}  // namespace

std::optional<std::string> iceUfragOf(const std::string& sdp) {
  static constexpr std::string_view kKey = "a=ice-ufrag:";
  for (std::size_t start = 0; start < sdp.size();) {
    std::size_t end = sdp.find('\n', start);
    if (end == std::string::npos) end = sdp.size();
    std::string_view line(sdp.data() + start, end - start);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.starts_with(kKey) && line.size() > kKey.size()) return std::string(line.substr(kKey.size()));
    start = end + 1;
  }
  return std::nullopt;
}

bool isValidUtf8(const std::string& bytes) {
  std::size_t i = 0;
  const std::size_t n = bytes.size();
  while (i < n) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    std::size_t length = 0;
    std::uint32_t point = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      length = 2, point = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      length = 3, point = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      length = 4, point = c & 0x07;
    } else {
      return false;
    }
    if (i + length > n) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      point = (point << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values past Unicode are not UTF-8.
    static constexpr std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (point < kSmallest[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

std::string iceConnectionStateName(int state) {
  static constexpr std::array names = {"new", "checking", "connected", "completed", "failed", "disconnected", "closed",
                                       "count"};
  return nameIn(names, state);
}

std::string peerConnectionStateName(int state) {
  static constexpr std::array names = {"new", "connecting", "connected", "disconnected", "failed", "closed"};
  return nameIn(names, state);
}

std::string iceGatheringStateName(int state) {
  static constexpr std::array names = {"new", "gathering", "complete"};
  return nameIn(names, state);
}

std::string signalingStateName(int state) {
  static constexpr std::array names = {"stable",           "haveLocalOffer",     "haveLocalPrAnswer",
                                       "haveRemoteOffer",  "haveRemotePrAnswer", "closed"};
  return nameIn(names, state);
}

std::string dataChannelStateName(int state) {
  static constexpr std::array names = {"connecting", "open", "closing", "closed"};
  return nameIn(names, state);
}

std::optional<PeerConnectionState> forwardedIceState(IceConnectionState state) {
  switch (state) {
    case IceConnectionState::connected:
    case IceConnectionState::completed: return PeerConnectionState::connected;
    case IceConnectionState::disconnected: return PeerConnectionState::disconnected;
    // A closed ICE transport ends the call like a failure.
    case IceConnectionState::failed:
    case IceConnectionState::closed: return PeerConnectionState::failed;
    default: return std::nullopt;
  }
}

std::string gatherErrorEntry(const std::string& url, std::int32_t errorCode, const std::string& errorText,
                             const std::string& address) {
  return url + " → " + std::to_string(errorCode) + " " + errorText + " [local " + addressFamilyLabel(address) + "]";
}

bool keepGatherError(std::vector<std::string>& errors, const std::string& entry) {
  if (errors.size() >= kMaxGatherErrors) return false;
  if (std::find(errors.begin(), errors.end(), entry) != errors.end()) return false;
  errors.push_back(entry);
  return true;
}

std::optional<std::string> gatheringCompleteWarning(const CandidateTally& localTypes, bool relayPolicy,
                                                    const std::vector<std::string>& gatherErrors) {
  std::int64_t total = 0;
  for (const auto& [type, count] : localTypes) total += count;
  const auto relay = localTypes.find("relay");
  const bool noRelay = relay == localTypes.end() || relay->second == 0;
  std::string suffix;
  for (const auto& error : gatherErrors) suffix += (suffix.empty() ? ": " : "; ") + error;
  if (total == 0) return "⚠️ gathering finished with NO local candidates — STUN/TURN unreachable" + suffix;
  if (noRelay && relayPolicy) {
    return "⚠️ gathering finished with NO relay candidate under relay-only policy — TURN failed" + suffix;
  }
  return std::nullopt;
}

std::optional<std::string> describeSessionDescription(bool isOffer, const std::string& sdp) {
  if (!isValidUtf8(sdp)) return std::nullopt;
  return nlohmann::json{{"type", isOffer ? "offer" : "answer"}, {"sdp", sdp}}.dump();
}

std::string utf8TextOrEmpty(const std::string& bytes) { return isValidUtf8(bytes) ? bytes : std::string(); }

std::size_t displayLength(const std::string& text) {
  std::size_t length = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (text[i] == '\n' && i > 0 && text[i - 1] == '\r') continue;
    ++length;
  }
  return length;
}

std::string leadingCharacters(const std::string& text, std::size_t count) {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (seen == count) return text.substr(0, i);
    ++seen;
  }
  return text;
}

}  // namespace orvik
