#include "calls/media/sdp_tuning.h"

#include <algorithm>
#include <cctype>
#include <utility>
#include <vector>

namespace orvik {
namespace {

const std::vector<std::pair<std::string, std::string>> kOpusParameters = {
    {"stereo", "0"}, {"sprop-stereo", "0"}, {"useinbandfec", "1"}, {"usedtx", "1"}, {"maxaveragebitrate", "24000"}};
const char* const kPacketTimeLines[] = {"a=ptime:60", "a=maxptime:60"};

std::string lowered(const std::string& text) {
  std::string out = text;
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

std::vector<std::string> split(const std::string& text, const std::string& separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t at = text.find(separator); at != std::string::npos; at = text.find(separator, start)) {
    parts.push_back(text.substr(start, at - start));
    start = at + separator.size();
  }
  parts.push_back(text.substr(start));
  return parts;
}

// "minptime=10;useinbandfec=1" merged with the Opus parameters, keys in the
// order of their first appearance.
std::string mergedParameters(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> parameters;
  auto set = [&](const std::string& key, const std::string& value) {
    auto it = std::find_if(parameters.begin(), parameters.end(), [&](const auto& p) { return p.first == key; });
    if (it == parameters.end()) {
      parameters.emplace_back(key, value);
    } else {
      it->second = value;
    }
  };
  for (const std::string& piece : split(text, ";")) {
    if (piece.empty()) continue;
    const auto equals = piece.find('=');
    const std::string key = trimmed(piece.substr(0, equals));
    const std::string value = equals == std::string::npos ? std::string() : trimmed(piece.substr(equals + 1));
    if (!key.empty()) set(key, value);
  }
  for (const auto& [key, value] : kOpusParameters) set(key, value);
  std::string joined;
  for (const auto& [key, value] : parameters) {
    if (!joined.empty()) joined += ";";
    joined += value.empty() ? key : key + "=" + value;
  }
  return joined;
}

}  // namespace

std::optional<std::string> opusPayloadType(const std::string& line) {
  const std::string lower = lowered(line);
  if (!lower.starts_with("a=rtpmap:") || lower.find(" opus/48000") == std::string::npos) return std::nullopt;
  const std::string rest = line.substr(9);
  std::size_t digits = 0;
  while (digits < rest.size() && std::isdigit(static_cast<unsigned char>(rest[digits]))) ++digits;
  return rest.substr(0, digits);
}

std::string tuneOpus(const std::string& sdp) {
  // Lines are split at every LF and each keeps its own ending: a description
  // that mixes CR LF with bare LF must come back with every line we do not
  // edit exactly as it was, not merged into its neighbour or dropped with it.
  const bool crlf = sdp.find("\r\n") != std::string::npos;
  struct Line {
    std::string text;  // without its ending
    std::string ending;
  };
  std::vector<Line> lines;
  for (std::size_t start = 0;;) {
    const std::size_t at = sdp.find('\n', start);
    if (at == std::string::npos) {
      lines.push_back({sdp.substr(start), ""});
      break;
    }
    const bool cr = at > start && sdp[at - 1] == '\r';
    lines.push_back({sdp.substr(start, at - start - (cr ? 1 : 0)), cr ? "\r\n" : "\n"});
    start = at + 1;
  }

  std::optional<std::string> payloadType;
  for (const auto& line : lines) {
    if ((payloadType = opusPayloadType(line.text))) break;
  }
  if (!payloadType || payloadType->empty()) return sdp;

  const std::string prefix = "a=fmtp:" + *payloadType + " ";
  const bool hasFormatLine =
      std::any_of(lines.begin(), lines.end(), [&](const auto& line) { return line.text.starts_with(prefix); });
  const std::string mappingPrefix = "a=rtpmap:" + *payloadType + " ";
  // Lines we add end like the description does.
  const std::string separator = crlf ? "\r\n" : "\n";

  std::string out;
  out.reserve(sdp.size() + 160);
  // `ending` is the ending of the line the inserted ones follow: they take
  // the description's separator, and the last of them takes that ending.
  auto addFormatLines = [&](const std::string& parameters, const std::string& ending) {
    out += prefix + mergedParameters(parameters) + separator;
    out += std::string(kPacketTimeLines[0]) + separator;
    out += std::string(kPacketTimeLines[1]) + ending;
  };
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const Line& line = lines[i];
    if (line.text.starts_with(prefix)) {
      addFormatLines(line.text.substr(prefix.size()), line.ending);
      continue;
    }
    const std::string lower = lowered(line.text);
    // Packet times are ours to decide: one pair, after the Opus format line.
    if (lower.starts_with("a=ptime:") || lower.starts_with("a=maxptime:")) {
      // The ending of a dropped last line would otherwise go with it.
      if (line.ending.empty()) out.resize(out.size() - (out.ends_with("\r\n") ? 2 : out.ends_with("\n") ? 1 : 0));
      continue;
    }
    out += line.text;
    if (!hasFormatLine && lower.starts_with(mappingPrefix) && lower.find("opus") != std::string::npos) {
      out += separator;
      addFormatLines("", line.ending);
    } else {
      out += line.ending;
    }
  }
  return out;
}

}  // namespace orvik
