// Sender caps: limits on each RTP sender's first encoding so that audio is
// protected and video yields. Audio 24 kbit/s, high network priority and four
// times video's bitrate share; camera video 1.5 Mbit/s; screen video
// 2.5 Mbit/s at 15 frames per second. A pure function of the track, so the
// table is tested without WebRTC; the peer connection applies the result.
#pragma once

#include <optional>
#include <string>

namespace orvik {

// WebRTC's network priorities and degradation preferences, in its order.
enum class SenderPriority { veryLow, low, medium, high };
enum class SenderDegradation { disabled, maintainFramerate, maintainResolution, balanced };

struct SenderCaps {
  int maxBitrateBps = 0;
  // Whether the frame-rate cap is set at all (video), and to what: nothing
  // clears an earlier cap.
  bool setsMaxFramerate = false;
  std::optional<double> maxFramerate;
  SenderPriority networkPriority = SenderPriority::low;
  double bitratePriority = 1.0;
  // For the whole sender's parameters; nothing leaves them as they are.
  std::optional<SenderDegradation> degradation;
};

// The caps for a sender of `kind` ("audio" or "video") carrying `trackId`
// (screen tracks' ids begin with "screen"); nothing for any other kind.
std::optional<SenderCaps> senderCaps(const std::string& kind, const std::string& trackId);

// "[Media] sender caps applied (<reason>) — audio 24 kbps high-priority,
// video <camera 1.5 Mbps|screen 2.5 Mbps/15fps> low-priority"
std::string senderCapsLogLine(const std::string& reason, bool screenVideo);

}  // namespace orvik
