#include "app/app_services.h"

#include <gtk/gtk.h>
#include <gtkmm.h>

#include "app/app_bridge_messages.h"
#include "app/call_engine_ports.h"
#include "app/distribution_log.h"
#include "app/main_titlebar_layout.h"
#include "app/main_window.h"
#include "app/media_permission_alerts_gtk.h"
#include "app/media_permission_manager.h"
#include "calls/media/call_audio_device.h"
#include "calls/control/call_bridge_messages.h"
#include "calls/control/call_control.h"
#include "calls/control/call_port_backends.h"
#include "calls/control/call_strings.h"
#include "calls/control/native_call_manager.h"
#include "calls/media/call_audio_manager.h"
#include "calls/media/call_audio_router.h"
#include "calls/media/call_peer_connection.h"
#include "calls/screens/call_avatar_content.h"
#include "calls/screens/output_device_picker.h"
#include "calls/signaling/call_credentials_sink.h"
#include "calls/signaling/call_signaling_service.h"
#include "calls/signaling/socketio/transport.h"
#include "calls/windows/audio_call_window_gtk.h"
#include "calls/windows/incoming_call_panel_gtk.h"
#include "calls/windows/floating_call_panel_control.h"
#include "calls/windows/native_audio_call_window.h"
#include "core/debug_log_manager.h"
#include "core/device_identity_manager.h"
#include "core/device_udid_provider.h"
#include "core/incoming_ringtone.h"
#include "core/launch_at_login_manager.h"
#include "core/native_logger.h"
#include "core/network_monitor.h"
#include "core/service_config.h"
#include "core/theme_gtk.h"
#include "core/theme_manager.h"
#include "core/web_load_diagnostics.h"
#include "files/documents_folder.h"
#include "files/file_access_policy.h"
#include "files/file_save_messages.h"
#include "files/file_transfer_messages.h"
#include "files/orvik_file_scheme_webkit.h"
#include "files/orvik_helper.h"
#include "files/save_panels.h"
#include "files/transfer_managers.h"
#include "platform/app_folders.h"
#include "platform/app_info.h"
#include "platform/audio/audio_hardware.h"
#include "platform/audio/sound_player.h"
#include "platform/capture_authorization.h"
#include "platform/dispatch/clock.h"
#include "platform/dispatch/serial_queue.h"
#include "platform/dispatch/task_queue.h"
#include "platform/dispatch/worker_pool.h"
#include "platform/display_sleep_inhibitor.h"
#include "platform/local_schemes.h"
#include "platform/login_item.h"
#include "platform/network_path.h"
#include "platform/secret_store.h"
#include "platform/system_log.h"
#include "platform/system_opener.h"
#include "platform/user_defaults.h"
#include "platform/window_placement.h"
#include "updater/update_alerts_gtk.h"
#include "updater/update_card.h"
#include "updater/update_check_schedule.h"
#include "updater/update_downloader.h"
#include "updater/update_feed_source.h"
#include "updater/update_server_trust.h"
#include "updater/update_service.h"
#include "web/credential_fetcher.h"
#include "web/main_web_view.h"
#include "web/web_session.h"
#include "web/web_view_host.h"

namespace orvik {
namespace {

// Threads that make thumbnails and the replies that wait for them.
constexpr int kThumbnailWorkers = 3;

// The deployment's address for users whose update keeps failing its checks.
constexpr const char* kUpdateSupportEmail = "support@orvikdesk.example";

std::string hostOfURL(const std::string& url) {
  GUri* uri = g_uri_parse(url.c_str(), G_URI_FLAGS_NONE, nullptr);
  if (!uri) return {};
  std::string host = g_uri_get_host(uri) ? g_uri_get_host(uri) : "";
  g_uri_unref(uri);
  return host;
}

}  // namespace

AppServices::AppServices(Options options)
    : logger_(NativeLogger::shared()),
      defaults_(platform::UserDefaults::standard()),
      appInfo_(platform::AppInfo::current()),
      service_(ServiceConfig::forThisBuild()),
      secretStore_(std::move(options.secretStore)) {
  webSession_ = std::make_unique<WebSession>(options.ephemeralWebSession ? WebSession::Storage::ephemeral
                                                                        : WebSession::Storage::persistent);
  fileAccess_ = std::make_unique<FileAccessPolicy>(FileAccessPolicy::programRoots);
  // The page loads local files through orvikfile:// from its trusted origin only.
  fileScheme_ = std::make_shared<OrvikFileSchemeHandler>(*fileAccess_, [this](std::string_view origin) {
    return WebViewHost::isTrustedOrigin(service_, origin);
  });
  webSession_->setSchemeHandler(platform::kOrvikFileScheme, orvikFileRequestHandler(fileScheme_));

  network_ = std::make_unique<NetworkMonitor>(platform::makeGioNetworkPath());
  theme_ = std::make_unique<ThemeManager>(defaults_);
  // GTK's own widgets follow the program's theme setting, dark until the page
  // chooses otherwise.
  if (gtk_is_initialized()) themeBinding_ = bindThemeToGtk(*theme_);
  titlebarLayout_ = std::make_unique<MainTitlebarLayout>();
  debugLog_ = std::make_unique<DebugLogManager>(platform::applicationSupportFolder());
  webLoadLog_ = platform::makeJournaldSystemLog(appInfo_.bundleIdentifier.empty() ? "Orvik" : appInfo_.bundleIdentifier,
                                                "WebLoad");
  opener_ = platform::makeGioSystemOpener();
  webLoadDiagnostics_ = std::make_unique<WebLoadDiagnostics>(WebLoadDiagnostics::Dependencies{
      platform::applicationSupportFolder(), *webLoadLog_, *opener_, [this] { return network_->isConnected(); },
      nullptr, {}});
  loadRecorder_ = std::make_unique<WebLoadDiagnosticsRecorder>(*webLoadDiagnostics_);
  captureAuthorization_ = std::make_unique<platform::DevicePresenceCaptureAuthorization>();
  auto mainWindow = [this]() -> GtkWindow* {
    if (!mainWebView_) return nullptr;
    GtkRoot* root = gtk_widget_get_root(mainWebView_->host().widget());
    return GTK_IS_WINDOW(root) ? GTK_WINDOW(root) : nullptr;
  };
  displaySleep_ = platform::makeGtkDisplaySleepInhibitor(mainWindow);

  callTones_ = std::make_unique<CallAudioTones>([this]() -> CallAudioManager& { return callAudio(); });
  callWindows_ = std::make_unique<ShellCallWindows>(mainWindow, [this] { return audioCallWindow_.get(); },
                                                    [this] { return incomingCallPanel_.get(); });
  callAlerts_ = std::make_unique<GtkCallAlerts>();
  callCapture_ = std::make_unique<DeviceCallCapture>([this]() -> platform::AudioHardware& { return audioHardware(); });
  screenShare_ = std::make_unique<NoCallScreenShare>();
  NativeCallManager::Collaborators call{nullptr,      nullptr,       *callTones_,    *callWindows_, *callAlerts_,
                                        *callCapture_, *screenShare_, *displaySleep_, defaults_};
  call.strings = &callStrings_;
  call.fetchCredentials = [this](const std::string& reason) {
    if (credentials_) credentials_->fetchCredentials(reason);
  };
  call.makeSignaling = [this] {
    signaling();
    return signaling_;
  };
  call.makePeerConnection = [this] {
    return std::shared_ptr<PeerConnection>(CallPeerConnection::create(peerConnectionOptions()));
  };
  callManager_ = NativeCallManager::create(std::move(call));
  calls_ = std::make_unique<ManagerCallControl>(*callManager_);
  windowPlacement_ = platform::makeWindowPlacement();
  floatingPanel_ = std::make_unique<NoFloatingCallPanel>();
  // The router and the hardware load when the output picker first lists devices.
  audioOutputRouting_ = std::make_unique<RouterAudioOutputRouting>([this]() -> CallAudioRouter& {
    if (!audioRouter_) {
      audioRouter_ = CallAudioRouter::create(audioHardware(), [this] { return callAudioDevices_.current(); });
    }
    return *audioRouter_;
  });
  AudioCallViewOptions audioView;
  audioView.defaultAvatarURL = defaultAvatarPictureURL(service_);
  audioView.subscriberBadgeURL = subscriberBadgeImageURL(service_);
  audioView.logoFile = appInfo_.resourcesFolder / "images" / "orvik_desktop_logo.svg";
  audioView.outputRouting = audioOutputRouting_.get();
  audioCallWindow_ = NativeAudioCallWindow::create(
      {*calls_, *captureAuthorization_, callStrings_, theme_.get(), *floatingPanel_, *callAlerts_,
       AudioCallWindowGtk::factory({*windowPlacement_, callStrings_, audioView})});
  // TODO(incoming call intake): the camera preview of a ringing video call.
  incomingCallPanel_ = IncomingCallPanel::create(
      {*calls_, IncomingCallPanelGtk::factory({*windowPlacement_, callStrings_, audioView.defaultAvatarURL})});
  documents_ = std::make_unique<DocTransferManager>(documentsDirectory);
  images_ = std::make_unique<ImgTransferManager>(documentsDirectory);
  videos_ = std::make_unique<VideoTransferManager>(documentsDirectory);

  // The updater trusts the system's anchors (and the override's CA) for its
  // hosts, and only keys it pins.
  UpdateConnectionSettings connection;
  connection.allowedHosts = service_.updateHosts;
  connection.pins = service_.updatePins;
  std::string anchorError;
  auto anchors = UpdateTrustAnchors::make(true, service_.extraCAFile, anchorError);
  if (!anchors) {
    nativeLog("[Updater] " + anchorError + " — only the system's anchors are trusted");
    anchors = UpdateTrustAnchors::make(true, "", anchorError);
  }
  connection.anchors = std::move(anchors);
  updateFeed_ = std::make_unique<PinnedFeedSource>(service_.updateFeedURL, connection);
  updateAlerts_ = std::make_unique<GtkUpdateAlerts>([this]() -> Gtk::Window* {
    if (!mainWebView_) return nullptr;
    GtkRoot* root = gtk_widget_get_root(mainWebView_->host().widget());
    return GTK_IS_WINDOW(root) ? Glib::wrap(GTK_WINDOW(root)) : nullptr;
  });
  updates_ = std::make_unique<UpdateService>(UpdateService::Dependencies{
      platform::mainQueue(), platform::systemClock(), defaults_, *updateFeed_, *updateAlerts_,
      [this] { return mainPage_; }, appInfo_.build, appInfo_.displayName, hostOfURL(service_.updateFeedURL), {}});
  updateDownloader_ = std::make_unique<UpdateDownloader>(
      UpdateDownloader::Dependencies{platform::mainQueue(), *updateAlerts_, connection, {}, kUpdateSupportEmail});
  updateSchedule_ =
      std::make_unique<UpdateCheckSchedule>(platform::mainQueue(), [this] { updates_->checkForUpdates(true); });
}

void AppServices::startUpdateChecks(Gtk::Window& window) {
  if (updateChecksStarted_) return;
  updateChecksStarted_ = true;
  updateSchedule_->start();
  window.property_is_active().signal_changed().connect([this, &window] {
    if (window.is_active()) updateSchedule_->applicationBecameActive();
  });
}

AppServices::~AppServices() {
  // The checks and the card's sources go before what they call.
  updateSchedule_.reset();
  updateDownloader_.reset();
  updates_.reset();
  updateFeed_.reset();
}

CallCredentialsSink& AppServices::callCredentials() { return *callManager_; }

DeviceUdidProvider& AppServices::deviceUdid() {
  if (!deviceUdid_) {
    // Never destroyed: joining a worker stuck in a D-Bus call to the Secret
    // Service would hold up the exit for as long as that call lasts.
    auto* store = (secretStore_ ? std::move(secretStore_) : platform::makeLibsecretSecretStore()).release();
    auto* identity = new DeviceIdentityManager(*store, {}, {}, DeviceIdentityManager::defaultFallbackFile());
    auto* worker = new platform::SerialQueue("com.orvik.deviceIdentity");
    deviceUdid_ = new KeyringDeviceUdidProvider([identity] { return identity->getOrCreateDeviceUdid(); },
                                                platform::mainQueue(), *worker);
  }
  return *deviceUdid_;
}

LaunchAtLoginManager& AppServices::launchAtLogin() {
  if (!launchAtLogin_) {
    // The session starts what the desktop entry starts: the installed
    // launcher, or the AppImage file itself (its mount changes every run).
    const char* appImage = g_getenv("APPIMAGE");
    std::filesystem::path program = appImage && *appImage ? std::filesystem::path(appImage) : appInfo_.launcher;
    if (program.empty()) program = platform::runningProgramPath();
    loginItem_ = platform::makeXdgAutostartLoginItem(platform::configHome(), appInfo_.bundleIdentifier,
                                                     appInfo_.displayName, program, appInfo_.desktopEntry);
    launchAtLogin_ = std::make_unique<LaunchAtLoginManager>(*loginItem_, defaults_, appInfo_.installFolder.string(),
                                                            appInfo_.isInstalled);
  }
  return *launchAtLogin_;
}

platform::AudioHardware& AppServices::audioHardware() { return platform::AudioHardware::shared(); }

CallAudioManager& AppServices::callAudio() {
  if (!callAudio_) {
    callAudio_ = std::make_unique<CallAudioManager>(platform::SoundPlayer::shared(), defaults_,
                                                    appInfo_.resourcesFolder);
  }
  return *callAudio_;
}

CallPeerConnectionOptions AppServices::peerConnectionOptions() {
  CallPeerConnectionOptions options;
  options.customAudioDeviceEnabled = [this] { return CallAudioDevice::isCustomDeviceEnabled(defaults_); };
  options.makeAudioDevice = callAudioDevices_.publishingFactory(audioHardware());
  return options;
}

CallSignalingService& AppServices::signaling() {
  if (!signaling_) signaling_ = CallSignalingService::make(service_.callServerURL, socketio::soupTransportFactory());
  return *signaling_;
}

void AppServices::installMainWebView(HomeView& home) {
  if (mainWebView_) return;
  MainWebView::Options options;
  options.deviceUdid = &deviceUdid();
  options.storedRingtone = storedIncomingRingtoneName(defaults_);
  options.filterStoreFolder = platform::applicationSupportFolder() / "content-filters";
  options.logDistribution = [](std::string_view line) { logDistribution(line); };
  options.filesPicked = [this](const std::string& path) { fileAccess_->allowPickedFile(path); };
  options.hasCredentials = [this] { return callManager_->hasCredentials(); };
  options.fetchCredentials = [this](const std::string& reason) {
    if (credentials_) credentials_->fetchCredentials(reason);
  };
  auto web = MainWebView::install(home.pageOverlay(), home.pageBox(),
                                  {*webSession_, *loadRecorder_, *captureAuthorization_, service_, *network_,
                                   [this] { return theme_->isDarkMode(); }},
                                  std::move(options));
  mainWebView_ = web.get();
  mainPage_ = web->host().page();
  publishRoutes(*web);
  home.attachWebView(std::move(web));
  // Above the page and its overlays.
  home.pageOverlay().add_overlay(
      *Gtk::make_managed<UpdateCard>(*updates_, *updateDownloader_, [this] { return theme_->isDarkMode(); }));
}

void AppServices::publishRoutes(MainWebView& web) {
  const std::weak_ptr<platform::PageScriptSink> page = web.host().page();
  CredentialFetcher::Collaborators fetcher;
  fetcher.setUserLoggedIn = [this](bool loggedIn) { updates_->setUserLoggedIn(loggedIn); };
  credentials_ = std::make_unique<CredentialFetcher>(platform::mainQueue(), platform::systemClock(), *callManager_,
                                                     page, std::move(fetcher));
  web.host().coordinator().setCredentialFetcher(credentials_.get());
  credentials_->publishRoutes(web.routes());

  AppBridgeMessages::Collaborators app;
  app.page = page;
  app.deviceUdid = [this](DeviceUdidProvider::Done done) { deviceUdid().requestDeviceUdid(std::move(done)); };
  app.shortVersion = appInfo_.shortVersion;
  app.build = appInfo_.build;
  WebViewHost& host = web.host();
  app.applyInspectorAllowed = [&host](bool allowed) { return host.setInspectorAllowed(allowed); };
  app.setAllowedFileTypes = [&host](std::vector<std::string> types) { host.setAllowedFileTypes(std::move(types)); };
  app.displaySleep = displaySleep_.get();
  // The tones load the call audio (and GStreamer) the first time the page uses them.
  app.tones.setToneVolumes = [this](const nlohmann::json& volumes) { callAudio().setToneVolumes(volumes); };
  app.tones.previewRingtone = [this](int ringtone) { callAudio().previewRingtone(ringtone); };
  app.tones.stopRingtonePreview = [this] { callAudio().stopRingtonePreview(); };
  app.calls = callManager_.get();
  app.theme = theme_.get();
  app.debugLog = debugLog_.get();
  app.defaults = &defaults_;
  app.updates = updates_.get();
  appMessages_ = std::make_unique<AppBridgeMessages>(std::move(app));
  appMessages_->publishRoutes(web.routes());

  // Several at once, so that one stuck video (each step has its own
  // time-out) does not hold every other thumbnail and reply behind it.
  thumbnailQueue_ = std::make_unique<platform::WorkerPool>("com.orvik.thumbnails", kThumbnailWorkers);
  fileMessages_ =
      std::make_unique<FileTransferMessages>(page, *documents_, *images_, *videos_, *thumbnailQueue_, *fileAccess_);
  fileMessages_->publishRoutes(web.routes());
  // The main window is whichever window holds the main web view.
  savePanels_ = makeGtkSavePanels([this]() -> Gtk::Window* {
    GtkRoot* root = mainWebView_ ? gtk_widget_get_root(mainWebView_->host().widget()) : nullptr;
    return root && GTK_IS_WINDOW(root) ? Glib::wrap(GTK_WINDOW(root)) : nullptr;
  });
  saveQueue_ = std::make_unique<platform::SerialQueue>("com.orvik.fileSaves");
  fileHelper_ = std::make_unique<OrvikHelper>(*savePanels_, *opener_, defaults_, *saveQueue_);
  saveMessages_ = std::make_unique<FileSaveMessages>(*fileHelper_, *fileAccess_);
  saveMessages_->publishRoutes(web.routes());
  // TODO(notifications issue): getDeviceToken, showLocalNotification:, clearBadge, setUnreadTotal:,
  // clearChatNotifications:, setNotificationSound, previewNotificationSound.
  mediaAlerts_ = std::make_unique<GtkMediaPermissionAlerts>();
  mediaPermission_ = std::make_unique<MediaPermissionManager>(MediaPermissionManager::Collaborators{
      platform::mainQueue(), *captureAuthorization_, defaults_, *mediaAlerts_, page});
  mediaPermission_->publishRoutes(web.routes());
  callManager_->setWebView(page);
  callMessages_ = std::make_unique<CallBridgeMessages>(*callManager_, callStrings_);
  callMessages_->publishRoutes(web.routes());
  // The page asks for the native audio call screen of an outgoing call.
  [[maybe_unused]] const bool audioRouted = web.routes().route("openNativeAudioUI", [this](const nlohmann::json& body) {
    const auto request = CallBridgeMessages::readOutgoingCallRequest("openNativeAudioUI", body, {});
    if (!request) return;
    audioCallWindow_->open({request->callee.name, request->callee.OrvikID, request->callee.avatarURL.value_or(""),
                            request->callee.isSubscribed, request->isDarkMode, false, true});
  });
  [[maybe_unused]] const bool dismissRouted =
      web.routes().route("dismissIncomingCallPanel", [this](const nlohmann::json&) { incomingCallPanel_->dismiss(); });
  // TODO(incoming call intake): showIncomingCallPanel shows the panel once the manager prepares signalling for
  // the call (incomingCallPanel_->showForRingingCall).
  // TODO(call windows and incoming calls issues): the other call and call-window messages.
  // TODO(#31): the viewer, share and clipboard messages, openOrSave…, deleteLocalFiles, readVideoForPlayback.
  // TODO(file drag issue): beginFileDrag.
}

}  // namespace orvik
