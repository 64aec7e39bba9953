// Opus tuning of local session descriptions: every local offer and answer is
// rewritten so that Opus runs mono with in-band FEC, DTX, 24 kbit/s average
// and 60 ms packets. Remote descriptions are never rewritten. Pure functions.
#pragma once

#include <optional>
#include <string>

namespace orvik {

// The payload type of an "a=rtpmap:<pt> opus/48000…" line (case-insensitive),
// possibly empty; nothing for any other line.
std::optional<std::string> opusPayloadType(const std::string& line);

// The rewritten SDP, or the input unchanged when it has no usable Opus mapping.
// Every line it does not edit comes back as it was, ending included; the
// lines it adds end in CR LF when the input has any, else in LF.
std::string tuneOpus(const std::string& sdp);

}  // namespace orvik
