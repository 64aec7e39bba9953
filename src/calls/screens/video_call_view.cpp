#include "calls/screens/video_call_view.h"

#include <gtkmm/eventcontrollermotion.h>
#include <gtkmm/gestureclick.h>
#include <gtkmm/image.h>
#include <gtkmm/snapshot.h>
#include <gtkmm/window.h>

#include "calls/control/call_strings.h"
#include "calls/screens/call_ended_overlay.h"
#include "calls/screens/call_icon.h"
#include "calls/screens/call_limit_warning_banner.h"
#include "calls/screens/call_screen_css.h"
#include "calls/screens/connected_video_stage.h"
#include "calls/screens/output_device_picker.h"
#include "calls/screens/output_device_picker_dialog.h"
#include "calls/screens/screen_recording_views.h"
#include "calls/screens/screen_share_picker_view.h"
#include "calls/screens/video_call_controls_gtk.h"
#include "calls/screens/video_overlays.h"
#include "platform/dispatch/task_queue.h"

namespace orvik {

namespace {

// The darkening at the top and the bottom of the picture before the call
// connects.
class VideoGradients : public Gtk::Widget {
 public:
  VideoGradients() {
    set_can_target(false);
    set_hexpand(true);
    set_vexpand(true);
  }

 protected:
  void snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshot) override {
    const StageSize size{double(get_width()), double(get_height())};
    snapshotTopVideoGradient(snapshot->gobj(), size);
    snapshotBottomVideoGradient(snapshot->gobj(), size);
  }
};

}  // namespace

VideoCallView::VideoCallView(VideoCallViewModel& model, const CallStrings& strings, VideoCallActions actions,
                             VideoCallViewOptions options)
    : model_(model),
      strings_(strings),
      actions_(std::move(actions)),
      options_(std::move(options)),
      autoHide_(platform::mainQueue(), [this](bool shown) { setControlsShown(shown); }),
      backdropFeed_(std::make_unique<CameraPreviewFeed>(options_.cameraSource)) {
  CallIcon::registerIcons();
  set_name("video-call-view");
  set_hexpand(true);
  set_vexpand(true);
  backdrop_.set_hexpand(true);
  backdrop_.set_vexpand(true);
  set_child(backdrop_);
  backdropPreview_ = Gtk::make_managed<CameraPreviewView>(*backdropFeed_);
  backdropPreview_->set_name("video-backdrop-preview");
  add_overlay(*backdropPreview_);

  ConnectedVideoStage::Feeds feeds;
  feeds.cameraSource = options_.cameraSource;
  feeds.orvikIdLabel = strings_.string(CallStrings::kOrvikIdLabel, CallStrings::kOrvikIdLabelDefault);
  feeds.defaultAvatarURL = options_.defaultAvatarURL;
  feeds.subscriberBadgeURL = options_.subscriberBadgeURL;
  stage_ = Gtk::make_managed<ConnectedVideoStage>(model_, true, feeds);
  stage_->set_name("video-stage");
  add_overlay(*stage_);
  gradients_ = Gtk::make_managed<VideoGradients>();
  add_overlay(*gradients_);
  calling_ = Gtk::make_managed<VideoCallingStateOverlay>(
      model_, strings_.string(CallStrings::kCalling, CallStrings::kCallingDefault));
  calling_->set_name("video-calling-overlay");
  add_overlay(*calling_);

  chip_ = Gtk::make_managed<VideoCalleeChip>(strings_, options_.defaultAvatarURL, options_.subscriberBadgeURL);
  chip_->set_margin_start(12);
  chip_->set_margin_top(12);
  add_overlay(*chip_);

  if (!options_.logoFile.empty()) {
    auto* logo = Gtk::make_managed<Gtk::Image>(options_.logoFile.string());
    logo->set_pixel_size(16);
    logo->set_size_request(-1, 16);
    logo->set_halign(Gtk::Align::CENTER);
    logo->set_valign(Gtk::Align::END);
    logo->set_margin_bottom(28);
    logo->set_can_target(false);
    logo_ = logo;
    add_overlay(*logo_);
  }

  controlsLayer_.set_halign(Gtk::Align::CENTER);
  controlsLayer_.set_valign(Gtk::Align::END);
  controlsLayer_.set_margin_bottom(22);
  controlsBar_ = Gtk::make_managed<VideoControlsBar>(
      model_, VideoControlsBar::Actions{actions_.onMuteToggle, actions_.onCameraToggle,
                                        [this] { openOutputPicker(); }, actions_.onScreenShareToggle,
                                        actions_.onEndCall});
  incomingBar_ = Gtk::make_managed<IncomingVideoControlsBar>(actions_.onAccept, actions_.onReject, model_->isDarkMode);
  controlsLayer_.append(*controlsBar_);
  controlsLayer_.append(*incomingBar_);
  add_overlay(controlsLayer_);

  statusGroup_.set_halign(Gtk::Align::CENTER);
  statusGroup_.set_valign(Gtk::Align::START);
  statusGroup_.set_margin_top(14);
  statusGroup_.set_can_target(false);
  pill_ = Gtk::make_managed<VideoTimerPill>(strings_);
  mutedBadge_ = Gtk::make_managed<RemoteMutedBadge>(model_->calleeName);
  mutedBadge_->set_halign(Gtk::Align::CENTER);
  statusGroup_.append(*pill_);
  statusGroup_.append(*mutedBadge_);
  add_overlay(statusGroup_);

  ended_ = Gtk::make_managed<CallEndedOverlay>(options_.defaultAvatarURL, options_.subscriberBadgeURL);
  add_overlay(*ended_);

  limitBanner_ = Gtk::make_managed<CallLimitWarningBanner>();
  limitBanner_->set_halign(Gtk::Align::CENTER);
  limitBanner_->set_valign(Gtk::Align::START);
  limitBanner_->set_margin_top(52);
  limitBanner_->onExtend = [this] {
    if (actions_.extendCall) actions_.extendCall();
  };
  limitBanner_->onClose = [this] {
    model_.set(&VideoCallFields::limitWarning, std::nullopt);
    model_.set(&VideoCallFields::callLimitCanExtend, false);
  };
  add_overlay(*limitBanner_);

  if (options_.outputRouting) {
    outputPicker_ = std::make_unique<OutputDevicePicker>(
        *options_.outputRouting, platform::mainQueue(),
        OutputDevicePicker::Hooks{actions_.orderFront, actions_.setElevated, actions_.setFloatingPanelSuppressed});
  }

  // The pointer over the window, and clicks that no control took.
  auto motion = Gtk::EventControllerMotion::create();
  motion->signal_enter().connect([this](double, double) { autoHide_.pointerEntered(); });
  motion->signal_leave().connect([this] { autoHide_.pointerLeft(); });
  add_controller(motion);
  auto click = Gtk::GestureClick::create();
  click->signal_released().connect([this](int, double, double) { autoHide_.clicked(); });
  add_controller(click);

  subscription_ = model_.addObserver([this] { render(); });
  render();
  signal_map().connect([this] { autoHide_.viewShown(); });
}

VideoCallView::~VideoCallView() {
  if (dialog_) {
    dialog_->onClosed = nullptr;
    dialog_.reset();
  }
  backdropFeed_->unbind();
}

void VideoCallView::setControlsShown(bool shown) {
  chip_->set_opacity(shown ? 1 : 0);
  statusGroup_.set_opacity(shown ? 1 : 0);
  controlsBar_->set_opacity(shown ? 1 : 0);
  controlsBar_->set_can_target(shown);
  if (logo_) logo_->set_opacity(shown ? 0 : 0.45);
  stage_->setControlsVisible(shown);
}

void VideoCallView::render() {
  const VideoCallFields& f = model_.fields();
  const bool connected = f.isConnected;
  setWidgetCss(backdrop_, std::string("box { background-color: ") + (f.isDarkMode ? "black" : "white") + "; }");
  const bool preview = !connected && !f.isCameraOff && f.cameraSession;
  backdropFeed_->update(preview ? f.cameraSession : nullptr, true);
  backdropPreview_->set_visible(preview);
  stage_->set_visible(connected);
  gradients_->set_visible(!connected);
  calling_->set_visible(!connected);

  chip_->setContent({f.calleeName, f.calleeOrvikID, f.imageUrl, f.isSubscribed, f.isDarkMode});
  const bool ringing = f.isIncoming && !connected;
  incomingBar_->set_visible(ringing);
  incomingBar_->setDarkMode(f.isDarkMode);
  controlsBar_->set_visible(!ringing);
  // The incoming bar never fades.
  controlsLayer_.set_opacity(1);

  statusGroup_.set_visible(connected);
  pill_->setContent(f.timerText, f.isDarkMode);
  mutedBadge_->setName(f.calleeName);
  mutedBadge_->set_visible(f.remoteMuted);

  ended_->set_visible(f.callEnded);
  ended_->setContent({f.imageUrl, f.calleeName, f.isSubscribed, f.isDarkMode});

  limitBanner_->set_visible(f.limitWarning.has_value());
  if (f.limitWarning) limitBanner_->setContent(*f.limitWarning, f.callLimitCanExtend);

  syncPicker(f);
  syncPermissionCards(f);
}

void VideoCallView::dropOverlay(Gtk::Widget* widget) {
  if (!widget) return;
  widget->set_visible(false);
  platform::mainQueue().post([this, widget, alive = std::weak_ptr<int>(alive_)] {
    if (alive.lock()) remove_overlay(*widget);
  });
}

void VideoCallView::syncPicker(const VideoCallFields& f) {
  const ShareableContent* wanted = f.screenShareOptions.get();
  if (wanted == pickerFor_) return;
  if (picker_) {
    dropOverlay(picker_);
    picker_ = nullptr;
  }
  pickerFor_ = wanted;
  if (!wanted) return;
  if (wanted->systemPicker) {
    // The desktop's own dialog chooses; ours has nothing to offer.
    const ShareTarget target = wanted->displays.empty() ? ShareTarget(ShareableDisplay{}) : wanted->displays.front();
    platform::mainQueue().post([this, target, alive = std::weak_ptr<int>(alive_)] {
      if (!alive.lock()) return;
      if (actions_.startScreenShare) actions_.startScreenShare(target);
      model_.set(&VideoCallFields::screenShareOptions, nullptr);
    });
    return;
  }
  if (!options_.defaults) return;
  picker_ = Gtk::make_managed<ScreenSharePickerOverlay>(
      *wanted, f.isDarkMode, *options_.defaults, options_.thumbnailer,
      [this](const ShareTarget& target) {
        if (actions_.startScreenShare) actions_.startScreenShare(target);
        model_.set(&VideoCallFields::screenShareOptions, nullptr);
      },
      [this] { model_.set(&VideoCallFields::screenShareOptions, nullptr); });
  add_overlay(*picker_);
  picker_->shareButton().grab_focus();
}

void VideoCallView::syncPermissionCards(const VideoCallFields& f) {
  if (f.showScreenSharePrimer && !primer_) {
    primer_ = ScreenRecordingCardView::primer(
        [this] {
          model_.set(&VideoCallFields::showScreenSharePrimer, false);
          if (actions_.requestScreenShareOptions) actions_.requestScreenShareOptions(true);
        },
        [this] { model_.set(&VideoCallFields::showScreenSharePrimer, false); });
    add_overlay(*primer_);
  } else if (!f.showScreenSharePrimer && primer_) {
    dropOverlay(primer_);
    primer_ = nullptr;
  }
  if (f.showScreenRecordingDenied && !denied_) {
    // No settings page to open on Linux: the notice itself says what to do.
    denied_ = ScreenRecordingCardView::denied([this] { model_.set(&VideoCallFields::showScreenRecordingDenied, false); });
    add_overlay(*denied_);
  } else if (!f.showScreenRecordingDenied && denied_) {
    dropOverlay(denied_);
    denied_ = nullptr;
  }
}

void VideoCallView::openOutputPicker() {
  if (!outputPicker_ || showOutputPicker_) return;
  showOutputPicker_ = true;
  auto* parent = dynamic_cast<Gtk::Window*>(get_root());
  dialog_ = std::make_unique<OutputDevicePickerDialog>(*outputPicker_, parent);
  dialog_->onClosed = [this] {
    showOutputPicker_ = false;
    platform::mainQueue().post([this, alive = std::weak_ptr<int>(alive_)] {
      if (alive.lock() && !showOutputPicker_) dialog_.reset();
    });
  };
  dialog_->present();
}

}  // namespace orvik
