// What the floating controls of the video call window show, decided apart
// from their widgets: the buttons of the in-call bar and of the incoming bar,
// the look of one round button in each of its states, the status pill's dot
// and text, and the callee chip's ID line.
//
//   for (const VideoControlButton& b : videoControlsBarButtons(model.fields())) …
//   VideoBtnLook look = videoBtnLook({.isActive = muted, .isDarkMode = dark}, 54);
//
// THREAD-SAFETY: pure functions.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "calls/screens/call_colors.h"

namespace orvik {

class CallStrings;
struct VideoCallFields;

enum class VideoControl { mute, camera, speaker, screenShare, end, reject, accept };

struct VideoControlButton {
  VideoControl control;
  std::string icon;
  bool isActive = false;
  bool isDanger = false;
  Rgba dangerColor = callcolors::danger;
  bool operator==(const VideoControlButton&) const = default;
};

inline constexpr double kVideoControlsBarButtonSize = 54;
inline constexpr double kIncomingVideoButtonSize = 64;

// What a screen reader says for a button: its only content is a symbol.
const char* videoControlLabel(VideoControl control);

// Left to right: mute, camera, speaker, share (only while connected), end.
std::vector<VideoControlButton> videoControlsBarButtons(const VideoCallFields& fields);
// Reject, accept.
std::vector<VideoControlButton> incomingVideoControlsBarButtons();

struct VideoBtnState {
  bool isActive = false;
  bool isDanger = false;
  bool isDarkMode = true;
  bool isHovered = false;
  Rgba dangerColor = callcolors::danger;
};

struct VideoBtnLook {
  Rgba fill;
  Rgba shadow;
  double shadowRadius = 6;
  Rgba icon;
  double iconSize = 0;
  bool operator==(const VideoBtnLook&) const = default;
};

// The first matching row wins: danger, active, hovered, idle.
VideoBtnLook videoBtnLook(const VideoBtnState& state, double size);
inline constexpr double kVideoBtnPressedScale = 0.91;

// The status pill: a dot unless the text starts with a number (Unicode's
// number categories); an empty text reads as the call-screen text "calling".
bool videoTimerPillShowsDot(const std::string& timerText);
std::string videoTimerPillText(const std::string& timerText, const CallStrings& strings);

// The chip's second line: "<label> <formatted number>", none without an ID.
std::optional<std::string> videoCalleeChipIdLine(const std::string& calleeOrvikID, const CallStrings& strings);

}  // namespace orvik
