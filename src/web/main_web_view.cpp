#include "web/main_web_view.h"

#include "core/device_identity_manager.h"
#include "core/network_monitor.h"
#include "core/service_config.h"
#include "core/theme_manager.h"
#include "platform/app_folders.h"
#include "platform/dispatch/task_queue.h"
#include "web/load_diagnostics.h"

namespace orvik {

std::unique_ptr<MainWebView> MainWebView::install(Gtk::Overlay& overlay, Gtk::Box& pageSlot, Options given) {
  std::unique_ptr<MainWebView> made(new MainWebView());
  auto* self = made.get();
  self->pageSlot_ = &pageSlot;
  // The program counts as active while its main window has the focus.
  self->state_ = std::make_shared<WebViewState>(platform::mainQueue(), webLoadDiagnostics(), [&overlay] {
    auto* window = dynamic_cast<Gtk::Window*>(overlay.get_root());
    return window && window->is_active();
  });

  WebViewHostOptions options;
  const auto& service = ServiceConfig::current();
  options.url = service.webAppURL;
  options.service = &service;
  options.deviceUdid =
      given.deviceUdid ? given.deviceUdid() : DeviceIdentityManager::shared().getOrCreateDeviceUdid();
  options.logDistribution = std::move(given.logDistribution);
  // TODO(#4): the stored incoming ringtone's name (storedIncomingRingtoneName()).
  options.filterStoreFolder = platform::applicationSupportFolder() / "content-filters";
  self->host_ = std::make_unique<WebViewHost>(std::move(options), self->state_, webLoadDiagnostics(),
                                              self->captureAuthorization_);

  Gtk::Widget* view = Glib::wrap(self->host_->widget());
  view->set_hexpand(true);
  view->set_vexpand(true);
  pageSlot.append(*view);
  view->signal_realize().connect([self, view] {
    auto* window = dynamic_cast<Gtk::Window*>(view->get_root());
    if (!window || self->activeConnection_.connected()) return;
    self->activeConnection_ = window->property_is_active().signal_changed().connect([self, window] {
      if (window->is_active()) self->state_->applicationBecameActive();
    });
  });
  self->overlays_ = std::make_unique<WebOverlayLayer>(overlay, self->state_, NetworkMonitor::shared(),
                                                      [] { return ThemeManager::shared().isDarkMode(); },
                                                      WebOverlayLayer::Actions{});
  self->host_->start();
  return made;
}

MainWebView::~MainWebView() {
  activeConnection_.disconnect();
  overlays_.reset();
  if (pageSlot_ && host_) pageSlot_->remove(*Glib::wrap(host_->widget()));
}

}  // namespace orvik
