#include "web/main_web_view.h"

#include <gtk/gtk.h>

#include "core/debug_log_manager.h"
#include "core/device_udid_provider.h"
#include "core/incoming_ringtone.h"
#include "core/network_monitor.h"
#include "core/service_config.h"
#include "core/theme_manager.h"
#include "platform/app_folders.h"
#include "platform/app_info.h"
#include "platform/dispatch/clock.h"
#include "platform/dispatch/task_queue.h"
#include "platform/user_defaults.h"
#include "web/call_credentials_sink.h"
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
  DeviceUdidProvider& deviceUdid = given.deviceUdid ? *given.deviceUdid : KeyringDeviceUdidProvider::shared();
  options.deviceUdidProvider = &deviceUdid;
  options.logDistribution = std::move(given.logDistribution);
  options.filesPicked = std::move(given.filesPicked);
  options.storedRingtone = storedIncomingRingtoneName(platform::UserDefaults::standard());
  options.filterStoreFolder = platform::applicationSupportFolder() / "content-filters";
  self->host_ = std::make_unique<WebViewHost>(std::move(options), self->state_, webLoadDiagnostics(),
                                              self->captureAuthorization_);
  self->installBridge(std::move(given.tones), deviceUdid);

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

void MainWebView::installBridge(CallToneSettings tones, DeviceUdidProvider& deviceUdid) {
  const std::weak_ptr<platform::PageScriptSink> page = host_->page();
  CallCredentialsSink& calls = sharedCallCredentials();
  credentials_ = std::make_unique<CredentialFetcher>(platform::mainQueue(), platform::systemClock(), calls, page);
  // TODO(updater issue): the update service's isUserLoggedIn (setUserLoggedIn).
  credentials_->makeCurrent();
  host_->coordinator().setCredentialFetcher(credentials_.get());

  BridgeDispatcher::Collaborators collaborators;
  collaborators.isTrustedHost = [](std::string_view host) { return ServiceConfig::current().isTrustedWebHost(host); };
  collaborators.hasCredentials = [&calls] { return calls.hasCredentials(); };
  collaborators.fetchCredentials = [this](const std::string& reason) { credentials_->fetchCredentials(reason); };
  bridge_ = std::make_unique<BridgeDispatcher>(std::move(collaborators));

  AppBridgeMessages::Collaborators app;
  app.page = page;
  app.deviceUdid = [&deviceUdid](DeviceUdidProvider::Done done) { deviceUdid.requestDeviceUdid(std::move(done)); };
  const auto& info = platform::AppInfo::current();
  app.shortVersion = info.shortVersion;
  app.build = info.build;
  app.applyInspectorAllowed = [this](bool allowed) { host_->setInspectorAllowed(allowed); };
  app.setAllowedFileTypes = [this](std::vector<std::string> types) { host_->setAllowedFileTypes(std::move(types)); };
  app.beginActivity = [this](const std::string& reason) -> unsigned {
    auto* application = GTK_IS_APPLICATION(g_application_get_default())
                            ? GTK_APPLICATION(g_application_get_default())
                            : nullptr;
    if (!application) return 0;
    GtkRoot* root = gtk_widget_get_root(host_->widget());
    return gtk_application_inhibit(application, GTK_IS_WINDOW(root) ? GTK_WINDOW(root) : nullptr,
                                   static_cast<GtkApplicationInhibitFlags>(GTK_APPLICATION_INHIBIT_IDLE |
                                                                           GTK_APPLICATION_INHIBIT_SUSPEND),
                                   reason.c_str());
  };
  app.endActivity = [](unsigned cookie) {
    if (cookie != 0 && GTK_IS_APPLICATION(g_application_get_default())) {
      gtk_application_uninhibit(GTK_APPLICATION(g_application_get_default()), cookie);
    }
  };
  app.tones = std::move(tones);
  app.calls = &calls;
  app.theme = &ThemeManager::shared();
  app.debugLog = &DebugLogManager::shared();
  app.defaults = &platform::UserDefaults::standard();
  // TODO(updater issue): app.updates, the shared update service.
  appMessages_ = std::make_unique<AppBridgeMessages>(std::move(app));
  appMessages_->registerWith(*bridge_);

  auto route = [this](std::string_view name, BridgeDispatcher::Handler handler) {
    [[maybe_unused]] const bool known = bridge_->route(name, std::move(handler));
  };
  route("nativeAuthData", [this](const nlohmann::json& body) { credentials_->handleNativeAuthData(body); });
  route("userLoggedIn", [this](const nlohmann::json&) { credentials_->handleUserLoggedIn(); });
  route("userSignedOut", [this](const nlohmann::json&) { credentials_->handleUserSignedOut(); });

  thumbnailQueue_ = std::make_unique<platform::SerialQueue>("com.orvik.thumbnails");
  fileMessages_ = std::make_unique<FileTransferMessages>(page, DocTransferManager::shared(), ImgTransferManager::shared(),
                                                         VideoTransferManager::shared(), *thumbnailQueue_,
                                                         FileAccessPolicy::shared());
  for (const char* name : {"docTransferStart", "docTransferChunk", "docTransferEnd", "imgTransferStart",
                           "imgTransferChunk", "imgTransferEnd", "videoTransferStart", "videoTransferChunk",
                           "videoTransferEnd", "getThumbnail"}) {
    route(name, [this, name](const nlohmann::json& body) { fileMessages_->handle(name, body); });
  }
  // TODO(notifications issue): getDeviceToken, showLocalNotification:, clearBadge, setUnreadTotal:,
  // clearChatNotifications:, setNotificationSound, previewNotificationSound, requestMediaPermission.
  // TODO(call control and call windows issues): the call and call-window messages.
  // TODO(viewers issue): the viewer, save and share messages, deleteLocalFiles, readVideoForPlayback.
  // TODO(file drag issue): beginFileDrag.
  host_->setBridgeMessageHandler([this](const BridgeMessage& message) { bridge_->didReceive(message); });
}

MainWebView::~MainWebView() {
  host_->setBridgeMessageHandler({});
  host_->coordinator().setCredentialFetcher(nullptr);
  activeConnection_.disconnect();
  overlays_.reset();
  if (pageSlot_ && host_) pageSlot_->remove(*Glib::wrap(host_->widget()));
}

}  // namespace orvik
