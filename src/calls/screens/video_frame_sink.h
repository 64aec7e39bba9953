// The renderer of a call's video: a sink on a WebRTC video track (the remote
// party's, a shared screen) or on a video source (the local camera) that
// turns each frame into RGBA on the thread that delivers it and hands the
// newest picture to the main queue.
//
//   VideoFrameSink sink;                                   // main queue
//   sink.setFrameHandler([paintable](auto frame) { videoPaintableShowFrame(paintable, frame); });
//   sink.attach(model.remoteVideoTrack());
//   ...
//   sink.detach();   // or let it go: the destructor detaches first
//
// Frames: native buffers go through ToI420(), then libyuv turns I420 into
// RGBA in a buffer reused for as long as the size stays and nobody still
// shows it. The latest frame wins: while one picture waits for the main
// queue, a newer one replaces it and the older one counts as superseded.
// One log line per 150 frames ("[RemoteVideo] frame #N buffer=KIND WxH",
// muted on the common log path like the rest of the call's chatter).
//
// Lifetime: the sink is owned apart from the widget that shows its frames,
// and detaching removes it from the track before it returns: WebRTC delivers
// under the broadcaster's lock, which the removal takes, so no frame is in
// the sink once detach() is back, and pictures already posted to the main
// queue are dropped when they find the sink gone. The sink holds the track
// (or source) while attached: detach it before the connection that gave the
// track out is released.
//
// THREAD-SAFETY: every method on the main queue; handlers run there. The
// WebRTC side (frame delivery) runs on WebRTC's threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "calls/media/peer_connection.h"
#include "calls/screens/video_stage_layout.h"
#include "platform/dispatch/task_queue.h"

namespace orvik {

// One picture ready to draw.
struct RgbaVideoFrame {
  int width = 0;  // as stored, before the rotation
  int height = 0;
  int stride = 0;  // bytes per row
  // Clockwise degrees that turn the picture upright: 0, 90, 180 or 270.
  int rotation = 0;
  // R, G, B, A bytes; `stride` × `height` of them.
  std::shared_ptr<std::vector<std::uint8_t>> pixels;

  // The size the picture shows at: width and height swapped for 90 and 270.
  StageSize displaySize() const;
};

// The three planes of an I420 picture, borrowed for one conversion.
struct I420Planes {
  int width = 0;
  int height = 0;
  const std::uint8_t* y = nullptr;
  const std::uint8_t* u = nullptr;
  const std::uint8_t* v = nullptr;
  int strideY = 0;
  int strideU = 0;
  int strideV = 0;
};

// Turns I420 pictures into RGBA (BT.601, limited range), reusing its buffers
// while the size stays the same; a new size replaces them.
// THREAD-SAFETY: one thread at a time.
class I420ToRgbaConverter {
 public:
  static constexpr std::size_t kPooledBuffers = 4;
  // Nothing for a picture narrower or lower than 1 pixel.
  std::shared_ptr<RgbaVideoFrame> convert(const I420Planes& planes, int rotation);
  // Buffers made so far.
  std::uint64_t allocations() const { return allocations_; }

 private:
  std::shared_ptr<std::vector<std::uint8_t>> takeBuffer(int width, int height);

  int width_ = 0;
  int height_ = 0;
  std::vector<std::shared_ptr<std::vector<std::uint8_t>>> buffers_;
  std::uint64_t allocations_ = 0;
};

// Whether the frame with this count (before it is counted) gets a log line.
inline constexpr std::uint64_t kVideoFrameLogInterval = 150;
inline bool shouldLogVideoFrame(std::uint64_t frameCount) { return frameCount % kVideoFrameLogInterval == 0; }

struct VideoFrameSinkOptions {
  // The log tag of the frame line; empty: no frame lines.
  std::string logTag = "[RemoteVideo]";
  // Empty: nativeLog.
  std::function<void(const std::string& line)> log;
};

class VideoFrameSink {
 public:
  using FrameHandler = std::function<void(std::shared_ptr<const RgbaVideoFrame> frame)>;
  using LogFunction = std::function<void(const std::string& line)>;

  using Options = VideoFrameSinkOptions;

  struct Stats {
    std::uint64_t received = 0;     // every frame WebRTC handed in
    std::uint64_t converted = 0;    // turned into RGBA
    std::uint64_t dropped = 0;      // could not be converted
    std::uint64_t superseded = 0;   // replaced by a newer one before the main queue took it
    std::uint64_t shown = 0;        // handed to the frame handler
    std::uint64_t allocations = 0;  // RGBA buffers made
  };

  // Pictures go to `main` (the program's main queue unless given).
  explicit VideoFrameSink(Options options = {}, platform::TaskQueue* main = nullptr);
  ~VideoFrameSink();
  VideoFrameSink(const VideoFrameSink&) = delete;
  VideoFrameSink& operator=(const VideoFrameSink&) = delete;

  // Starts receiving the track's frames, leaving the previous track or
  // source. The same track again does nothing (false).
  bool attach(const VideoTrackHandle& track);
  // The same for a source (a camera's second sink beside the sender's).
  bool attachSource(const VideoSourceHandle& source);
  // Stops receiving; no frame is in the sink once this returns.
  void detach();
  bool isAttached() const { return track_ != nullptr || source_ != nullptr; }
  const VideoTrackHandle& attachedTrack() const { return track_; }
  const VideoSourceHandle& attachedSource() const { return source_; }

  void setFrameHandler(FrameHandler handler);
  // Width ÷ height of the upright picture, when it changes.
  void setAspectRatioHandler(std::function<void(double ratio)> handler);

  Stats stats() const;

  struct Shared;
  // The WebRTC face of the sink (video_frame_sink_internal.h).
  class Receiver;
  Receiver& receiver() { return *receiver_; }

 private:
  std::shared_ptr<Shared> shared_;
  std::unique_ptr<Receiver> receiver_;
  VideoTrackHandle track_;
  VideoSourceHandle source_;
};

}  // namespace orvik
