#include "calls/media/sender_caps.h"

namespace orvik {
namespace {

bool isScreenTrack(const std::string& trackId) { return trackId.starts_with("screen"); }

}  // namespace

std::optional<SenderCaps> senderCaps(const std::string& kind, const std::string& trackId) {
  if (kind == "audio") {
    SenderCaps audio;
    audio.maxBitrateBps = 24000;
    audio.networkPriority = SenderPriority::high;
    audio.bitratePriority = 4.0;
    return audio;
  }
  if (kind != "video") return std::nullopt;
  const bool screen = isScreenTrack(trackId);
  SenderCaps video;
  video.maxBitrateBps = screen ? 2500000 : 1500000;
  video.setsMaxFramerate = true;
  video.maxFramerate = screen ? std::optional<double>(15) : std::nullopt;
  video.networkPriority = SenderPriority::low;
  video.bitratePriority = 1.0;
  video.degradation = screen ? SenderDegradation::maintainResolution : SenderDegradation::maintainFramerate;
  return video;
}

std::string senderCapsLogLine(const std::string& reason, bool screenVideo) {
  return "[Media] sender caps applied (" + reason + ") — audio 24 kbps high-priority, video " +
         (screenVideo ? "screen 2.5 Mbps/15fps" : "camera 1.5 Mbps") + " low-priority";
}

}  // namespace orvik
