// Setting a local description tuned for Opus (sdp_tuning.h) on a WebRTC
// connection, with the untuned original as the fallback. Media engine only.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <api/jsep.h>
#include <api/peer_connection_interface.h>
#include <api/rtc_error.h>
#include <api/scoped_refptr.h>

namespace orvik {

// Sets `description` as the local description of `connection`, tuned for Opus
// first and the original when WebRTC rejects the tuned one. `done` gets the
// description that was set and the error, if any, on WebRTC's signalling
// thread.
void applyTunedLocalDescription(rtc::scoped_refptr<webrtc::PeerConnectionInterface> connection, const std::string& label,
                                std::unique_ptr<webrtc::SessionDescriptionInterface> description,
                                std::function<void(const std::string& sdp, webrtc::RTCError error)> done);

}  // namespace orvik
