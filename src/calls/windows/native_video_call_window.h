// NativeVideoCallWindow: the controller of the native video call window, in
// which a video call is placed, rung, answered and carried on. It owns the
// window and the screen's model (VideoCallViewModel, kept for its whole life
// and rewritten for each call), follows the theme, gates an outgoing call on
// microphone access before it asks the call manager to place it, and binds
// the screen's controls to the manager's operations. It never changes call
// state itself: the manager closes the window (close) when a call ends.
//
// Sound behaviour beyond the plain flow:
// - The close button ends a call that rings, is placed, connects or is
//   connected (the manager closes the window later); with no such call there
//   is nothing to end and nobody else would close the window, so it closes.
// - A call the manager refuses to place (already in a call, blocked, no
//   credentials, …) closes the window that was opened for it.
// - An open while the window of an ended call is still up closes that window
//   and goes on with the new call; a close the manager asked for before that
//   open does not close the new call's window.
// - The microphone answer comes back later: a window built meanwhile is only
//   brought forward, so there is never a second window nor a second call.
//
//   auto window = NativeVideoCallWindow::create({calls, authorization, strings, &theme, floating, alerts,
//                                                identity, pip, VideoCallWindowGtk::factory(…)});
//   window->open(videoCallRequest(VideoCallEntry::outgoing, {"Bob", "4711", ""}, true, true));
//
// Owner: the composition root. THREAD-SAFETY: open and the window's events on
// the main queue; close, bringToFront, orderFront and setElevated from any
// thread (each posts its work to the main queue and holds the controller
// weakly).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "calls/screens/video_call_view_model.h"
#include "calls/windows/video_call_window_surface.h"
#include "platform/observer_list.h"

namespace orvik {

class CallAlerts;
class CallControl;
class CallStrings;
class FloatingCallPanelControl;
class NativeVideoPiP;
class ThemeManager;
namespace platform {
class CaptureAuthorization;
}  // namespace platform

// My own name and picture as the call manager knows them.
struct LocalCallIdentity {
  std::string displayName;
  std::optional<std::string> userNumber;
  std::string avatarURL;
};

struct VideoCallWindowRequest {
  std::string calleeName;
  std::string calleeOrvikID;
  std::string imageUrl;
  std::string localName;
  std::string localImageUrl;
  bool isConnected = false;
  bool isSubscribed = false;
  bool isDarkMode = true;
  // A call of mine becomes a video call, or an answered one connects: no
  // call is placed.
  bool isUpgrade = false;
  bool isOutgoing = true;
};

// The ways a window opens: the page places a call; a call rings here; a
// ringing call was answered ("Connecting...", the only way there without
// placing a call); an audio call of mine became a video call.
enum class VideoCallEntry { outgoing, incoming, accepted, upgrade };

struct VideoCallParty {
  std::string name;
  std::string orvikID;
  std::string imageUrl;
};

VideoCallWindowRequest videoCallRequest(VideoCallEntry entry, const VideoCallParty& callee, bool isSubscribed,
                                        bool isDarkMode);

class NativeVideoCallWindow final : public VideoCallWindowDelegate,
                                    public std::enable_shared_from_this<NativeVideoCallWindow> {
 public:
  static constexpr int kWidth = 860;
  static constexpr int kHeight = 640;
  static constexpr int kMinimumWidth = 780;
  static constexpr int kMinimumHeight = 620;
  static constexpr const char* kTitle = "Orvik – Video Call";
  static constexpr const char* kIncomingTitle = "Orvik – Incoming Video Call";
  static constexpr const char* kIncomingCall = "Incoming call";
  static constexpr const char* kMicrophoneAlertTitle = "Microphone Access Needed";
  static constexpr const char* kMicrophoneAlertText =
      "Orvik needs microphone access to make calls. Please allow it in System Settings > Privacy & Security > "
      "Microphone.";

  using LogFunction = std::function<void(const std::string& line)>;

  struct Collaborators {
    CallControl& calls;
    platform::CaptureAuthorization& authorization;
    const CallStrings& strings;
    // Null: the window keeps the appearance each call opens it with.
    ThemeManager* theme;
    FloatingCallPanelControl& floatingPanel;
    CallAlerts& alerts;
    std::function<LocalCallIdentity()> localIdentity;
    // The picture-in-picture panel; null: none.
    std::function<NativeVideoPiP*()> pip;
    VideoCallWindowFactory makeWindow;
    // Empty: nativeLog.
    LogFunction log{};
  };

  static std::shared_ptr<NativeVideoCallWindow> create(Collaborators collaborators);
  ~NativeVideoCallWindow() override;
  NativeVideoCallWindow(const NativeVideoCallWindow&) = delete;
  NativeVideoCallWindow& operator=(const NativeVideoCallWindow&) = delete;

  void open(const VideoCallWindowRequest& request);
  void close();
  void bringToFront();
  void orderFront();
  void setElevated(bool elevated);

  VideoCallViewModel& model() { return model_; }
  bool hasWindow() const { return window_ != nullptr; }
  bool isEnding() const { return isEnding_; }
  // 0 without a window.
  std::uint64_t windowNumber() const { return window_ ? window_->windowNumber() : 0; }

  // A resize keeps the window at 780 × 620 at least.
  static std::pair<int, int> clampedSize(int width, int height);

  // VideoCallWindowDelegate.
  bool windowShouldClose() override;
  void windowWillClose() override;
  void windowDidBecomeKey() override;
  void windowDidResignKey() override;

 private:
  explicit NativeVideoCallWindow(Collaborators collaborators);
  void log(const std::string& line) const;
  void applyTheme(bool dark);
  void buildWindow();
  void placeCall(const CallUser& callee);
  void closeNow();
  NativeVideoPiP* pip() const;
  void onMain(std::function<void(NativeVideoCallWindow&)> step);
  VideoCallActions makeActions();

  Collaborators c_;
  VideoCallViewModel model_;
  platform::Subscription themeSubscription_;
  std::shared_ptr<VideoCallWindowSurface> window_;
  bool isEnding_ = false;
  // Grows with each open: a microphone answer for an earlier open does
  // nothing.
  std::uint64_t openGeneration_ = 0;
  // Grows with each window built: a close asked for before a new call's
  // window was built leaves that window alone.
  std::uint64_t windowGeneration_ = 0;
};

}  // namespace orvik
