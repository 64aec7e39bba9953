// The WebRTC face of VideoFrameSink, for its own code, its tests and the
// benchmark: the object WebRTC calls with each frame.
#pragma once

#include <api/video/video_frame.h>
#include <api/video/video_sink_interface.h>

#include "calls/screens/video_frame_sink.h"

namespace orvik {

class VideoFrameSink::Receiver final : public rtc::VideoSinkInterface<webrtc::VideoFrame> {
 public:
  explicit Receiver(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}
  // On the thread that delivers the frame.
  void OnFrame(const webrtc::VideoFrame& frame) override;

 private:
  std::shared_ptr<Shared> shared_;
};

// What WebRTC would call; tests hand frames in through it.
rtc::VideoSinkInterface<webrtc::VideoFrame>& webrtcSinkOf(VideoFrameSink& sink);

}  // namespace orvik
