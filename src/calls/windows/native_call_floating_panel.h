// NativeCallFloatingPanel: the floating return-to-call panel. While an audio
// call runs in the audio call window and the user brings the main window
// over it (or switches to another program with the call window covered),
// a small always-on-top 320 × 68 card at the top right of the screen shows
// the other party, the call type, the duration text and mute and hang-up
// buttons, and clicking it brings the call window back. For video calls the
// video window's picture-in-picture is the return surface; this controller
// only decides when it shows.
//
// It decides from what the host tells it of the program's windows (which
// is the call window, which are main windows, their frames, the desktop's
// stacking order, whether the program is active) and from the host's
// events (activation, occlusion, minimising, clicks, desktop switches); it
// builds the panel's window through a factory. The call manager tells it
// when a call starts and ends; the call windows tell it when they come to
// the front (hide) and when they lose the focus (showIfNeeded).
//
//   auto panel = NativeCallFloatingPanel::create({mainQueue(), calls, strings, &theme, host,
//                                                 FloatingCallPanelGtk::factory(placement, …)});
//   panel->callDidStart("Bob", "", /*isAudio*/ true, /*awaitingAccept*/ false);
//   panel->showIfNeeded();   // the main window went over the call window
//
// Owner: the composition root. THREAD-SAFETY: main queue only, but for
// callDidEnd, which moves itself there. Delayed steps hold the controller
// weakly.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "calls/windows/floating_call_panel_control.h"
#include "calls/windows/floating_call_panel_model.h"
#include "platform/observer_list.h"
#include "platform/window_stacking.h"

namespace orvik {

class CallControl;
class CallStrings;
class ThemeManager;
namespace platform {
class RepeatingTimer;
class TaskQueue;
}  // namespace platform

// One of the program's windows as it is now.
struct FloatingPanelWindow {
  std::uint64_t number = 0;  // its number in the desktop's stacking order
  platform::WindowFrame frame;
  bool isVisible = false;        // shown (it may still be minimised or covered)
  bool isMiniaturized = false;   // minimised
  bool isFullScreen = false;
  bool isVisibleOnScreen = false;  // some part of it can be seen now
};

// What a clicked window is to the panel.
enum class FloatingPanelWindowRole {
  audioCallWindow,
  videoCallWindow,
  // The incoming-call panel, the web call window, the pre-call window.
  otherCallWindow,
  // Any other panel, dialog or window that cannot become the main window.
  notMain,
  mainWindow,
};

struct FloatingPanelClick {
  FloatingPanelWindowRole role = FloatingPanelWindowRole::notMain;
  FloatingPanelWindow window;
};

// What the host tells the panel of the program and the desktop.
struct FloatingPanelEvent {
  enum class Kind {
    applicationDidResignActive,
    applicationDidBecomeActive,
    // An occlusion change of a call window (`role` says which).
    windowDidChangeOcclusion,
    // A window was minimised; `role` says which kind of window.
    windowDidMiniaturize,
    // The user switched to another desktop (workspace).
    activeDesktopDidChange,
  };
  Kind kind;
  FloatingPanelWindowRole role = FloatingPanelWindowRole::notMain;
};

// The program's windows and the desktop as the panel sees them. The program
// backs it with GTK and WindowPlacement (FloatingPanelHostGtk); tests with a
// fake desktop.
class FloatingPanelHost {
 public:
  virtual ~FloatingPanelHost() = default;
  // The audio and the video call windows while their controllers hold one.
  virtual std::optional<FloatingPanelWindow> audioCallWindow() = 0;
  virtual std::optional<FloatingPanelWindow> videoCallWindow() = 0;
  // The windows of the program that can become the main window (never the
  // call windows, panels or dialogs), visible or not.
  virtual std::vector<FloatingPanelWindow> mainWindows() = 0;
  // The desktop's windows that can be seen, front to back; none when the
  // display does not say.
  virtual std::optional<std::vector<platform::StackedWindow>> onScreenWindows() = 0;
  // Whether one of the program's windows is the active window.
  virtual bool isApplicationActive() = 0;
  virtual void activateApplication() = 0;
  // The audio call window above the program's other windows and the video
  // call window to the front, those that exist, on the current desktop.
  virtual void raiseCallWindows() = 0;
  // The video call's picture-in-picture: shown when it is active, hidden.
  virtual void showVideoPictureInPicture() = 0;
  virtual void hideVideoPictureInPicture() = 0;
  // Events for as long as the subscription lives, on the main queue.
  [[nodiscard]] virtual platform::Subscription observe(std::function<void(const FloatingPanelEvent&)> event) = 0;
  // Mouse-down in the program's windows, for as long as the subscription
  // lives; the click itself always goes on to the window.
  [[nodiscard]] virtual platform::Subscription monitorClicks(std::function<void(const FloatingPanelClick&)> click) = 0;
};

// The panel window's request.
struct FloatingPanelSpec {
  int width = 0;
  int height = 0;
  int margin = 0;  // from the top-right corner of the screen's work area
  bool isDarkMode = true;
  // Whether screen captures may show it (the call manager's flag).
  bool capturable = false;
};

struct FloatingPanelActions {
  std::function<void()> onReturnToCall;
  std::function<void()> onMute;
  std::function<void()> onCamera;
  std::function<void()> onEnd;
};

// One built panel window: floating above other windows on every desktop,
// never taking the focus.
class FloatingPanelSurface {
 public:
  virtual ~FloatingPanelSurface() = default;
  // Shows it, or brings it back, without activating the program.
  virtual void orderFront() = 0;
  // Hides it; it may be ordered front again.
  virtual void orderOut() = 0;
  virtual void setDarkMode(bool dark) = 0;
  virtual void close() = 0;
};

using FloatingPanelFactory = std::function<std::unique_ptr<FloatingPanelSurface>(
    const FloatingPanelSpec& windowSpec, FloatingCallPanelModel& model, FloatingPanelActions actions)>;

class NativeCallFloatingPanel final : public FloatingCallPanelControl,
                                      public std::enable_shared_from_this<NativeCallFloatingPanel> {
 public:
  static constexpr int kWidth = 320;
  static constexpr int kHeight = 68;
  static constexpr int kMargin = 20;
  static constexpr double kFrontWatchInterval = 0.25;
  static constexpr double kResignRecheckDelay = 0.35;
  static constexpr double kDesktopRaiseAgainDelay = 0.2;
  static constexpr double kReturnRaiseDelay = 0.4;
  // A call window covered by less than this share of its area is still in sight.
  static constexpr double kCoveredShare = 0.5;

  static constexpr const char* kCallWindowStillVisibleLog =
      "[FloatingPanel] app resigned active but call window still visible (other display?) — no return surface";
  static constexpr const char* kNoOverlapLog =
      "[FloatingPanel] main window clicked but call window doesn't overlap it (other display?) — no return surface";
  static constexpr const char* kVisibleAgainLog =
      "[FloatingPanel] call window visible again while app inactive — hiding return surface";
  static constexpr const char* kCallDidEndLog = "[FloatingPanel] callDidEnd — destroying panel";

  using LogFunction = std::function<void(const std::string& line)>;

  struct Collaborators {
    platform::TaskQueue& queue;
    CallControl& calls;
    const CallStrings& strings;
    // Null: the look each call starts with stays.
    ThemeManager* theme;
    FloatingPanelHost& host;
    FloatingPanelFactory makePanel;
    // The camera button of a video call's card.
    std::function<void(bool cameraOff)> setCameraOff{};
    // Empty: nativeLog.
    LogFunction log{};
  };

  static std::shared_ptr<NativeCallFloatingPanel> create(Collaborators collaborators);
  ~NativeCallFloatingPanel() override;
  NativeCallFloatingPanel(const NativeCallFloatingPanel&) = delete;
  NativeCallFloatingPanel& operator=(const NativeCallFloatingPanel&) = delete;

  // The call manager: a call was placed (awaitingAccept false), an incoming
  // call rings (true) or was accepted from the incoming panel (false).
  void callDidStart(const std::string& calleeName, const std::string& imageUrl, bool isAudio, bool awaitingAccept);
  // Any thread.
  void callDidEnd();
  void setAwaitingAccept(bool awaiting);

  // FloatingCallPanelControl.
  void showIfNeeded() override;
  void hide() override;
  // Set while the output device picker is open; also cleared when the
  // program becomes active.
  void setSuppressAutoShow(bool suppressed) override;

  // The panel's body and the picture-in-picture's expand button.
  void returnToCall();

  // The call's state as the call manager and the card write it.
  FloatingCallPanelModel& model() { return model_; }
  bool isCallActive() const { return isCallActive_; }
  bool hasPanel() const { return panel_ != nullptr; }
  bool isFrontWatchRunning() const;
  bool isClickMonitorInstalled() const { return static_cast<bool>(clickMonitor_); }
  bool isAwaitingDesktopSwitch() const { return returnRaisePending_; }

  // Whether the current call window can be seen and `window` covers less
  // than half of it.
  bool callWindowMostlyUncovered(const FloatingPanelWindow& window);

 private:
  explicit NativeCallFloatingPanel(Collaborators collaborators);
  void log(const std::string& line) const;
  void onMain(std::function<void(NativeCallFloatingPanel&)> step, double delay = 0);
  std::optional<FloatingPanelWindow> callWindow();
  std::optional<FloatingPanelWindow> currentCallWindow();
  std::optional<FloatingPanelWindow> firstMainWindow();
  bool anyMainWindowFullScreen();
  void startFrontWatch();
  void stopFrontWatch();
  void frontWatchTick();
  void showPanelNow();
  void buildPanel();
  void onEvent(const FloatingPanelEvent& event);
  void onClick(const FloatingPanelClick& click);
  void applyTheme(bool dark);

  Collaborators c_;
  FloatingCallPanelModel model_;
  platform::Subscription themeSubscription_;
  platform::Subscription hostEvents_;
  platform::Subscription clickMonitor_;
  std::unique_ptr<platform::RepeatingTimer> frontWatch_;
  std::unique_ptr<FloatingPanelSurface> panel_;
  bool isCallActive_ = false;
  bool suppressAutoShow_ = false;
  // Set by returnToCall until a desktop switch or the later raise comes.
  bool returnRaisePending_ = false;
};

}  // namespace orvik
