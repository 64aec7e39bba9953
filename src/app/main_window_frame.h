// The main window remembers its size, maximised and full-screen state across
// launches in the user defaults. GTK 4 cannot place a window (and Wayland
// never lets a program do so), so the position is not kept: the stored frame
// string keeps its usual "{{x, y}, {w, h}}" form with the origin at 0, 0.
//
// `MainWindowFrameStore` holds the decisions (what to apply at launch, what
// to record on each change) without a display; main_window.cpp applies them
// to the GTK window.
//
// THREAD-SAFETY: main queue only.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/user_defaults.h"

namespace orvik {

struct FrameRect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
  bool operator==(const FrameRect&) const = default;
};

// "{{x, y}, {w, h}}" with numbers in their shortest form.
std::string frameString(const FrameRect& rect);
// Parses the form above (blanks optional); nothing when it does not parse.
std::optional<FrameRect> parseFrameString(std::string_view text);
// Fits `saved` into the work area: no larger than it, and inside it.
FrameRect clampFrameToWorkArea(const FrameRect& saved, const FrameRect& workArea);

struct LaunchFrame {
  int width = 0;
  int height = 0;
  bool fromSavedFrame = false;
  bool maximized = false;
  bool fullScreen = false;
};

class MainWindowFrameStore {
 public:
  static constexpr const char* kFrameKey = "mainWindowFrame";
  static constexpr const char* kWasFullScreenKey = "mainWindowWasFullScreen";
  static constexpr const char* kWasMaximizedKey = "mainWindowWasMaximized";
  static constexpr int kDefaultWidth = 1200;
  // The page's 800 points plus the 24-point title strip above it.
  static constexpr int kDefaultHeight = 824;

  explicit MainWindowFrameStore(platform::UserDefaults& defaults) : defaults_(defaults) {}

  // The saved windowed frame fitted into `workArea` (when the monitor's work
  // area is known); nothing when none is saved or its size is not positive.
  std::optional<FrameRect> savedFrame(const std::optional<FrameRect>& workArea) const;

  // What the window gets before it is first shown (its size is `current`
  // until then); logs the launch lines.
  LaunchFrame launchFrame(const FrameRect& current, const std::optional<FrameRect>& workArea) const;

  // The window's windowed size changed.
  void recordSize(int width, int height, bool isFullScreen);
  void recordMaximized(bool maximized);
  void recordFullScreen(bool fullScreen, int windowedWidth, int windowedHeight);

 private:
  void writeFrame(int width, int height);
  platform::UserDefaults& defaults_;
};

}  // namespace orvik
