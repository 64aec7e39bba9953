// What the audio call screen shows, decided from its model: which rows and
// buttons, their texts, colours and visibility. AudioCallView renders the
// result and decides nothing itself.
//
//   const AudioCallPresentation shown = presentAudioCall(model.state(), strings);
//
// THREAD-SAFETY: pure (the call-screen texts are looked up under their lock).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "calls/screens/audio_call_view_model.h"
#include "calls/screens/call_colors.h"

namespace orvik {

class CallStrings;

// Texts of the audio screen that are the program's own (the page-supplied
// ones come from CallStrings).
namespace audiocalltext {
inline constexpr const char* kMuted = "Muted";
inline constexpr const char* kSwitchingToVideo = "Switching to video…";
inline constexpr const char* kConnectingVideo = "Connecting video…";
inline constexpr const char* kWantsToSwitchToVideo = " wants to switch to video";
inline constexpr const char* kThey = "They";
inline constexpr const char* kDecline = "Decline";
inline constexpr const char* kAccept = "Accept";
inline constexpr const char* kSecureCallTwoLines = "You are making a secure end to\nend encrypted call";
}  // namespace audiocalltext

// One round call button (AudioCircleBtn).
struct CircleButtonLook {
  enum class Role { decline, accept, output, mute, end };
  Role role = Role::end;
  std::string icon;  // symbol name, drawn by CallIcon
  int size = 58;
  bool isActive = false;
  bool isDanger = false;
  Rgba fill;       // the circle while the pointer is away
  Rgba hoverFill;  // … and over it
  Rgba iconColor;
  Rgba shadow;
  double shadowRadius = 6;

  bool operator==(const CircleButtonLook&) const = default;
};

// How a button's look follows from its inputs (the AudioCircleBtn rules).
CircleButtonLook circleButtonLook(CircleButtonLook::Role role, const std::string& icon, int size, bool isActive,
                                  bool isDanger, const Rgba& dangerColor, const Rgba& darkIcon, const Rgba& defaultBg,
                                  const Rgba& defaultBgHover, const Rgba& defaultIcon);

struct AudioCallPresentation {
  enum class Controls { ringing, inCall };
  enum class Upgrade { none, pill, requestBanner };

  bool isDarkMode = true;
  // Dark: the base colour under a radial glow from above the top edge;
  // light: plain white.
  Rgba background;
  bool radialGlow = true;

  Rgba ringColor;
  bool showSubscriberBadge = false;
  Rgba avatarShadow;

  std::string name;
  Rgba nameColor;
  std::optional<std::string> idLine;  // label, blank, formatted number
  Rgba idColor;

  std::string timerText;
  Rgba timerColor;
  double timerLetterSpacing = 0.3;
  bool showPulsingDots = true;
  Rgba dotColor;
  bool showMutedPill = false;

  std::string secureNotice;
  Rgba secureNoticeColor;

  Controls controls = Controls::inCall;
  std::vector<CircleButtonLook> buttons;  // left to right

  Upgrade upgrade = Upgrade::none;
  std::string upgradeText;  // the pill's text, or the request banner's

  std::optional<std::string> limitWarning;
  bool limitCanExtend = false;

  bool operator==(const AudioCallPresentation&) const = default;
};

AudioCallPresentation presentAudioCall(const AudioCallViewState& state, const CallStrings& strings);

}  // namespace orvik
