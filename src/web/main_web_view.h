// Production wiring of the main web view into the main window: the load
// state, the WebKit host with the program's service configuration and device
// identity, the script bridge with its message handlers and credential fetch,
// and the overlays, placed into the window's page slot and overlay.
//
//   mainWebView_ = MainWebView::install(homeView, pageSlot);   // HomeView, once
//
// Owner: the main window's view. THREAD-SAFETY: main thread only.
#pragma once

#include <gtkmm.h>

#include <memory>

#include "files/file_transfer_messages.h"
#include "platform/dispatch/serial_queue.h"
#include "web/app_bridge_messages.h"
#include "web/bridge_dispatcher.h"
#include "web/capture_authorization.h"
#include "web/credential_fetcher.h"
#include "web/load_overlays.h"
#include "web/web_view_host.h"
#include "web/web_view_state.h"

namespace orvik {

class DeviceUdidProvider;

class MainWebView {
 public:
  struct Options {
    // Where the device identifier comes from, for the page globals and the
    // bridge; null: the device identity in the keyring, read off the main
    // queue (KeyringDeviceUdidProvider::shared()). No member initialiser, so
    // that `Options{}` stays usable as a default argument; `{}` makes it null.
    DeviceUdidProvider* deviceUdid;
    // The shell's distribution log, told what the page is told.
    std::function<void(std::string_view)> logDistribution;
    // Told each file the user picked for the page.
    std::function<void(const std::string& path)> filesPicked;
    // The call audio's tone volumes and ringtone preview; empty: those
    // messages do nothing.
    CallToneSettings tones;
  };

  // Builds the web view into `pageSlot`, lays the overlays over `overlay` and
  // starts the first load (after the content filter answered).
  static std::unique_ptr<MainWebView> install(Gtk::Overlay& overlay, Gtk::Box& pageSlot, Options options = {});
  ~MainWebView();

  const std::shared_ptr<WebViewState>& state() const { return state_; }
  WebViewHost& host() { return *host_; }
  BridgeDispatcher& bridge() { return *bridge_; }

 private:
  MainWebView() = default;
  void installBridge(CallToneSettings tones, DeviceUdidProvider& deviceUdid);

  DevicePresenceCaptureAuthorization captureAuthorization_;
  std::shared_ptr<WebViewState> state_;
  std::unique_ptr<WebViewHost> host_;
  std::unique_ptr<WebOverlayLayer> overlays_;
  std::unique_ptr<BridgeDispatcher> bridge_;
  std::unique_ptr<CredentialFetcher> credentials_;
  std::unique_ptr<AppBridgeMessages> appMessages_;
  std::unique_ptr<platform::SerialQueue> thumbnailQueue_;
  std::unique_ptr<FileTransferMessages> fileMessages_;
  Gtk::Box* pageSlot_ = nullptr;
  sigc::connection activeConnection_;
};

}  // namespace orvik
