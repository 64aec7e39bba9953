// The screen-share picker's state and decisions, apart from its widgets: the
// Window / Entire Screen tab, each tab's own selection, the card titles, the
// last choice kept in the user defaults under "orvik.screenShare.lastChoice"
// and how it preselects a card the next time, and what Share hands on.
//
// The record is {"kind":"window","windowID":n,"bundleID":s,"title":s} or
// {"kind":"screen","displayID":n}; a value of the wrong type reads as absent.
// On Linux a window's "bundleID" is its application's identity (WM_CLASS).
//
//   ScreenSharePickerModel picker(content, defaults);
//   picker.thumbnailsArrived();             // selects the first window if none
//   if (auto target = picker.share()) onShare(*target);   // record saved first
//
// THREAD-SAFETY: main queue only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "calls/media/screen_source.h"

namespace orvik {

namespace platform {
class UserDefaults;
}  // namespace platform

struct ScreenShareLastChoice {
  static constexpr const char* kDefaultsKey = "orvik.screenShare.lastChoice";

  // True when the record is a non-empty object whose "kind" is "screen".
  static bool isScreen(const std::optional<nlohmann::json>& record);
  static std::optional<std::size_t> displayIndex(const std::optional<nlohmann::json>& record,
                                                 const std::vector<ShareableDisplay>& displays);
  // By window number; then by application and title; then by application.
  static std::optional<std::size_t> windowIndex(const std::optional<nlohmann::json>& record,
                                                const std::vector<ShareableWindow>& windows);
  static nlohmann::json recordFor(const ShareTarget& target);
};

class ScreenSharePickerModel {
 public:
  enum class Tab { window, screen };
  static constexpr const char* kTitle = "Choose what to share";
  static constexpr const char* kWindowTab = "Window";
  static constexpr const char* kScreenTab = "Entire Screen";
  static constexpr const char* kCancel = "Cancel";
  static constexpr const char* kShare = "Share";

  // Reads the last choice and preselects from it.
  ScreenSharePickerModel(ShareableContent content, platform::UserDefaults& defaults);

  const ShareableContent& content() const { return content_; }
  Tab tab() const { return tab_; }
  std::optional<std::size_t> selectedWindowIndex() const { return selectedWindow_; }
  std::optional<std::size_t> selectedDisplayIndex() const { return selectedDisplay_; }
  // The current tab's selection.
  std::optional<std::size_t> selection() const { return tab_ == Tab::window ? selectedWindow_ : selectedDisplay_; }

  // A tab with no selection selects its first card, if it has one.
  void setTab(Tab tab);
  void select(std::size_t index);
  // All thumbnails are in: with no window selected, the first one is.
  void thumbnailsArrived();
  bool canShare() const { return selection().has_value(); }

  // The current tab's cards, in list order.
  std::vector<std::string> cardTitles() const;
  // "Entire Screen" for a single display, else "Screen 1", "Screen 2", …
  static std::string displayTitle(std::size_t index, std::size_t count);

  // The selected target, after the record was written; none without one.
  std::optional<ShareTarget> share();

 private:
  ShareableContent content_;
  platform::UserDefaults& defaults_;
  Tab tab_ = Tab::window;
  std::optional<std::size_t> selectedWindow_;
  std::optional<std::size_t> selectedDisplay_;
};

}  // namespace orvik
