// Production wiring of the main web view into the main window: the load
// state, the WebKit host with the program's service configuration and device
// identity, and the overlays, placed into the window's page slot and overlay.
//
//   mainWebView_ = MainWebView::install(homeView, pageSlot);   // HomeView, once
//
// Owner: the main window's view. THREAD-SAFETY: main thread only.
#pragma once

#include <gtkmm.h>

#include <memory>

#include "web/capture_authorization.h"
#include "web/load_overlays.h"
#include "web/web_view_host.h"
#include "web/web_view_state.h"

namespace orvik {

class MainWebView {
 public:
  struct Options {
    // The device identifier; empty: the device identity in the keychain.
    std::function<std::string()> deviceUdid;
    // The shell's distribution log, told what the page is told.
    std::function<void(std::string_view)> logDistribution;
  };

  // Builds the web view into `pageSlot`, lays the overlays over `overlay` and
  // starts the first load (after the content filter answered).
  static std::unique_ptr<MainWebView> install(Gtk::Overlay& overlay, Gtk::Box& pageSlot, Options options = {});
  ~MainWebView();

  const std::shared_ptr<WebViewState>& state() const { return state_; }
  WebViewHost& host() { return *host_; }

 private:
  MainWebView() = default;

  DevicePresenceCaptureAuthorization captureAuthorization_;
  std::shared_ptr<WebViewState> state_;
  std::unique_ptr<WebViewHost> host_;
  std::unique_ptr<WebOverlayLayer> overlays_;
  Gtk::Box* pageSlot_ = nullptr;
  sigc::connection activeConnection_;
};

}  // namespace orvik
