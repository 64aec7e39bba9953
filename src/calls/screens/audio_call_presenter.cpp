#include "calls/screens/audio_call_presenter.h"

#include "calls/control/call_strings.h"
#include "calls/screens/format_user_number.h"

namespace orvik {

CircleButtonLook circleButtonLook(CircleButtonLook::Role role, const std::string& icon, int size, bool isActive,
                                  bool isDanger, const Rgba& dangerColor, const Rgba& darkIcon, const Rgba& defaultBg,
                                  const Rgba& defaultBgHover, const Rgba& defaultIcon) {
  CircleButtonLook look;
  look.role = role;
  look.icon = icon;
  look.size = size;
  look.isActive = isActive;
  look.isDanger = isDanger;
  if (isDanger) {
    look.fill = look.hoverFill = dangerColor;
    look.iconColor = Rgba::white();
    look.shadow = dangerColor.withAlpha(0.4);
    look.shadowRadius = 8;
  } else if (isActive) {
    look.fill = look.hoverFill = Rgba::white(0.92);
    look.iconColor = darkIcon;
    look.shadow = Rgba::white(0.25);
    look.shadowRadius = 6;
  } else {
    look.fill = defaultBg;
    look.hoverFill = defaultBgHover;
    look.iconColor = defaultIcon;
    look.shadow = Rgba::black(0);
    look.shadowRadius = 6;
  }
  return look;
}

AudioCallPresentation presentAudioCall(const AudioCallViewState& s, const CallStrings& strings) {
  using Role = CircleButtonLook::Role;
  namespace c = callcolors;
  const bool dark = s.isDarkMode;
  AudioCallPresentation p;
  p.isDarkMode = dark;
  p.background = dark ? c::audioBackground : Rgba::white();
  p.radialGlow = dark;

  p.ringColor = s.isSubscribed ? c::gold : Rgba::grey(dark ? 0.62 : 0.72);
  p.showSubscriberBadge = s.isSubscribed;
  p.avatarShadow = Rgba::black(dark ? 0.5 : 0.2);

  p.name = s.calleeName;
  p.nameColor = dark ? Rgba::white() : c::ink;
  if (!s.calleeOrvikID.empty()) {
    p.idLine = strings.string(CallStrings::kOrvikIdLabel, CallStrings::kOrvikIdLabelDefault) + " " +
               formatUserNumber(s.calleeOrvikID);
  }
  p.idColor = dark ? Rgba::white(0.45) : c::ink.withAlpha(0.5);

  p.timerText = s.timerText;
  p.timerColor = s.isConnected ? c::gold : (dark ? Rgba::white(0.6) : c::ink.withAlpha(0.55));
  p.timerLetterSpacing = s.isConnected ? 1.5 : 0.3;
  p.showPulsingDots = !s.isConnected;
  p.dotColor = dark ? Rgba::white(0.4) : c::ink.withAlpha(0.35);
  p.showMutedPill = s.isConnected && s.remoteMuted;

  const std::string secure = strings.string(CallStrings::kSecureCall, CallStrings::kSecureCallDefault);
  p.secureNotice = secure == CallStrings::kSecureCallDefault ? audiocalltext::kSecureCallTwoLines : secure;
  p.secureNoticeColor = dark ? Rgba::white(0.3) : c::ink.withAlpha(0.35);

  const Rgba whiteFill = Rgba::white(0.15);
  const Rgba whiteHover = Rgba::white(0.22);
  if (s.isIncoming && !s.isConnected) {
    p.controls = AudioCallPresentation::Controls::ringing;
    p.buttons = {
        circleButtonLook(Role::decline, "phone.down.fill", 64, false, true, c::danger, c::ink, whiteFill, whiteHover,
                         Rgba::white()),
        circleButtonLook(Role::accept, "phone.fill", 64, false, true, c::acceptGreen, c::ink, whiteFill, whiteHover,
                         Rgba::white()),
    };
  } else {
    p.controls = AudioCallPresentation::Controls::inCall;
    const Rgba fill = dark ? whiteFill : c::ink.withAlpha(0.08);
    const Rgba hover = dark ? whiteHover : c::ink.withAlpha(0.14);
    const Rgba icon = dark ? Rgba::white() : c::ink;
    p.buttons = {
        circleButtonLook(Role::output, "speaker.wave.3.fill", 58, false, false, c::danger, c::ink, fill, hover, icon),
        circleButtonLook(Role::mute, s.isMuted ? "microphone.slash.fill" : "microphone.fill", 58, s.isMuted, false,
                         c::danger, c::ink, fill, hover, icon),
        circleButtonLook(Role::end, "phone.down.fill", 58, false, true, c::danger, c::ink, whiteFill, whiteHover,
                         Rgba::white()),
    };
  }

  switch (s.upgradeState) {
    case VideoUpgradeState::none:
      break;
    case VideoUpgradeState::requesting:
      p.upgrade = AudioCallPresentation::Upgrade::pill;
      p.upgradeText = audiocalltext::kSwitchingToVideo;
      break;
    case VideoUpgradeState::incomingRequest:
      p.upgrade = AudioCallPresentation::Upgrade::requestBanner;
      p.upgradeText = (s.calleeName.empty() ? std::string(audiocalltext::kThey) : s.calleeName) +
                      audiocalltext::kWantsToSwitchToVideo;
      break;
    case VideoUpgradeState::connecting:
      p.upgrade = AudioCallPresentation::Upgrade::pill;
      p.upgradeText = audiocalltext::kConnectingVideo;
      break;
  }

  p.limitWarning = s.limitWarning;
  p.limitCanExtend = s.limitWarning.has_value() && s.callLimitCanExtend;
  return p;
}

}  // namespace orvik
