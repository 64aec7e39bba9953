// The screen-share picker over the video call window: a dimmed backdrop and
// a panel with "Choose what to share", the Window / Entire Screen tabs, a
// grid of cards with pictures of each source, Cancel and Share (Return
// presses Share while it is enabled). The decisions are the picker model's
// (screen_share_picker_model.h); the pictures come from a thumbnailer, all
// at once. Share records the choice, then calls `onShare`; Cancel and a
// click on the backdrop call `onCancel`. The picker never closes itself.
//
// THREAD-SAFETY: main thread only.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/flowbox.h>
#include <gtkmm/label.h>
#include <gtkmm/scrolledwindow.h>
#include <gtkmm/togglebutton.h>

#include "calls/screens/screen_share_picker_model.h"
#include "calls/screens/screen_share_thumbnails.h"

namespace orvik {

class ScreenShareOptionCard : public Gtk::Button {
 public:
  ScreenShareOptionCard(const std::string& title, bool selected);
  void setThumbnail(const ScreenShareThumbnail* thumbnail);
  void setSelected(bool selected);
  bool hasThumbnail() const { return hasThumbnail_; }
  std::string title() const { return title_.get_text(); }

 private:
  Gtk::Box frame_;
  Gtk::Label title_;
  bool hasThumbnail_ = false;
};

class ScreenSharePickerOverlay : public Gtk::Box {
 public:
  ScreenSharePickerOverlay(ShareableContent content, bool isDarkMode, platform::UserDefaults& defaults,
                           ScreenShareThumbnailer* thumbnailer, std::function<void(const ShareTarget&)> onShare,
                           std::function<void()> onCancel);
  ~ScreenSharePickerOverlay() override;

  ScreenSharePickerModel& picker() { return picker_; }
  const std::vector<ScreenShareOptionCard*>& cards() const { return cards_; }
  bool thumbnailsApplied() const { return thumbnailsApplied_; }
  Gtk::Button& shareButton() { return share_; }
  Gtk::Button& cancelButton() { return cancel_; }
  Gtk::ToggleButton& windowTab() { return windowTab_; }
  Gtk::ToggleButton& screenTab() { return screenTab_; }
  Gtk::Box& panel() { return panel_; }
  void clickBackdrop();
  // Return.
  void activateDefault();

 private:
  void rebuildGrid();
  void refresh();
  void pressShare();

  ScreenSharePickerModel picker_;
  std::function<void(const ShareTarget&)> onShare_;
  std::function<void()> onCancel_;
  ScreenShareThumbnails thumbnails_;
  bool thumbnailsApplied_ = false;
  Gtk::Box panel_{Gtk::Orientation::VERTICAL, 0};
  Gtk::ToggleButton windowTab_;
  Gtk::ToggleButton screenTab_;
  Gtk::ScrolledWindow scroller_;
  Gtk::FlowBox grid_;
  std::vector<ScreenShareOptionCard*> cards_;
  Gtk::Button cancel_;
  Gtk::Button share_;
  bool updatingTabs_ = false;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace orvik
