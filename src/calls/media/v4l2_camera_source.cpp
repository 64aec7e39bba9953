#include "calls/media/v4l2_camera_source.h"

#include <map>
#include <mutex>
#include <utility>

#include <api/video/video_frame.h>
#include <api/video/video_sink_interface.h>
#include <modules/video_capture/video_capture.h>
#include <modules/video_capture/video_capture_factory.h>

#include "calls/media/local_video_source.h"
#include "core/native_logger.h"
#include "platform/dispatch/serial_queue.h"

namespace orvik {
namespace {

// Lives as long as the process: a capturer's last reference may be dropped
// on it.
platform::SerialQueue& cameraQueue() {
  static auto* queue = new platform::SerialQueue("orvik.call.camera");
  return *queue;
}

// Fans the module's frames out to the preview and the call's source.
class FrameFanOut final : public rtc::VideoSinkInterface<webrtc::VideoFrame> {
 public:
  explicit FrameFanOut(VideoSourceHandle preview) : preview_(std::move(preview)) {}
  void setTarget(VideoSourceHandle target) {
    std::lock_guard lock(mutex_);
    target_ = std::move(target);
  }
  void OnFrame(const webrtc::VideoFrame& frame) override {
    std::lock_guard lock(mutex_);
    if (auto* preview = localVideoSource(preview_)) preview->deliverFrame(frame);
    if (auto* target = localVideoSource(target_)) target->deliverFrame(frame);
  }

 private:
  std::mutex mutex_;
  VideoSourceHandle preview_;
  VideoSourceHandle target_;
};

class V4L2CameraCapturer final : public CameraCapturer, public std::enable_shared_from_this<V4L2CameraCapturer> {
 public:
  V4L2CameraCapturer()
      : session_(std::make_shared<CameraSessionRef>(CameraSessionRef{makeLocalVideoSource()})),
        fanOut_(std::make_shared<FrameFanOut>(session_->preview)) {}

  ~V4L2CameraCapturer() override {
    // Normally stopped already; the module must not call a gone sink.
    if (module_) {
      module_->StopCapture();
      module_->DeRegisterCaptureDataCallback();
    }
  }

  void setTarget(VideoSourceHandle target) override { fanOut_->setTarget(std::move(target)); }

  void start(const CameraDevice& device, const CameraFormat& format, int framesPerSecond,
             StartCompletion completion) override {
    cameraQueue().post([self = shared_from_this(), id = device.uniqueId, format, framesPerSecond,
                        completion = std::move(completion)] {
      const auto error = self->open(id, format, framesPerSecond);
      if (completion) completion(error);
    });
  }

  void stop(std::function<void()> completion) override {
    cameraQueue().post([self = shared_from_this(), completion = std::move(completion)] {
      if (self->module_) {
        self->module_->StopCapture();
        self->module_->DeRegisterCaptureDataCallback();
        self->module_ = nullptr;
        nativeLog("[Media] camera stopped");
      }
      if (completion) completion();
    });
  }

  CameraSessionHandle session() override { return session_; }

 private:
  std::optional<std::string> open(const std::string& id, const CameraFormat& format, int framesPerSecond) {
    if (module_) return std::nullopt;
    module_ = webrtc::VideoCaptureFactory::Create(id.c_str());
    if (!module_) return "the camera " + id + " could not be opened";
    webrtc::VideoCaptureCapability wanted;
    wanted.width = format.width;
    wanted.height = format.height;
    wanted.maxFPS = framesPerSecond;
    webrtc::VideoCaptureCapability capability = wanted;
    std::unique_ptr<webrtc::VideoCaptureModule::DeviceInfo> info(webrtc::VideoCaptureFactory::CreateDeviceInfo());
    if (info && info->GetBestMatchedCapability(id.c_str(), wanted, capability) < 0) capability = wanted;
    capability.maxFPS = std::min(capability.maxFPS, framesPerSecond);
    module_->RegisterCaptureDataCallback(fanOut_.get());
    if (module_->StartCapture(capability) != 0) {
      module_->DeRegisterCaptureDataCallback();
      module_ = nullptr;
      return "the camera " + id + " did not start";
    }
    return std::nullopt;
  }

  CameraSessionHandle session_;
  std::shared_ptr<FrameFanOut> fanOut_;
  // Camera queue only.
  rtc::scoped_refptr<webrtc::VideoCaptureModule> module_;
};

}  // namespace

std::vector<CameraDevice> V4L2CameraSource::captureDevices() {
  std::vector<CameraDevice> devices;
  std::unique_ptr<webrtc::VideoCaptureModule::DeviceInfo> info(webrtc::VideoCaptureFactory::CreateDeviceInfo());
  if (!info) return devices;
  for (std::uint32_t index = 0; index < info->NumberOfDevices(); ++index) {
    char name[256] = {};
    char uniqueId[256] = {};
    if (info->GetDeviceName(index, name, sizeof name, uniqueId, sizeof uniqueId) != 0) continue;
    CameraDevice device{uniqueId, name, CameraPosition::unspecified, {}};
    // One format per size, in the driver's order, with a range per rate.
    std::map<std::pair<int, int>, std::size_t> formatOf;
    const std::int32_t count = info->NumberOfCapabilities(uniqueId);
    for (std::int32_t c = 0; c < count; ++c) {
      webrtc::VideoCaptureCapability capability;
      if (info->GetCapability(uniqueId, static_cast<std::uint32_t>(c), capability) != 0) continue;
      const auto key = std::make_pair(capability.width, capability.height);
      auto found = formatOf.find(key);
      if (found == formatOf.end()) {
        found = formatOf.emplace(key, device.formats.size()).first;
        device.formats.push_back(CameraFormat{capability.width, capability.height, {}});
      }
      device.formats[found->second].frameRateRanges.push_back(
          CameraFrameRateRange{1, static_cast<double>(capability.maxFPS)});
    }
    devices.push_back(std::move(device));
  }
  return devices;
}

std::shared_ptr<CameraCapturer> V4L2CameraSource::makeCapturer() { return std::make_shared<V4L2CameraCapturer>(); }

}  // namespace orvik
