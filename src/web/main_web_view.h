// The main web view placed into the main window: the load state, the WebKit
// host, the bridge dispatcher that every page message goes through, and the
// overlays, laid into the window's page slot and overlay. The subsystems'
// message routes are published into routes() by the composition root
// (app/app_services.h), which builds this with its services.
//
//   auto web = MainWebView::install(overlay, pageSlot, services, options);
//   messages.publishRoutes(web->routes());
//
// Owner: the main window's view. THREAD-SAFETY: main thread only.
#pragma once

#include <gtkmm.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "web/bridge_dispatcher.h"
#include "web/load_overlays.h"
#include "web/web_view_host.h"
#include "web/web_view_state.h"

namespace orvik {

class LoadDiagnostics;
class DeviceUdidProvider;
class NetworkMonitor;
class WebSession;
struct ServiceConfig;
namespace platform {
class CaptureAuthorization;
class MessageRoutes;
}  // namespace platform

class MainWebView {
 public:
  // What the view is built on; each outlives the view.
  struct Services {
    WebSession& session;
    LoadDiagnostics& diagnostics;
    platform::CaptureAuthorization& captureAuthorization;
    const ServiceConfig& service;
    NetworkMonitor& network;
    std::function<bool()> isDarkMode;
  };
  struct Options {
    // Where the device identifier comes from, for the page globals; the
    // first load waits for its answer.
    DeviceUdidProvider* deviceUdid = nullptr;
    std::optional<std::string> storedRingtone;
    // Where WebKit keeps the compiled content filter.
    std::filesystem::path filterStoreFolder;
    // The shell's distribution log, told what the page is told.
    std::function<void(std::string_view)> logDistribution;
    // Told each file the user picked for the page.
    std::function<void(const std::string& path)> filesPicked;
    // Whether the call engine holds credentials, and the fetch to start when
    // not (the bridge dispatcher's collaborators).
    std::function<bool()> hasCredentials;
    std::function<void(const std::string& reason)> fetchCredentials;
  };

  // Builds the web view into `pageSlot`, lays the overlays over `overlay` and
  // starts the first load (after the content filter answered).
  static std::unique_ptr<MainWebView> install(Gtk::Overlay& overlay, Gtk::Box& pageSlot, Services services,
                                              Options options);
  ~MainWebView();

  const std::shared_ptr<WebViewState>& state() const { return state_; }
  WebViewHost& host() { return *host_; }
  // Where the subsystems publish the page messages they answer.
  platform::MessageRoutes& routes() { return *bridge_; }
  BridgeDispatcher& bridge() { return *bridge_; }

 private:
  MainWebView() = default;

  std::shared_ptr<WebViewState> state_;
  std::unique_ptr<WebViewHost> host_;
  std::unique_ptr<WebOverlayLayer> overlays_;
  std::unique_ptr<BridgeDispatcher> bridge_;
  Gtk::Box* pageSlot_ = nullptr;
  sigc::connection activeConnection_;
};

}  // namespace orvik
