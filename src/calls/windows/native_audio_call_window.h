// NativeAudioCallWindow: the controller of the native audio call window, in
// which an audio call is placed, rung, answered and carried on. It owns the
// window and the screen's model (AudioCallViewModel, kept for its whole
// life and rewritten for each call), follows the theme, gates an outgoing
// call on microphone access before it asks the call manager to place it,
// and binds the screen's buttons to the manager's operations. Closing the
// window by hand hangs the call up; the manager closes it (close) when a
// call ends or turns into a video call (closeForUpgrade).
//
//   auto window = NativeAudioCallWindow::create({calls, authorization, strings, &theme, floating, alerts,
//                                                AudioCallWindowGtk::factory(placement)});
//   window->open({"Bob", "4711", "", false, true, /*connecting*/ false, /*outgoing*/ true});
//
// Owner: the composition root. THREAD-SAFETY: open and the window's events
// on the main queue; close, closeForUpgrade, bringToFront,
// raiseAboveAppWindows and setElevated from any thread (each posts its work
// to the main queue and holds the controller weakly).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "calls/screens/audio_call_view_model.h"
#include "calls/signaling/call_model.h"
#include "calls/windows/audio_call_window_surface.h"
#include "platform/observer_list.h"

namespace orvik {

class CallAlerts;
class CallControl;
class CallStrings;
class FloatingCallPanelControl;
class ThemeManager;
namespace platform {
class CaptureAuthorization;
}  // namespace platform

// What the page or the call manager opens the window for.
struct AudioCallWindowRequest {
  std::string calleeName;
  std::string calleeOrvikID;
  std::string imageUrl;
  bool isSubscribed = false;
  bool isDarkMode = true;
  // An incoming call just accepted: shown as connecting.
  bool connecting = false;
  bool outgoing = false;
};

class NativeAudioCallWindow final : public AudioCallWindowDelegate,
                                    public std::enable_shared_from_this<NativeAudioCallWindow> {
 public:
  static constexpr int kWidth = 620;
  static constexpr int kHeight = 570;
  static constexpr int kMinimumSide = 560;
  static constexpr const char* kTitle = "Orvik – Audio Call";
  static constexpr const char* kIncomingTitle = "Orvik – Incoming Audio Call";
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
    // Null: the window stays in the appearance each call opens it with.
    ThemeManager* theme;
    FloatingCallPanelControl& floatingPanel;
    CallAlerts& alerts;
    AudioCallWindowFactory makeWindow;
    // Empty: nativeLog.
    LogFunction log{};
  };

  static std::shared_ptr<NativeAudioCallWindow> create(Collaborators collaborators);
  ~NativeAudioCallWindow() override;
  NativeAudioCallWindow(const NativeAudioCallWindow&) = delete;
  NativeAudioCallWindow& operator=(const NativeAudioCallWindow&) = delete;

  // Writes the model for the call and shows the window; a window already
  // shown is brought forward and no call is placed. An outgoing call is
  // placed only with microphone access, after the window is built.
  void open(const AudioCallWindowRequest& request);
  // Closes the window without ending the call again.
  void close();
  // The same, without the log line: the call goes on in the video window.
  void closeForUpgrade();
  void bringToFront();
  void raiseAboveAppWindows();
  void setElevated(bool elevated);

  AudioCallViewModel& model() { return model_; }
  bool hasWindow() const { return window_ != nullptr; }
  bool isEnding() const { return isEnding_; }

  // A resize keeps each side at kMinimumSide at least.
  static std::pair<int, int> clampedSize(int width, int height);

  // AudioCallWindowDelegate.
  bool windowShouldClose() override;
  void windowWillClose() override;
  void windowDidBecomeKey() override;
  void windowDidResignKey() override;

 private:
  explicit NativeAudioCallWindow(Collaborators collaborators);
  void log(const std::string& line) const;
  void applyTheme(bool dark);
  void buildWindow();
  void placeCall(const CallUser& callee);
  void closeNow();
  // Posts `step` to the main queue; it runs while the controller exists.
  void onMain(std::function<void(NativeAudioCallWindow&)> step);
  AudioCallActions makeActions();

  Collaborators c_;
  // Outlives the window, whose screen observes it.
  AudioCallViewModel model_;
  platform::Subscription themeSubscription_;
  std::shared_ptr<AudioCallWindowSurface> window_;
  bool isEnding_ = false;
  // Grows with each open, so that a microphone answer for an earlier open
  // does nothing.
  std::uint64_t openGeneration_ = 0;
};

}  // namespace orvik
