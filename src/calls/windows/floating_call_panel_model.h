// The observable state of the floating return-to-call panel, and what its
// card shows for a state: the name, the call type, the status or duration
// text and its colour, and the round buttons of its control row with their
// looks. The panel's controller (NativeCallFloatingPanel) owns one model for
// its whole life; the call manager writes the call's state into it through
// the controller, and the card's mute and camera buttons write their own
// flags.
//
//   FloatingCallPanelModel model(strings);
//   auto seen = model.addObserver([&] { card.render(presentFloatingCallPanel(model.state(), strings)); });
//   model.update([](FloatingCallPanelState& s) { s.isConnected = true; });
//
// Owner: NativeCallFloatingPanel. THREAD-SAFETY: main queue only.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "calls/screens/call_colors.h"
#include "platform/observer_list.h"

namespace orvik {

class CallStrings;

struct FloatingCallPanelState {
  std::string calleeName;
  std::string imageUrl;
  bool isAudio = true;
  std::string timerText;  // the status or duration text under the name
  bool isMuted = false;
  bool isCameraOff = false;
  bool isConnected = false;  // the duration text turns green
  // An incoming call not yet accepted: it gets no return surface.
  bool awaitingAccept = false;
  bool isDarkMode = true;
  bool operator==(const FloatingCallPanelState&) const = default;
};

class FloatingCallPanelModel {
 public:
  using Observers = platform::ObserverList<>;
  // `timerText` starts as the page's text for "calling".
  explicit FloatingCallPanelModel(const CallStrings& strings);
  FloatingCallPanelModel(const FloatingCallPanelModel&) = delete;
  FloatingCallPanelModel& operator=(const FloatingCallPanelModel&) = delete;

  const FloatingCallPanelState& state() const { return state_; }
  // Applies `change`; observers hear of it once when anything changed.
  void update(const std::function<void(FloatingCallPanelState&)>& change);
  [[nodiscard]] platform::Subscription addObserver(Observers::Observer observer) {
    return observers_.add(std::move(observer));
  }

 private:
  FloatingCallPanelState state_;
  Observers observers_;
};

// The colours the controller hands to the card.
namespace floatingcolors {
inline constexpr Rgba accentPurple = Rgba::of255(155, 48, 255);
inline constexpr Rgba danger = Rgba::of255(229, 62, 62);
inline constexpr Rgba green = Rgba::of255(34, 197, 94);
inline constexpr Rgba dark = Rgba::of255(26, 9, 55);
inline constexpr Rgba videoBlue = Rgba::of255(56, 189, 248);
}  // namespace floatingcolors

enum class FloatingPanelButtonKind { mute, camera, hangUp };

// One round button of the control row.
struct FloatingPanelButton {
  FloatingPanelButtonKind kind;
  std::string icon;
  bool isActive = false;
  bool isDanger = false;
  bool operator==(const FloatingPanelButton&) const = default;
};

// What the card shows for one state.
struct FloatingCallPanelContent {
  std::string name;        // "Call" without a name
  std::string typeSymbol;  // "phone.fill" or "video.fill"
  std::string typeText;    // "Audio Call" or "Video Call"
  Rgba typeColour;
  std::string timerText;  // the "calling" text while empty
  Rgba timerColour;       // green while connected, else the secondary text colour
  Rgba primaryText;
  Rgba cardFill;
  Rgba cardBorder;
  Rgba separator;
  std::vector<FloatingPanelButton> buttons;  // mute, camera (video calls), hang up
};
FloatingCallPanelContent presentFloatingCallPanel(const FloatingCallPanelState& state, const CallStrings& strings);

// A button's fill and symbol colours; `isHovered` changes only an inactive,
// non-danger button.
struct FloatingPanelButtonLook {
  Rgba fill;
  Rgba symbol;
  bool operator==(const FloatingPanelButtonLook&) const = default;
};
FloatingPanelButtonLook floatingPanelButtonLook(const FloatingPanelButton& button, bool isDarkMode, bool isHovered);

}  // namespace orvik
