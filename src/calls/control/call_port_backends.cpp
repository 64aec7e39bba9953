#include "calls/control/call_port_backends.h"

#include <filesystem>
#include <system_error>

#include <gtk/gtk.h>

#include <unistd.h>

#include "calls/media/call_audio_manager.h"
#include "calls/media/call_media_capture.h"
#include "calls/media/desktop_screen_source.h"
#include "calls/media/screen_share_capture.h"
#include "calls/media/device_camera_source.h"
#include "platform/audio/audio_hardware.h"
#include "platform/dispatch/task_queue.h"
#include "platform/test_camera.h"

namespace orvik {

bool DeviceCallCapture::hasMicrophone() {
  const auto device = hardware_().defaultInputDevice();
  return device && *device != platform::kNoAudioDevice;
}

DeviceCallCapture::DeviceCallCapture(std::function<platform::AudioHardware&()> hardware)
    : hardware_(std::move(hardware)) {}

DeviceCallCapture::~DeviceCallCapture() = default;

CallMediaCapture& DeviceCallCapture::mediaCapture() {
  if (!capture_) {
    cameras_ = makeDeviceCameraSource();
    capture_ = std::make_unique<CallMediaCapture>(*cameras_, [](const std::string& title, const std::string& message) {
      GtkCallAlerts().showCallAlert(title, message);
    });
  }
  return *capture_;
}

bool DeviceCallCapture::hasCamera() {
  if (platform::testCamera() != platform::TestCamera::none) return mediaCapture().findCamera().has_value();
  // Asking V4L2 opens every node: a quick look for one comes first.
  std::error_code error;
  bool node = false;
  for (const auto& entry : std::filesystem::directory_iterator("/dev", error)) {
    if (entry.path().filename().string().starts_with("video")) node = true;
  }
  return node && mediaCapture().findCamera().has_value();
}

void DeviceCallCapture::prewarmCamera() { mediaCapture().prewarmCamera(); }

CameraSessionHandle DeviceCallCapture::cameraSession() { return capture_ ? capture_->cameraSession() : nullptr; }

void DeviceCallCapture::startWithCameraOff() { mediaCapture().isCameraOff = true; }

void DeviceCallCapture::stopCapture() {
  if (capture_) capture_->stopCapture();
}

void DeviceCallCapture::setMuted(bool muted) { mediaCapture().isMuted = muted; }

void DeviceCallCapture::setCameraOff(bool off) { mediaCapture().isCameraOff = off; }

void DeviceCallCapture::attachVideo(VideoTrackHandle track, VideoSourceHandle source) {
  mediaCapture().videoTrack = track;
  mediaCapture().videoSource = source;
}

void DeviceCallCapture::startCapture(bool withVideo,
                                     std::function<void(const std::optional<std::string>& error)> completion) {
  mediaCapture().startCapture(withVideo, [completion = std::move(completion)](const std::optional<CaptureError>& error) {
    if (!completion) return;
    completion(error ? std::optional<std::string>(error->description) : std::nullopt);
  });
}

DesktopCallScreenShare::DesktopCallScreenShare(std::unique_ptr<ScreenSource> source)
    : source_(std::move(source)),
      // Our windows are told apart by process: every window of this process
      // is ours.
      capture_(std::make_unique<ScreenShareCapture>(*source_, OwnApplicationIdentity{getpid(), ""})) {}

DesktopCallScreenShare::~DesktopCallScreenShare() = default;

bool DesktopCallScreenShare::isSharingOwnWindow() { return capture_->isSharingOwnWindow(); }

void DesktopCallScreenShare::stopCapture() { capture_->stopCapture(); }

void DesktopCallScreenShare::setExcludedWindows(const std::vector<std::uint64_t>& windows, bool exclude) {
  capture_->setExcludedWindows(windows, exclude);
}

void DesktopCallScreenShare::setStreamDidStopHandler(std::function<void()> handler) {
  capture_->setStreamDidStopHandler(std::move(handler));
}

void DesktopCallScreenShare::fetchShareableContent(
    const std::vector<std::uint64_t>& leaveOut, bool allowOwnWindows,
    std::function<void(std::optional<ShareableContent> content, const std::string& error)> completion) {
  capture_->fetchShareableContent(leaveOut, allowOwnWindows, std::move(completion));
}

void DesktopCallScreenShare::startCapture(const ShareTarget& target, VideoSourceHandle frames,
                                          const std::vector<std::uint64_t>& excludeWindows, bool excludeAllOwnWindows,
                                          std::function<void(const std::optional<std::string>& error)> completion) {
  capture_->setDelegate(std::move(frames));
  capture_->startCapture(target, excludeWindows, excludeAllOwnWindows, std::move(completion));
}

std::unique_ptr<CallScreenShare> makeDesktopCallScreenShare() {
  if (auto source = makeDesktopScreenSource()) return std::make_unique<DesktopCallScreenShare>(std::move(source));
  return std::make_unique<NoCallScreenShare>();
}

void CallAudioTones::startTone(Tone tone) {
  switch (tone) {
    case Tone::incomingRingtone: audio_().startTone(CallAudioManager::Tone::incomingRingtone); return;
    case Tone::ringback: audio_().startTone(CallAudioManager::Tone::ringback); return;
    case Tone::connecting: audio_().startTone(CallAudioManager::Tone::connecting); return;
  }
}

void CallAudioTones::stopTone() { audio_().stopTone(); }

void CallAudioTones::playEndTone() { audio_().playEndTone(); }

void GtkCallAlerts::showCallAlert(const std::string& title, const std::string& message) {
  if (!gtk_is_initialized()) return;
  GtkWindow* parent = nullptr;
  if (GApplication* application = g_application_get_default(); application && GTK_IS_APPLICATION(application)) {
    parent = gtk_application_get_active_window(GTK_APPLICATION(application));
  }
  GtkWidget* dialog = gtk_message_dialog_new(parent, GTK_DIALOG_DESTROY_WITH_PARENT, GTK_MESSAGE_WARNING,
                                             GTK_BUTTONS_OK, "%s", title.c_str());
  gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s", message.c_str());
  g_signal_connect(dialog, "response", G_CALLBACK(+[](GtkDialog* self, int, gpointer) {
                     gtk_window_destroy(GTK_WINDOW(self));
                   }),
                   nullptr);
  gtk_window_present(GTK_WINDOW(dialog));
}

}  // namespace orvik
