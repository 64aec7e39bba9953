#include "calls/screens/video_frame_sink.h"

#include <api/video/i420_buffer.h>
#include <api/video/video_frame_buffer.h>
#include <libyuv/convert_argb.h>

#include <mutex>

#include "calls/media/call_peer_connection_internal.h"
#include "calls/screens/video_frame_sink_internal.h"
#include "core/native_logger.h"
#include "platform/queue_checker.h"

namespace orvik {

StageSize RgbaVideoFrame::displaySize() const {
  const bool quarter = rotation == 90 || rotation == 270;
  return quarter ? StageSize{static_cast<double>(height), static_cast<double>(width)}
                 : StageSize{static_cast<double>(width), static_cast<double>(height)};
}

std::shared_ptr<std::vector<std::uint8_t>> I420ToRgbaConverter::takeBuffer(int width, int height) {
  if (width != width_ || height != height_) {
    buffers_.clear();
    width_ = width;
    height_ = height;
  }
  // A buffer only the pool holds is no longer shown anywhere.
  for (const auto& buffer : buffers_) {
    if (buffer.use_count() == 1) return buffer;
  }
  auto buffer = std::make_shared<std::vector<std::uint8_t>>(static_cast<std::size_t>(width) * height * 4);
  ++allocations_;
  if (buffers_.size() < kPooledBuffers) buffers_.push_back(buffer);
  return buffer;
}

std::shared_ptr<RgbaVideoFrame> I420ToRgbaConverter::convert(const I420Planes& planes, int rotation) {
  if (planes.width < 1 || planes.height < 1) return nullptr;
  auto frame = std::make_shared<RgbaVideoFrame>();
  frame->width = planes.width;
  frame->height = planes.height;
  frame->stride = planes.width * 4;
  frame->rotation = rotation;
  frame->pixels = takeBuffer(planes.width, planes.height);
  // libyuv names formats by their 32-bit words: "ABGR" is R, G, B, A in memory.
  if (libyuv::I420ToABGR(planes.y, planes.strideY, planes.u, planes.strideU, planes.v, planes.strideV,
                         frame->pixels->data(), frame->stride, planes.width, planes.height) != 0) {
    return nullptr;
  }
  return frame;
}

struct VideoFrameSink::Shared {
  platform::TaskQueue* main = nullptr;
  std::string logTag;
  LogFunction log;

  // The delivering thread's side.
  std::mutex convertMutex;
  I420ToRgbaConverter converter;
  std::uint64_t frameLogCount = 0;

  std::mutex mutex;
  std::shared_ptr<RgbaVideoFrame> pending;
  bool postPending = false;
  bool closed = false;

  std::atomic<std::uint64_t> received{0}, converted{0}, dropped{0}, superseded{0}, shown{0}, allocations{0};

  // Main queue only.
  FrameHandler onFrame;
  std::function<void(double)> onAspectRatio;
  StageSize reportedSize;

  void takePending();
};

void VideoFrameSink::Shared::takePending() {
  std::shared_ptr<RgbaVideoFrame> frame;
  {
    std::lock_guard lock(mutex);
    postPending = false;
    if (closed) return;
    frame = std::move(pending);
  }
  if (!frame) return;
  ++shown;
  const StageSize size = frame->displaySize();
  if (size != reportedSize) {
    reportedSize = size;
    if (onAspectRatio && size.width > 0 && size.height > 0) onAspectRatio(size.width / size.height);
  }
  if (onFrame) onFrame(std::move(frame));
}

namespace {

std::string bufferKind(webrtc::VideoFrameBuffer::Type type) {
  if (type == webrtc::VideoFrameBuffer::Type::kNative) return "Native(HW)";
  // WebRTC names them "kI420", "kNV12", ...
  std::string name = webrtc::VideoFrameBufferTypeToString(type);
  if (name.size() > 1 && name[0] == 'k') name.erase(0, 1);
  return name;
}

}  // namespace

void VideoFrameSink::Receiver::OnFrame(const webrtc::VideoFrame& frame) {
  Shared& s = *shared_;
  ++s.received;
  const auto buffer = frame.video_frame_buffer();
  std::shared_ptr<RgbaVideoFrame> picture;
  {
    std::lock_guard lock(s.convertMutex);
    if (!s.logTag.empty() && shouldLogVideoFrame(s.frameLogCount)) {
      const std::string line = s.logTag + " frame #" + std::to_string(s.frameLogCount) +
                               " buffer=" + (buffer ? bufferKind(buffer->type()) : std::string("none")) + " " +
                               std::to_string(frame.width()) + "x" + std::to_string(frame.height());
      if (s.log) {
        s.log(line);
      } else {
        nativeLog(line);
      }
    }
    ++s.frameLogCount;
    // Native buffers (and any other layout) come to I420 first.
    rtc::scoped_refptr<webrtc::I420BufferInterface> i420 = buffer ? buffer->ToI420() : nullptr;
    if (i420) {
      picture = s.converter.convert({i420->width(), i420->height(), i420->DataY(), i420->DataU(), i420->DataV(),
                                     i420->StrideY(), i420->StrideU(), i420->StrideV()},
                                    static_cast<int>(frame.rotation()));
      s.allocations = s.converter.allocations();
    }
  }
  if (!picture) {
    ++s.dropped;
    return;
  }
  ++s.converted;
  bool post = false;
  {
    std::lock_guard lock(s.mutex);
    if (s.closed) return;
    if (s.pending) ++s.superseded;
    s.pending = std::move(picture);
    post = !std::exchange(s.postPending, true);
  }
  if (post) s.main->post([shared = shared_] { shared->takePending(); });
}

rtc::VideoSinkInterface<webrtc::VideoFrame>& webrtcSinkOf(VideoFrameSink& sink) { return sink.receiver(); }

VideoFrameSink::VideoFrameSink(Options options, platform::TaskQueue* main)
    : shared_(std::make_shared<Shared>()) {
  shared_->main = main ? main : &platform::mainQueue();
  shared_->logTag = std::move(options.logTag);
  shared_->log = std::move(options.log);
  receiver_ = std::make_unique<Receiver>(shared_);
}

VideoFrameSink::~VideoFrameSink() {
  detach();
  std::lock_guard lock(shared_->mutex);
  shared_->closed = true;
  shared_->pending = nullptr;
}

bool VideoFrameSink::attach(const VideoTrackHandle& track) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (track && track_ && track->track == track_->track) return false;
  detach();
  if (!track || !track->track) return true;
  track_ = track;
  track_->track->AddOrUpdateSink(receiver_.get(), rtc::VideoSinkWants());
  return true;
}

bool VideoFrameSink::attachSource(const VideoSourceHandle& source) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (source && source_ && source->source == source_->source) return false;
  detach();
  if (!source || !source->source) return true;
  source_ = source;
  source_->source->AddOrUpdateSink(receiver_.get(), rtc::VideoSinkWants());
  return true;
}

void VideoFrameSink::detach() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  // Removal waits for a frame being delivered to this sink.
  if (track_) track_->track->RemoveSink(receiver_.get());
  if (source_) source_->source->RemoveSink(receiver_.get());
  track_ = nullptr;
  source_ = nullptr;
  std::lock_guard lock(shared_->mutex);
  shared_->pending = nullptr;
}

void VideoFrameSink::setFrameHandler(FrameHandler handler) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  shared_->onFrame = std::move(handler);
}

void VideoFrameSink::setAspectRatioHandler(std::function<void(double)> handler) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  shared_->onAspectRatio = std::move(handler);
  shared_->reportedSize = {};
}

VideoFrameSink::Stats VideoFrameSink::stats() const {
  const Shared& s = *shared_;
  return {s.received.load(), s.converted.load(), s.dropped.load(), s.superseded.load(), s.shown.load(),
          s.allocations.load()};
}

}  // namespace orvik
