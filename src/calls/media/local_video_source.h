// The video track source of ours that local frames enter WebRTC through:
// the camera (camera_source.h backends), the screen share and the frame
// generator all deliver into one of these, and the call's video track is
// built on it. WebRTC types: media code and its tests only.
//
// THREAD-SAFETY: deliverFrame may be called on any thread (the capture
// threads); WebRTC's adapter hands the frame to the sinks attached to the
// track (the encoder, a local preview) on that thread.
#pragma once

#include <api/video/video_frame.h>
#include <media/base/adapted_video_track_source.h>

#include "calls/media/call_peer_connection_internal.h"

namespace orvik {

class LocalVideoSource : public rtc::AdaptedVideoTrackSource {
 public:
  explicit LocalVideoSource(bool isScreencast = false) : isScreencast_(isScreencast) {}
  bool is_screencast() const override { return isScreencast_; }
  absl::optional<bool> needs_denoising() const override { return false; }
  webrtc::MediaSourceInterface::SourceState state() const override { return kLive; }
  bool remote() const override { return false; }
  void deliverFrame(const webrtc::VideoFrame& frame) { OnFrame(frame); }

 private:
  const bool isScreencast_;
};

// A fresh source of ours, outside any peer connection (a preview, a test,
// the screen share before its track exists).
VideoSourceHandle makeLocalVideoSource(bool isScreencast = false);

// The source of ours behind a handle, or null. Every source the media
// engine hands out (CallPeerConnection, makeLocalVideoSource) is one.
LocalVideoSource* localVideoSource(const VideoSourceHandle& handle);

}  // namespace orvik
