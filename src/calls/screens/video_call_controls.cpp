#include "calls/screens/video_call_controls.h"

#include <glib.h>

#include "calls/control/call_strings.h"
#include "calls/screens/format_user_number.h"
#include "calls/screens/video_call_view_model.h"

namespace orvik {

const char* videoControlLabel(VideoControl control) {
  switch (control) {
    case VideoControl::mute: return "Microphone";
    case VideoControl::camera: return "Camera";
    case VideoControl::speaker: return "Speaker";
    case VideoControl::screenShare: return "Share Screen";
    case VideoControl::end: return "End Call";
    case VideoControl::reject: return "Decline";
    case VideoControl::accept: return "Accept";
  }
  return "";
}

std::vector<VideoControlButton> videoControlsBarButtons(const VideoCallFields& f) {
  std::vector<VideoControlButton> buttons;
  buttons.push_back({VideoControl::mute, f.isMuted ? "microphone.slash.fill" : "microphone.fill", f.isMuted});
  buttons.push_back({VideoControl::camera, f.isCameraOff ? "video.slash.fill" : "video.fill", f.isCameraOff});
  buttons.push_back({VideoControl::speaker, "speaker.wave.3.fill"});
  if (f.isConnected) buttons.push_back({VideoControl::screenShare, "rectangle.on.rectangle", f.isScreenSharing});
  buttons.push_back({VideoControl::end, "phone.down.fill", false, true});
  return buttons;
}

std::vector<VideoControlButton> incomingVideoControlsBarButtons() {
  return {{VideoControl::reject, "phone.down.fill", false, true, callcolors::danger},
          {VideoControl::accept, "phone.fill", false, true, callcolors::acceptGreen}};
}

VideoBtnLook videoBtnLook(const VideoBtnState& s, double size) {
  VideoBtnLook look;
  look.iconSize = size * 0.35;
  const Rgba ink = callcolors::ink;
  if (s.isDanger) {
    look.fill = s.dangerColor;
    look.shadow = s.dangerColor.withAlpha(0.4);
    look.shadowRadius = 8;
  } else if (s.isActive) {
    look.fill = Rgba::white(0.92);
    look.shadow = Rgba::white(0.25);
  } else {
    const double opacity = s.isHovered ? (s.isDarkMode ? 0.26 : 0.16) : (s.isDarkMode ? 0.18 : 0.10);
    look.fill = s.isDarkMode ? Rgba::white(opacity) : ink.withAlpha(opacity);
    look.shadow = Rgba::black(0);
  }
  look.icon = (!s.isDanger && (s.isActive || !s.isDarkMode)) ? ink : Rgba::white();
  return look;
}

bool videoTimerPillShowsDot(const std::string& timerText) {
  if (timerText.empty() || !g_utf8_validate(timerText.c_str(), static_cast<gssize>(timerText.size()), nullptr)) {
    return true;
  }
  switch (g_unichar_type(g_utf8_get_char(timerText.c_str()))) {
    case G_UNICODE_DECIMAL_NUMBER:
    case G_UNICODE_LETTER_NUMBER:
    case G_UNICODE_OTHER_NUMBER:
      return false;
    default:
      return true;
  }
}

std::string videoTimerPillText(const std::string& timerText, const CallStrings& strings) {
  return timerText.empty() ? strings.string(CallStrings::kCalling, CallStrings::kCallingDefault) : timerText;
}

std::optional<std::string> videoCalleeChipIdLine(const std::string& calleeOrvikID, const CallStrings& strings) {
  if (calleeOrvikID.empty()) return std::nullopt;
  return strings.string(CallStrings::kOrvikIdLabel, CallStrings::kOrvikIdLabelDefault) + " " +
         formatUserNumber(calleeOrvikID);
}

}  // namespace orvik
