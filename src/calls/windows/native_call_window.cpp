#include "calls/windows/native_call_window.h"

#include <iostream>

#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include "calls/control/call_strings.h"
#include "core/native_logger.h"
#include "platform/capture_authorization.h"
#include "platform/dispatch/task_queue.h"
#include "platform/page_call.h"
#include "platform/queue_checker.h"

namespace orvik {
namespace {

constexpr const char* kWindowClass = "orvik-call-window";

// The call window's own background behind the page (16, 6, 36).
void installWindowStyleOnce() {
  static bool installed = false;
  if (installed) return;
  GdkDisplay* display = gdk_display_get_default();
  if (!display) return;
  installed = true;
  GtkCssProvider* provider = gtk_css_provider_new();
  gtk_css_provider_load_from_data(provider, "window.orvik-call-window { background-color: rgb(16, 6, 36); }", -1);
  gtk_style_context_add_provider_for_display(display, GTK_STYLE_PROVIDER(provider),
                                             GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(provider);
}

}  // namespace

std::string callWindowFocusScript(bool focused) {
  return std::string("window.__orvikCallWindowFocused = ") + (focused ? "true" : "false") +
         "\nwindow.dispatchEvent(new CustomEvent('orvikCallWindowFocusChanged'));";
}

NativeCallWindow::NativeCallWindow(Collaborators collaborators) : c_(std::move(collaborators)) {}

NativeCallWindow::~NativeCallWindow() {
  if (failSafe_) failSafe_->cancel();
  if (!window_) return;
  GtkWindow* window = window_;
  g_signal_handlers_disconnect_by_data(window, this);
  if (page_.view) {
    g_signal_handlers_disconnect_by_data(page_.view, this);
    g_object_unref(page_.view);
  }
  window_ = nullptr;
  gtk_window_destroy(window);
}

GtkWidget* NativeCallWindow::callWebView() const { return page_.view ? GTK_WIDGET(page_.view) : nullptr; }

void NativeCallWindow::print(const std::string& line) const {
  if (c_.print) {
    c_.print(line);
  } else {
    std::cout << line << std::endl;
  }
}

// ---------------------------------------------------------------- operations

void NativeCallWindow::showWindow(CallPageView page) {
  c_.queue.post([weak = lifetime_.weak(this), page = std::move(page)]() mutable {
    if (auto* self = weak.get()) {
      self->build(std::move(page));
    } else if (page.view) {
      g_object_unref(page.view);
    }
  });
}

void NativeCallWindow::revealWindow() {
  c_.queue.post([weak = lifetime_.weak(this)] {
    auto* self = weak.get();
    // GTK draws the page itself: there is no loader cover of ours to fade.
    if (self && self->window_) self->reportFocus(true);
  });
}

void NativeCallWindow::cameraReady() {
  c_.queue.post([weak = lifetime_.weak(this)] {
    // The page's camera preview is the only one: nothing native to remove.
    if (auto* self = weak.get()) self->showHiddenWindow();
  });
}

void NativeCallWindow::evaluateInCallWindow(const std::string& script) {
  c_.queue.post([weak = lifetime_.weak(this), script] {
    auto* self = weak.get();
    if (!self || !self->page_.view) return;
    webkit_web_view_evaluate_javascript(self->page_.view, script.c_str(), static_cast<gssize>(script.size()), nullptr,
                                        nullptr, nullptr, nullptr, nullptr);
  });
}

void NativeCallWindow::bringToFront() {
  c_.queue.post([weak = lifetime_.weak(this)] {
    auto* self = weak.get();
    if (self && self->window_) self->present();
  });
}

void NativeCallWindow::closeWindow() {
  c_.queue.post([weak = lifetime_.weak(this)] {
    auto* self = weak.get();
    if (!self || !self->window_) return;
    GtkWindow* window = self->window_;
    self->windowWillClose();
    gtk_window_destroy(window);
  });
}

// ---------------------------------------------------------------- building

void NativeCallWindow::build(CallPageView page) {
  ORVIK_ASSERT_ON_QUEUE(c_.queue);
  if (window_) {
    GtkWindow* old = window_;
    windowWillClose();
    gtk_window_destroy(old);
  }
  if (!page.view) return;
  installWindowStyleOnce();
  const bool isAudio = page.isAudio;
  page_ = std::move(page);
  window_ = GTK_WINDOW(gtk_window_new());
  gtk_widget_add_css_class(GTK_WIDGET(window_), kWindowClass);
  const std::string title =
      isAudio ? std::string(kAudioTitle) : c_.strings.string(kSecureCallKey, kSecureCallDefault);
  gtk_window_set_title(window_, title.c_str());
  gtk_window_set_default_size(window_, isAudio ? kAudioWidth : kVideoWidth, isAudio ? kAudioHeight : kVideoHeight);
  // The minimum size is the content's size request.
  gtk_widget_set_size_request(GTK_WIDGET(page_.view), isAudio ? kAudioMinWidth : kVideoMinWidth,
                              isAudio ? kAudioMinHeight : kVideoMinHeight);
  gtk_widget_set_hexpand(GTK_WIDGET(page_.view), TRUE);
  gtk_widget_set_vexpand(GTK_WIDGET(page_.view), TRUE);
  gtk_window_set_child(window_, GTK_WIDGET(page_.view));
  // Linux has no per-window sharing type: every window shows in screen
  // captures. The flag is still read once, as it is for every call window.
  if (c_.isScreenshotAccessAllowed) (void)c_.isScreenshotAccessAllowed();

  g_signal_connect(window_, "close-request", G_CALLBACK(closeRequestThunk), this);
  g_signal_connect(window_, "notify::is-active", G_CALLBACK(activeChangedThunk), this);
  g_signal_connect(page_.view, "close", G_CALLBACK(pageClosedThunk), this);
  g_signal_connect(page_.view, "permission-request", G_CALLBACK(permissionRequestThunk), this);

  if (isAudio) {
    present();
    return;
  }
  // WebKitGTK holds a hidden page's camera request until the page can be
  // seen, so a call page that waits for its camera before "cameraReady" is
  // shown by the fail-safe and gets its camera then.
  print("📞 [NativeCallWindow] Video call — window hidden, waiting for cameraReady...");
  failSafe_ = std::make_shared<platform::WorkItem>([weak = lifetime_.weak(this)] {
    if (auto* self = weak.get()) self->showHiddenWindow();
  });
  c_.queue.postAfter(c_.videoFailSafeSeconds, failSafe_);
}

void NativeCallWindow::showHiddenWindow() {
  if (!window_ || gtk_widget_get_visible(GTK_WIDGET(window_))) return;
  if (failSafe_) failSafe_->cancel();
  present();
  print("📞 [NativeCallWindow] Window revealed — camera ready ✅");
}

void NativeCallWindow::present() {
  // Presenting also asks the desktop to activate the program; whether it
  // takes the focus from another program is the desktop's decision.
  gtk_window_present(window_);
}

// ---------------------------------------------------------------- notices to the main page

void NativeCallWindow::evaluateInMainPage(const std::string& script) {
  c_.queue.post([weak = lifetime_.weak(this), script] {
    auto* self = weak.get();
    if (!self) return;
    if (auto page = self->mainPage_.lock()) page->evaluateScript(script);
  });
}

void NativeCallWindow::reportFocus(bool focused) { evaluateInMainPage(callWindowFocusScript(focused)); }

void NativeCallWindow::windowWillClose() {
  if (!window_) return;
  // Queued in this order: the main page sees the closed notice first.
  evaluateInMainPage(kClosedNotice);
  reportFocus(true);
  if (failSafe_) {
    failSafe_->cancel();
    failSafe_.reset();
  }
  g_signal_handlers_disconnect_by_data(window_, this);
  if (page_.view) {
    g_signal_handlers_disconnect_by_data(page_.view, this);
    g_object_unref(page_.view);
  }
  page_ = {};
  window_ = nullptr;
}

// ---------------------------------------------------------------- window and page events

bool NativeCallWindow::onCloseRequest() {
  windowWillClose();
  return false;  // GTK destroys the window
}

void NativeCallWindow::onActiveChanged() {
  if (window_) reportFocus(gtk_window_is_active(window_));
}

void NativeCallWindow::onPageClosed() { closeWindow(); }

bool NativeCallWindow::onPermissionRequest(WebKitPermissionRequest* request) {
  if (!WEBKIT_IS_USER_MEDIA_PERMISSION_REQUEST(request)) return false;  // WebKit denies what we leave alone
  auto* media = WEBKIT_USER_MEDIA_PERMISSION_REQUEST(request);
  const bool trusted = page_.isTrustedDocument && page_.isTrustedDocument();
  if (!trusted || webkit_user_media_permission_is_for_display_device(media)) {
    webkit_permission_request_deny(request);
    return true;
  }
  g_object_ref(request);
  platform::decideCallPageCapture(c_.captureAuthorization, webkit_user_media_permission_is_for_video_device(media),
                                  [&queue = c_.queue, request](bool grant) {
                                    // Answered on the main queue, once, whatever thread the answer came on.
                                    queue.post([request, grant] {
                                      if (grant) {
                                        webkit_permission_request_allow(request);
                                      } else {
                                        webkit_permission_request_deny(request);
                                      }
                                      g_object_unref(request);
                                    });
                                  });
  return true;
}

int NativeCallWindow::closeRequestThunk(GtkWindow*, void* self) {
  return static_cast<NativeCallWindow*>(self)->onCloseRequest() ? TRUE : FALSE;
}
void NativeCallWindow::activeChangedThunk(GtkWindow*, GParamSpec*, void* self) {
  static_cast<NativeCallWindow*>(self)->onActiveChanged();
}
void NativeCallWindow::pageClosedThunk(void*, void* self) { static_cast<NativeCallWindow*>(self)->onPageClosed(); }
int NativeCallWindow::permissionRequestThunk(void*, WebKitPermissionRequest* request, void* self) {
  return static_cast<NativeCallWindow*>(self)->onPermissionRequest(request) ? TRUE : FALSE;
}

}  // namespace orvik
