#include "web/main_web_view.h"

#include "core/service_config.h"
#include "platform/dispatch/task_queue.h"

namespace orvik {

std::unique_ptr<MainWebView> MainWebView::install(Gtk::Overlay& overlay, Gtk::Box& pageSlot, Services services,
                                                  Options given) {
  std::unique_ptr<MainWebView> made(new MainWebView());
  auto* self = made.get();
  self->pageSlot_ = &pageSlot;
  // The program counts as active while its main window has the focus.
  self->state_ = std::make_shared<WebViewState>(platform::mainQueue(), services.diagnostics, [&overlay] {
    auto* window = dynamic_cast<Gtk::Window*>(overlay.get_root());
    return window && window->is_active();
  });

  WebViewHostOptions options;
  options.url = services.service.webAppURL;
  options.service = &services.service;
  options.deviceUdidProvider = given.deviceUdid;
  options.logDistribution = std::move(given.logDistribution);
  options.filesPicked = std::move(given.filesPicked);
  options.storedRingtone = std::move(given.storedRingtone);
  options.filterStoreFolder = std::move(given.filterStoreFolder);
  self->host_ = std::make_unique<WebViewHost>(std::move(options), services.session, self->state_, services.diagnostics,
                                              services.captureAuthorization);

  BridgeDispatcher::Collaborators collaborators;
  collaborators.isTrustedHost = [&service = services.service](std::string_view host) {
    return service.isTrustedWebHost(host);
  };
  collaborators.hasCredentials = std::move(given.hasCredentials);
  collaborators.fetchCredentials = std::move(given.fetchCredentials);
  self->bridge_ = std::make_unique<BridgeDispatcher>(std::move(collaborators));
  self->host_->setBridgeMessageHandler([self](const BridgeMessage& message) { self->bridge_->didReceive(message); });

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
  self->overlays_ = std::make_unique<WebOverlayLayer>(overlay, self->state_, services.network,
                                                      std::move(services.isDarkMode), WebOverlayLayer::Actions{});
  self->host_->start();
  return made;
}

MainWebView::~MainWebView() {
  host_->setBridgeMessageHandler({});
  host_->coordinator().setCredentialFetcher(nullptr);
  activeConnection_.disconnect();
  overlays_.reset();
  if (pageSlot_ && host_) pageSlot_->remove(*Glib::wrap(host_->widget()));
}

}  // namespace orvik
