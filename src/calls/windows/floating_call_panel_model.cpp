#include "calls/windows/floating_call_panel_model.h"

#include "calls/control/call_strings.h"

namespace orvik {

FloatingCallPanelModel::FloatingCallPanelModel(const CallStrings& strings) {
  state_.timerText = strings.string(CallStrings::kCalling, CallStrings::kCallingDefault);
}

void FloatingCallPanelModel::update(const std::function<void(FloatingCallPanelState&)>& change) {
  FloatingCallPanelState next = state_;
  change(next);
  if (next == state_) return;
  state_ = std::move(next);
  observers_.notify();
}

FloatingCallPanelContent presentFloatingCallPanel(const FloatingCallPanelState& state, const CallStrings& strings) {
  using namespace floatingcolors;
  FloatingCallPanelContent content;
  const bool dark = state.isDarkMode;
  content.primaryText = dark ? Rgba::white() : floatingcolors::dark;
  content.name = state.calleeName.empty() ? "Call" : state.calleeName;
  content.typeSymbol = state.isAudio ? "phone.fill" : "video.fill";
  content.typeText = state.isAudio ? "Audio Call" : "Video Call";
  content.typeColour = state.isAudio ? accentPurple : videoBlue;
  content.timerText = state.timerText.empty() ? strings.string(CallStrings::kCalling, CallStrings::kCallingDefault)
                                              : state.timerText;
  content.timerColour = state.isConnected ? green : content.primaryText.withAlpha(0.5);
  content.cardFill = dark ? Rgba::of255(16, 2, 46, 0.96) : Rgba::of255(250, 250, 252, 0.96);
  content.cardBorder = accentPurple.withAlpha(0.3);
  content.separator = dark ? Rgba::white(0.12) : Rgba::black(0.1);
  content.buttons.push_back({FloatingPanelButtonKind::mute,
                             state.isMuted ? "microphone.slash.fill" : "microphone.fill", state.isMuted, false});
  if (!state.isAudio) {
    content.buttons.push_back({FloatingPanelButtonKind::camera, state.isCameraOff ? "video.slash.fill" : "video.fill",
                               state.isCameraOff, false});
  }
  content.buttons.push_back({FloatingPanelButtonKind::hangUp, "phone.down.fill", false, true});
  return content;
}

FloatingPanelButtonLook floatingPanelButtonLook(const FloatingPanelButton& button, bool isDarkMode, bool isHovered) {
  using namespace floatingcolors;
  if (button.isDanger) return {danger, Rgba::white()};
  if (button.isActive) {
    // The inverse of an inactive button: a nearly white disc with a dark
    // symbol in the dark appearance.
    return {isDarkMode ? Rgba::white(0.88) : dark, isDarkMode ? dark : Rgba::white()};
  }
  const double opacity = isHovered ? 0.22 : 0.14;
  return {isDarkMode ? Rgba::white(opacity) : dark.withAlpha(opacity), isDarkMode ? Rgba::white() : dark};
}

}  // namespace orvik
