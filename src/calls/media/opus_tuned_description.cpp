#include "calls/media/opus_tuned_description.h"

#include "calls/media/sdp_tuning.h"
#include "calls/media/webrtc_observers.h"
#include "core/native_logger.h"

namespace orvik {

void applyTunedLocalDescription(rtc::scoped_refptr<webrtc::PeerConnectionInterface> pc, const std::string& label,
                                std::unique_ptr<webrtc::SessionDescriptionInterface> description,
                                std::function<void(const std::string& sdp, webrtc::RTCError error)> done) {
  if (!pc) return;
  std::string original;
  description->ToString(&original);
  const std::string tuned = tuneOpus(original);
  const webrtc::SdpType type = description->GetType();
  if (tuned == original) {
    pc->SetLocalDescription(std::move(description), rtc::make_ref_counted<SetLocalObserver>(
                                                        [done, original](webrtc::RTCError error) { done(original, std::move(error)); }));
    return;
  }
  webrtc::SdpParseError parseError;
  auto tunedDescription = webrtc::CreateSessionDescription(type, tuned, &parseError);
  if (!tunedDescription) {
    // The rewrite produced text WebRTC cannot read: the original goes in, and
    // the log says so rather than claiming a tuned description.
    nativeLog("[Media] " + label + ": tuned SDP rejected (" + parseError.description + ") — using the original");
    pc->SetLocalDescription(std::move(description), rtc::make_ref_counted<SetLocalObserver>(
                                                        [done, original](webrtc::RTCError error) { done(original, std::move(error)); }));
    return;
  }
  pc->SetLocalDescription(
      std::move(tunedDescription),
      rtc::make_ref_counted<SetLocalObserver>([pc, label, type, original, tuned, done](webrtc::RTCError error) {
        if (error.ok()) {
          nativeLog("[Media] " + label + ": Opus tuned (24 kbps mono, FEC, DTX, 60 ms)");
          done(tuned, std::move(error));
          return;
        }
        nativeLog("[Media] " + label + ": tuned SDP rejected (" + std::string(error.message()) + ") — using the original");
        pc->SetLocalDescription(webrtc::CreateSessionDescription(type, original),
                                rtc::make_ref_counted<SetLocalObserver>(
                                    [done, original](webrtc::RTCError second) { done(original, std::move(second)); }));
      }));
}

}  // namespace orvik
