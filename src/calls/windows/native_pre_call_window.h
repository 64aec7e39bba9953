// NativePreCallWindow: the window shown while an outgoing call placed from
// the page rings: the callee, a status line, the user's own camera for a
// video call, and microphone, camera, speaker and hang-up buttons. The page
// opens it (showPreCallUI), feeds it statuses (preCallStatusUpdate) and
// closes it when the call connects or ends. An ending status ("Busy",
// "Failed", ...) closes the window by itself, 2.5 s after a busy callee and
// 1.8 s after any other.
//
//   auto window = NativePreCallWindow::create({queue, authorization, strings, PreCallWindowGtk::factory(...),
//                                              &camera, isScreenshotAccessAllowed, closeCallWindow});
//   window->setMainPage(page);
//   window->show("alice_1234", "+1 (555) 123-4567", "", /*isAudio=*/false);
//   window->updateStatus("Busy");     // closes 2.5 s later, unless a new show comes first
//
// A video window is built once its camera runs or is known to be
// unavailable. Whatever replaces or closes a window also cancels its pending
// auto-close and stops its camera, also one still starting; a camera that
// starts for a window that is gone (or a call already over) is stopped at
// once. The main page hears "window.__orvikHandleCallWindowClosed?.();" once
// when the user hangs up or closes the window, and never for a programmatic
// close.
//
// Owner: the composition root, for the life of the process.
// THREAD-SAFETY: main queue only. show, updateStatus, markCallEnded and
// bringToFront do their work in a later turn of the queue, which does
// nothing once the controller is gone; close, the buttons and the window's
// events act at once.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "calls/windows/pre_call_control_state.h"

namespace orvik {

class CallStrings;
namespace platform {
class CaptureAuthorization;
class PageScriptSink;
class TaskQueue;
class WorkItem;
}  // namespace platform

// What the window tells its controller.
class PreCallWindowDelegate {
 public:
  virtual ~PreCallWindowDelegate() = default;
  // The user closed the window; programmatic closes never come here.
  virtual void windowWillClose() = 0;
  virtual void windowDidBecomeKey() = 0;
  virtual void windowDidResignKey() = 0;
};

struct PreCallWindowSpec {
  std::string calleeName;
  std::string userNumber;
  std::string imageUrl;  // empty: none
  bool isAudio = true;
  std::string title;
  int width = 0, height = 0;
  int minWidth = 0, minHeight = 0;
  // Whether screen captures may show the window, read once per window.
  bool capturable = false;
};

// The view's buttons; each runs on the main queue and does nothing once its
// window was replaced or closed.
struct PreCallActions {
  std::function<void()> onMicToggle;
  std::function<void()> onVideoToggle;
  std::function<void()> onSpeakerToggle;
  std::function<void()> onHangup;
};

// One built pre-call window.
class PreCallWindowSurface {
 public:
  virtual ~PreCallWindowSurface() = default;
  // Shows the window centred on the work area (first time), in front, with
  // the focus, and activates the program.
  virtual void present() = 0;
  // Closes the window without telling the delegate.
  virtual void close() = 0;
};

using PreCallWindowFactory = std::function<std::unique_ptr<PreCallWindowSurface>(
    const PreCallWindowSpec& windowSpec, PreCallControlState& state, CaptureSessionBox& camera, PreCallActions actions,
    PreCallWindowDelegate& delegate)>;

// The camera for the preview. `start` runs `done` exactly once on the main
// queue, in a later turn: with the running session, or with none when there
// is no camera or it cannot start. `stop` stops a session away from the main
// queue; a session may be stopped only once.
class PreCallCamera {
 public:
  virtual ~PreCallCamera() = default;
  virtual void start(std::function<void(CameraSessionHandle session)> done) = 0;
  virtual void stop(CameraSessionHandle session) = 0;
};

class NativePreCallWindow final : public PreCallWindowDelegate,
                                  public std::enable_shared_from_this<NativePreCallWindow> {
 public:
  // Sizes and titles are the web call window's (NativeCallWindow).
  static constexpr double kBusyCloseDelay = 2.5;
  static constexpr double kEndedCloseDelay = 1.8;
  static constexpr const char* kCallEnded = "Call Ended";
  static constexpr const char* kToggleMuteScript = "window.__orvikToggleMute?.();";
  static constexpr const char* kToggleVideoScript = "window.__orvikToggleVideo?.();";

  struct Collaborators {
    platform::TaskQueue& queue;
    platform::CaptureAuthorization& authorization;
    const CallStrings& strings;
    PreCallWindowFactory makeWindow;
    // Null: video windows open without a camera.
    PreCallCamera* camera = nullptr;
    // The call manager's screenshot-access flag; empty counts as false.
    std::function<bool()> isScreenshotAccessAllowed{};
    // Closes the web call window; true when there was one, whose closing
    // tells the main page itself.
    std::function<bool()> closeCallWindow{};
  };

  static std::shared_ptr<NativePreCallWindow> create(Collaborators collaborators);
  ~NativePreCallWindow() override;
  NativePreCallWindow(const NativePreCallWindow&) = delete;
  NativePreCallWindow& operator=(const NativePreCallWindow&) = delete;

  // Where the toggles, focus reports and the closed notice go; none drops them.
  void setMainPage(std::weak_ptr<platform::PageScriptSink> page) { mainPage_ = std::move(page); }

  // A window is being prepared or shown, or the user closed one the page
  // has not ended yet.
  bool isActive() const { return preparing_ || window_ != nullptr; }
  // Replaces any window with a new one for this callee; active at once.
  void show(const std::string& calleeName, const std::string& userNumber, const std::string& imageUrl,
            bool isAudio);
  void updateStatus(const std::string& status);
  // Closes the window quietly: no closed notice, the web call window stays.
  void close();
  // "Call Ended" unless the status already ends the call.
  void markCallEnded();
  void bringToFront();

  // The view's buttons.
  void toggleMute();
  void toggleVideo();
  void toggleSpeaker();
  void hangUp();

  // PreCallWindowDelegate.
  void windowWillClose() override;
  void windowDidBecomeKey() override { notifyCallWindowFocus(true); }
  void windowDidResignKey() override { notifyCallWindowFocus(false); }
  void notifyCallWindowFocus(bool focused);

  const PreCallControlState& controlState() const { return controlState_; }
  // The current window's camera box; none before the first show.
  const CaptureSessionBox* sessionBox() const { return sessionBox_.get(); }
  bool hasWindow() const { return window_ != nullptr; }
  bool isAutoClosePending() const { return autoClose_ != nullptr; }

 private:
  explicit NativePreCallWindow(Collaborators collaborators);
  void onMain(std::function<void(NativePreCallWindow&)> step);
  void build(const PreCallWindowSpec& windowSpec);
  void applyStatus(const std::string& status);
  void cancelAutoClose();
  // Closes and forgets the window (without its delegate), stops the camera.
  void teardown();
  void retireWindow();
  void startPreview();
  void previewStarted(const std::shared_ptr<CaptureSessionBox>& box, CameraSessionHandle session);
  void stopPreview();
  void runInMainPage(const std::string& script);
  void sendClosedNotice();
  PreCallActions makeActions();

  Collaborators c_;
  std::weak_ptr<platform::PageScriptSink> mainPage_;
  PreCallControlState controlState_;
  // A new box for every window: a late camera finds its own box replaced.
  std::shared_ptr<CaptureSessionBox> sessionBox_;
  std::unique_ptr<PreCallWindowSurface> window_;
  bool preparing_ = false;
  // The auto-close of the current window; null when none is pending.
  std::shared_ptr<platform::WorkItem> autoClose_;
  // Grows with every window; buttons and camera answers of an earlier one
  // find it changed.
  std::uint64_t generation_ = 0;
  // The window waits for its camera's first answer before it is built.
  std::function<void()> buildWhenCameraAnswers_;
  // The camera of the current box: wanted on, and a start on its way.
  bool cameraWanted_ = false;
  bool cameraStarting_ = false;
  // Counts closes and hang-ups: a show queued before one builds nothing.
  std::uint64_t closes_ = 0;
  // The closed notice of the current window went out.
  bool closedNoticeSent_ = false;
};

}  // namespace orvik
