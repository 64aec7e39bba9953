// AudioCallView: the screen of the native audio call window. It renders
// presentAudioCall() of its model whenever the model changes: the party
// (avatar with its rings and badge, name, ID line, status with the pulsing
// dots or the muted pill), the secure-call notice and the controls row, and
// over them the video-switch pill or request banner, the call-limit banner
// and the output-device picker. Its buttons call the window's actions; the
// only state of its own is whether the picker is open.
//
//   auto* view = Gtk::make_managed<AudioCallView>(model, strings, actions, options);
//   window.set_child(*view);
//
// Owner: the audio call window. THREAD-SAFETY: main thread only.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtkmm/box.h>
#include <gtkmm/label.h>
#include <gtkmm/overlay.h>
#include <gtkmm/picture.h>

#include "calls/screens/audio_call_actions.h"
#include "calls/screens/audio_call_presenter.h"
#include "calls/screens/audio_call_view_model.h"
#include "platform/observer_list.h"

namespace orvik {

class AudioCircleBtn;
class AudioOutputRouting;
class CallAvatarView;
class CallLimitWarningBanner;
class CallStrings;
class GoldSubscriberBadge;
class OutputDevicePicker;
class OutputDevicePickerDialog;

struct AudioCallViewOptions {
  std::string defaultAvatarURL;
  std::string subscriberBadgeURL;
  // The logo at the top; none when empty.
  std::filesystem::path logoFile;
  // The output-device picker's router; without one the output button
  // opens nothing.
  AudioOutputRouting* outputRouting = nullptr;
};

class AudioCallView : public Gtk::Overlay {
 public:
  AudioCallView(AudioCallViewModel& model, const CallStrings& strings, AudioCallActions actions,
                AudioCallViewOptions options);
  ~AudioCallView() override;

  const AudioCallPresentation& presentation() const { return shown_; }
  // The controls row's buttons, left to right.
  const std::vector<AudioCircleBtn*>& controlButtons() const { return buttons_; }
  // The open output-device dialog, if any.
  OutputDevicePickerDialog* outputPicker() const { return dialog_.get(); }
  bool isOutputPickerShown() const { return showOutputPicker_; }

 private:
  void render();
  void renderControls(const AudioCallPresentation& p);
  void renderUpgrade(const AudioCallPresentation& p);
  void openOutputPicker();
  void onControl(CircleButtonLook::Role role);

  AudioCallViewModel& model_;
  const CallStrings& strings_;
  AudioCallActions actions_;
  AudioCallViewOptions options_;
  platform::Subscription modelSubscription_;
  AudioCallPresentation shown_;
  bool rendered_ = false;
  bool glowing_ = false;
  bool showOutputPicker_ = false;

  Gtk::Box column_{Gtk::Orientation::VERTICAL};
  Gtk::Overlay avatarGroup_;
  Gtk::Box glow_;
  Gtk::Box outerRing_;
  Gtk::Box innerRing_;
  CallAvatarView* avatar_;
  GoldSubscriberBadge* badge_ = nullptr;
  Gtk::Label name_;
  Gtk::Label idLine_;
  Gtk::Label timer_;
  Gtk::Box dots_{Gtk::Orientation::HORIZONTAL, 5};
  Gtk::Box mutedPill_{Gtk::Orientation::HORIZONTAL, 6};
  Gtk::Label secureNotice_;
  Gtk::Box controls_{Gtk::Orientation::HORIZONTAL};
  std::vector<AudioCircleBtn*> buttons_;
  Gtk::Box upgradeLayer_{Gtk::Orientation::VERTICAL};
  Gtk::Widget* upgradeElement_ = nullptr;
  CallLimitWarningBanner* limitBanner_;
  std::unique_ptr<OutputDevicePicker> picker_;
  std::unique_ptr<OutputDevicePickerDialog> dialog_;
  // Dropped with the view: work it posted finds it gone.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace orvik
