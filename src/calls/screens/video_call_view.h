// VideoCallView: the screen of the native video call window. Back to front:
// the backdrop (my camera's preview while the call is not connected, else a
// plain colour), the connected stage, the gradients and the calling overlay
// before the call connects, the callee chip, the logo, and the controls
// (the incoming bar while a call rings here, else the call bar); over them
// the status pill with the remote-muted badge, the call-ended card, the
// limit banner and the share picker with its permission cards. The controls,
// chip and pill hide by themselves (VideoControlsAutoHide) and come back on
// hover or click; while hidden the call bar takes no clicks.
//
//   auto* view = Gtk::make_managed<VideoCallView>(model, strings, actions, options);
//   window.set_child(*view);
//
// Owner: the video call window. THREAD-SAFETY: main thread only.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include <gtkmm/box.h>
#include <gtkmm/overlay.h>

#include "calls/screens/camera_preview_view.h"
#include "calls/screens/video_call_actions.h"
#include "calls/screens/video_call_view_model.h"
#include "calls/screens/video_controls_autohide.h"
#include "platform/observer_list.h"

namespace orvik {

class AudioOutputRouting;
class CallEndedOverlay;
class CallLimitWarningBanner;
class CallStrings;
class ConnectedVideoStage;
class IncomingVideoControlsBar;
class OutputDevicePicker;
class OutputDevicePickerDialog;
class RemoteMutedBadge;
class ScreenRecordingCardView;
class ScreenSharePickerOverlay;
class ScreenShareThumbnailer;
class VideoCalleeChip;
class VideoCallingStateOverlay;
class VideoControlsBar;
class VideoTimerPill;
namespace platform {
class UserDefaults;
}  // namespace platform

struct VideoCallViewOptions {
  std::string defaultAvatarURL;
  std::string subscriberBadgeURL;
  // The faint logo at the bottom; none when empty.
  std::filesystem::path logoFile;
  // The output-device picker's router; without one the speaker button opens
  // nothing.
  AudioOutputRouting* outputRouting = nullptr;
  // The camera session's video source, for the previews.
  CameraSourceResolver cameraSource;
  // Where the share picker keeps its last choice; without it no picker.
  platform::UserDefaults* defaults = nullptr;
  // Pictures of the share picker's sources; none: cards without pictures.
  ScreenShareThumbnailer* thumbnailer = nullptr;
};

class VideoCallView : public Gtk::Overlay {
 public:
  VideoCallView(VideoCallViewModel& model, const CallStrings& strings, VideoCallActions actions,
                VideoCallViewOptions options);
  ~VideoCallView() override;

  VideoControlsAutoHide& autoHide() { return autoHide_; }
  bool controlsShown() const { return autoHide_.controlsShown(); }
  ConnectedVideoStage* stage() const { return stage_; }
  VideoControlsBar& controlsBar() { return *controlsBar_; }
  IncomingVideoControlsBar& incomingBar() { return *incomingBar_; }
  ScreenSharePickerOverlay* picker() const { return picker_; }
  ScreenRecordingCardView* primer() const { return primer_; }
  ScreenRecordingCardView* deniedNotice() const { return denied_; }
  CallEndedOverlay& callEndedCard() { return *ended_; }
  const CameraPreviewFeed& backdropFeed() const { return *backdropFeed_; }
  bool isOutputPickerShown() const { return showOutputPicker_; }

 private:
  void render();
  void setControlsShown(bool shown);
  void openOutputPicker();
  void syncPicker(const VideoCallFields& f);
  void syncPermissionCards(const VideoCallFields& f);
  // Leaves the overlay now and destroys it in a later turn: it may be the
  // one whose click got here.
  void dropOverlay(Gtk::Widget* widget);

  VideoCallViewModel& model_;
  const CallStrings& strings_;
  VideoCallActions actions_;
  VideoCallViewOptions options_;
  VideoControlsAutoHide autoHide_;
  platform::Subscription subscription_;

  Gtk::Box backdrop_;
  Gtk::Widget* backdropPreview_ = nullptr;
  ConnectedVideoStage* stage_ = nullptr;
  Gtk::Widget* gradients_ = nullptr;
  VideoCallingStateOverlay* calling_ = nullptr;
  VideoCalleeChip* chip_ = nullptr;
  Gtk::Widget* logo_ = nullptr;
  Gtk::Box controlsLayer_;
  VideoControlsBar* controlsBar_ = nullptr;
  IncomingVideoControlsBar* incomingBar_ = nullptr;
  Gtk::Box statusGroup_{Gtk::Orientation::VERTICAL, 8};
  VideoTimerPill* pill_ = nullptr;
  RemoteMutedBadge* mutedBadge_ = nullptr;
  CallEndedOverlay* ended_ = nullptr;
  CallLimitWarningBanner* limitBanner_ = nullptr;
  ScreenSharePickerOverlay* picker_ = nullptr;
  const ShareableContent* pickerFor_ = nullptr;
  ScreenRecordingCardView* primer_ = nullptr;
  ScreenRecordingCardView* denied_ = nullptr;
  bool showOutputPicker_ = false;
  std::unique_ptr<OutputDevicePicker> outputPicker_;
  std::unique_ptr<OutputDevicePickerDialog> dialog_;
  std::unique_ptr<CameraPreviewFeed> backdropFeed_;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace orvik
