// NativeCallWindow: the one web call window, a GTK window around the call
// page's web view that the web host made when the main page opened a
// "callWindow=true" address. An audio call window shows at once; a video
// call window stays unmapped until the page says "cameraReady", or until the
// 4.0 s fail-safe of that same window fires (closing the window cancels its
// fail-safe, so it never reveals a later one). The main page hears when the
// window gains or loses the focus ("window.__orvikCallWindowFocused") and
// when it closes ("window.__orvikHandleCallWindowClosed?.();"), each once.
// The call page's camera and microphone requests are decided by the call
// page's own table (platform::decideCallPageCapture), and only for the
// service's trusted, verified top document; WebKit never prompts.
//
//   window.showWindow({view, /*isAudio=*/false, isTrusted});   // hidden until cameraReady()
//   window.cameraReady();
//
// Every operation may be called from any thread: it queues its work on the
// main queue, which does nothing once the controller is gone.
//
// Owner: the composition root, for the life of the process.
// THREAD-SAFETY: see above; state is touched on the main queue only.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "calls/windows/call_page_view.h"
#include "platform/lifetime_token.h"

typedef struct _GtkWidget GtkWidget;
typedef struct _GtkWindow GtkWindow;
typedef struct _GParamSpec GParamSpec;
typedef struct _WebKitPermissionRequest WebKitPermissionRequest;

namespace orvik {

class CallStrings;
namespace platform {
class CaptureAuthorization;
class PageScriptSink;
class TaskQueue;
class WorkItem;
}  // namespace platform

// The main page's focus report of a call window (the web call window's and
// the pre-call window's).
std::string callWindowFocusScript(bool focused);

class NativeCallWindow final : public CallWindowSignals {
 public:
  static constexpr double kVideoFailSafeSeconds = 4.0;
  static constexpr int kAudioWidth = 620, kAudioHeight = 570, kAudioMinWidth = 560, kAudioMinHeight = 520;
  static constexpr int kVideoWidth = 860, kVideoHeight = 640, kVideoMinWidth = 500, kVideoMinHeight = 400;
  static constexpr const char* kAudioTitle = "Orvik – Audio Call";
  static constexpr const char* kSecureCallKey = "secureCall";
  static constexpr const char* kSecureCallDefault = "You are making a secure end to end encrypted call";
  static constexpr const char* kClosedNotice = "window.__orvikHandleCallWindowClosed?.();";

  struct Collaborators {
    platform::TaskQueue& queue;
    platform::CaptureAuthorization& captureAuthorization;
    CallStrings& strings;
    // Whether screenshots of the program are allowed, read once per window.
    std::function<bool()> isScreenshotAccessAllowed{};
    // Standard output, one line (empty: std::cout).
    std::function<void(const std::string& line)> print{};
    // Tests on real time that must not race the fail-safe set it longer.
    double videoFailSafeSeconds = kVideoFailSafeSeconds;
  };

  explicit NativeCallWindow(Collaborators collaborators);
  ~NativeCallWindow() override;
  NativeCallWindow(const NativeCallWindow&) = delete;
  NativeCallWindow& operator=(const NativeCallWindow&) = delete;

  // Where focus reports and the closed notice go; none drops them.
  void setMainPage(std::weak_ptr<platform::PageScriptSink> page) { mainPage_ = std::move(page); }

  // Closes a window that is open (with its notices), then builds the new one.
  void showWindow(CallPageView page);
  // A window that exists: its focus is reported as true.
  void revealWindow() override;
  // A window that exists and is not shown yet: shown, and the application activated.
  void cameraReady() override;
  // Runs `script` in the call page without looking at the result; dropped without a page.
  void evaluateInCallWindow(const std::string& script);
  void bringToFront();
  void closeWindow();

  // The current window and its web view; null when there is none.
  GtkWindow* window() const { return window_; }
  GtkWidget* callWebView() const;

 private:
  void build(CallPageView page);
  void showHiddenWindow();
  void present();
  void reportFocus(bool focused);
  void evaluateInMainPage(const std::string& script);
  // The close sequence, once per window: notices queued, the window forgotten.
  void windowWillClose();
  void print(const std::string& line) const;

  bool onCloseRequest();
  void onActiveChanged();
  void onPageClosed();
  bool onPermissionRequest(WebKitPermissionRequest* request);

  static int closeRequestThunk(GtkWindow*, void* self);
  static void activeChangedThunk(GtkWindow*, GParamSpec*, void* self);
  static void pageClosedThunk(void* view, void* self);
  static int permissionRequestThunk(void* view, WebKitPermissionRequest* request, void* self);

  Collaborators c_;
  std::weak_ptr<platform::PageScriptSink> mainPage_;
  GtkWindow* window_ = nullptr;
  CallPageView page_;
  // The video window's fail-safe; belongs to that window and goes with it.
  std::shared_ptr<platform::WorkItem> failSafe_;
  // Weakly held by every queued step. Last member.
  platform::LifetimeToken lifetime_;
};

}  // namespace orvik
