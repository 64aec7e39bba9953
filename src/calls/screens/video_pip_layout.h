// The video picture-in-picture panel's frame and what it shows, decided apart
// from its widgets: where the panel stands in the work area, its size limits,
// the main picture and the inset for each state of the call, and the texts of
// its top bar.
//
// Frames are in the desktop's coordinates, y growing downwards: the panel's
// top edge is 20 px below the work area's top.
//
// THREAD-SAFETY: pure functions.
#pragma once

#include <string>

#include "calls/screens/video_stage_layout.h"

namespace orvik {

struct VideoCallFields;

inline constexpr double kPiPWidth = 264;
inline constexpr double kPiPHeight = 208;
inline constexpr double kPiPMargin = 20;
inline constexpr StageSize kPiPMinimumSize{200, 170};
inline constexpr StageSize kPiPMaximumSize{640, 520};
// The frame taken when the desktop tells no work area.
inline constexpr StageRect kFallbackWorkArea{0, 0, 1440, 900};

// 264 × 208, 20 in from the top-right corner of `workArea` (an empty work
// area counts as the fallback).
StageRect videoPiPFrame(StageRect workArea);
// A size the user drags to, kept within the limits.
StageSize clampVideoPiPSize(StageSize size);

enum class PiPFeed { localScreenShare, local, remote };

struct PiPFeedLook {
  PiPFeed feed = PiPFeed::remote;
  // Video drawn (else the party's avatar on its backdrop).
  bool showsVideo = false;
  // Video fills its frame (cropped) rather than fitting whole.
  bool fills = false;
  double avatarSize = 0;
  bool operator==(const PiPFeedLook&) const = default;
};

struct PiPContent {
  PiPFeedLook main;
  PiPFeedLook inset;
  // The inset's picture; its frame, border and shadow always show.
  double insetOpacity = 1;
  bool operator==(const PiPContent&) const = default;
};

// What the model's state shows; the handles are whether the model has a
// camera session, a remote track and a local screen track.
PiPContent videoPiPContent(const VideoCallFields& fields, bool hasRemoteTrack, bool hasLocalScreenTrack);

// The top bar: the callee's name ("Call" when empty) and the timer
// ("Connected" when empty).
std::string videoPiPTitle(const VideoCallFields& fields);
std::string videoPiPTimer(const VideoCallFields& fields);
std::string videoPiPMuteIcon(const VideoCallFields& fields);

}  // namespace orvik
