#include "app/app_services.h"

#include <gtk/gtk.h>
#include <gtkmm.h>

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "app/app_bridge_messages.h"
#include "app/call_engine_ports.h"
#include "app/call_window_operations.h"
#include "app/distribution_log.h"
#include "app/main_titlebar_layout.h"
#include "app/main_window.h"
#include "app/media_permission_alerts_gtk.h"
#include "app/media_permission_manager.h"
#include "app/local_notification_manager.h"
#include "app/notification_permission_banner.h"
#include "app/push_notification_manager.h"
#include "web/web_view_coordinator.h"
#include "calls/media/call_audio_device.h"
#include "calls/control/call_bridge_messages.h"
#include "calls/control/call_control.h"
#include "calls/control/call_port_backends.h"
#include "calls/control/call_strings.h"
#include "calls/control/native_call_manager.h"
#include "calls/control/native_call_manager_operations.h"
#include "calls/windows/native_call_window.h"
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
#include "calls/windows/floating_call_panel_gtk.h"
#include "calls/windows/floating_panel_host_gtk.h"
#include "calls/windows/native_call_floating_panel.h"
#include "calls/windows/native_audio_call_window.h"
#include "calls/windows/native_pre_call_window.h"
#include "calls/windows/pre_call_camera.h"
#include "calls/windows/pre_call_window_gtk.h"
#include "calls/media/device_camera_source.h"
#include "calls/windows/native_video_call_window.h"
#include "calls/windows/native_video_pip.h"
#include "calls/windows/video_call_window_gtk.h"
#include "calls/media/camera_source.h"
#include "calls/screens/screen_share_thumbnails.h"
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
#include "files/file_open_messages.h"
#include "files/file_save_messages.h"
#include "files/file_transfer_messages.h"
#include "files/orvik_file_scheme_webkit.h"
#include "files/image_clipboard.h"
#include "files/orvik_helper.h"
#include "files/save_panels.h"
#include "files/share_menu.h"
#include "files/transfer_managers.h"
#include "files/upload_scheme_webkit.h"
#include "platform/app_folders.h"
#include "platform/app_info.h"
#include "platform/audio/audio_hardware.h"
#include "platform/audio/sound_player.h"
#include "platform/capture_authorization.h"
#include "platform/dispatch/clock.h"
#include "platform/dispatch/serial_queue.h"
#include "updater/installer_signals_dbus.h"
#include "updater/manual_update_fallback.h"
#include "updater/pending_update_location.h"
#include "updater/relaunch_prompt.h"
#include "updater/update_install_flow.h"
#include "platform/dispatch/task_queue.h"
#include "platform/dispatch/worker_pool.h"
#include "platform/display_sleep_inhibitor.h"
#include "platform/local_schemes.h"
#include "platform/login_item.h"
#include "platform/network_path.h"
#include "platform/notifier.h"
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
#include "viewers/document_viewer_window.h"
#include "viewers/image_pip_window.h"
#include "viewers/image_viewer_window.h"
#include "viewers/media_viewers.h"
#include "viewers/viewer_click_blocker.h"
#include "viewers/viewer_click_blocker_gtk.h"
#include "viewers/video_pip_window.h"
#include "viewers/video_player_window.h"
#include "viewers/viewer_messages.h"
#include "web/credential_fetcher.h"
#include "web/file_drag_out.h"
#include "web/main_web_view.h"
#include "web/web_session.h"
#include "web/web_view_host.h"

namespace orvik {
namespace {

// The call engine and its incoming-call panel as an announced call needs them.
class ManagerIncomingCallPushTarget final : public IncomingCallPushTarget {
 public:
  ManagerIncomingCallPushTarget(NativeCallManager& manager, std::function<IncomingCallPanel*()> panel)
      : manager_(manager), panel_(std::move(panel)) {}
  bool isMaskedOrWiped() const override { return manager_.isMaskedOrWiped(); }
  bool isInCall() const override { return manager_.isInCall(); }
  bool isRingingCall(const IncomingCallPush& call) const override {
    return manager_.isRingingCallAnnouncement(call.callerNumber, call.pushId);
  }
  void sendBusyToNewCaller(const std::string& callerNumber) override { manager_.sendBusyToNewCaller(callerNumber); }
  void prepareSignalingForIncoming(const IncomingCallPush& call) override {
    manager_.prepareSignalingForIncoming(call.callerNumber, call.displayName, call.isAudio, call.pushId, "",
                                         /*fromPush=*/true, /*remoteIsSubscribed=*/false, /*isDarkMode=*/true,
                                         /*identityGuessed=*/false);
  }
  void showIncomingCallPanel(const IncomingCallPush& call, std::function<void()> accept,
                             std::function<void()> decline) override {
    auto* panel = panel_();
    if (!panel) return;
    IncomingCallRequest request;
    request.callerName = call.displayName;
    request.userNumber = call.callerNumber;
    request.isAudio = call.isAudio;
    // The call manager's ring timer ends an unanswered ring as missed.
    panel->show(request, {std::move(accept), std::move(decline), {}});
  }
  void acceptIncomingFromPanel(const IncomingCallPush& call) override {
    manager_.acceptIncomingFromPanel(call.callerNumber, call.displayName, call.isAudio, call.pushId, true);
  }
  void rejectCall() override { manager_.rejectCall(); }

 private:
  NativeCallManager& manager_;
  std::function<IncomingCallPanel*()> panel_;
};

// The ringing video call's camera preview: the pre-call window's camera,
// only where the camera is already allowed (a ringing call asks nothing).
class PreviewCameraForIncomingCalls final : public IncomingCameraPreview {
 public:
  PreviewCameraForIncomingCalls(PreCallCamera& camera, platform::CaptureAuthorization& access)
      : camera_(camera), access_(access) {}
  void start(std::function<void(CameraSessionHandle)> ready) override {
    if (access_.status(platform::CaptureDevice::camera) != platform::CaptureAuthorizationStatus::authorized) return;
    camera_.start([ready = std::move(ready)](CameraSessionHandle session) {
      if (session) ready(std::move(session));
    });
  }
  void stop(CameraSessionHandle session) override { camera_.stop(std::move(session)); }

 private:
  PreCallCamera& camera_;
  platform::CaptureAuthorization& access_;
};

// Whether one of the program's windows is the one the user works in.
bool isApplicationActive() {
  GApplication* application = g_application_get_default();
  if (!application || !GTK_IS_APPLICATION(application)) return false;
  for (GList* window = gtk_application_get_windows(GTK_APPLICATION(application)); window; window = window->next) {
    if (gtk_window_is_active(GTK_WINDOW(window->data))) return true;
  }
  return false;
}

}  // namespace

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

// Real seconds per second of call time. A test build lets an end-to-end
// test run call time faster (ORVIK_CALL_CLOCK_RATE=60: an hour of call in a
// minute) to see the call limits at work; a release build counts in real
// time whatever the environment says.
double callSecondLength() {
#ifdef ORVIK_SERVICE_OVERRIDE
  if (const char* text = std::getenv("ORVIK_CALL_CLOCK_RATE"); text && *text) {
    char* end = nullptr;
    const double rate = std::strtod(text, &end);
    if (*end != '\0' || !(rate >= 1 && rate <= 1000)) {
      std::fprintf(stderr, "ORVIK_CALL_CLOCK_RATE: \"%s\" is not a rate from 1 to 1000\n", text);
      std::exit(1);
    }
    return CallTimerManager::kTickSeconds / rate;
  }
#endif
  return CallTimerManager::kTickSeconds;
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
                                                    [this] { return incomingCallPanel_.get(); },
                                                    [this] { return floatingPanel_.get(); });
  callAlerts_ = std::make_unique<GtkCallAlerts>();
  callCapture_ = std::make_unique<DeviceCallCapture>([this]() -> platform::AudioHardware& { return audioHardware(); });
  screenShare_ = makeDesktopCallScreenShare();
  NativeCallManager::Collaborators call{nullptr,      nullptr,       *callTones_,    *callWindows_, *callAlerts_,
                                        *callCapture_, *screenShare_, *displaySleep_, defaults_};
  call.strings = &callStrings_;
  call.captureAuthorization = captureAuthorization_.get();
  call.callSecondLength = callSecondLength();
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
  call.postBackgroundNotification = [this](const std::string& title, const std::string& body) {
    if (localNotifications_) localNotifications_->postBackgroundNotification(title, body, nlohmann::json::object());
  };
  callManager_ = NativeCallManager::create(std::move(call));
  calls_ = std::make_unique<ManagerCallControl>(*callManager_);
  notifier_ = platform::makeFreedesktopNotifier(appInfo_.displayName, appInfo_.bundleIdentifier);
  badge_ = platform::makeLauncherEntryBadge(appInfo_.bundleIdentifier + ".desktop");
  pushCalls_ = std::make_unique<ManagerIncomingCallPushTarget>(*callManager_,
                                                               [this] { return incomingCallPanel_.get(); });
  push_ = std::make_unique<PushNotificationManager>(*pushCalls_, [mainWindow] {
    if (GtkWindow* window = mainWindow()) gtk_window_present(window);
  });
  localNotifications_ = std::make_unique<LocalNotificationManager>(LocalNotificationManager::Collaborators{
      *notifier_, *badge_, defaults_, platform::SoundPlayer::shared(), *push_, *opener_,
      appInfo_.resourcesFolder / "sounds", appInfo_.bundleIdentifier, isApplicationActive,
      [this] { return callAudio().volumeGain(CallAudioManager::Tone::incomingRingtone); }});
  notifier_->setResponseHandler([this](const platform::NotificationResponse& response) {
    push_->didReceive(response, [this] { localNotifications_->clearBadge(); });
  });
  notificationBanner_ = std::make_unique<NotificationPermissionBanner>(
      [this]() -> Gtk::Overlay* { return home_; }, [this] { localNotifications_->openNotificationSettings(); });
  pageLoads_ = webViewDidFinishLoadingObservers().add([this] {
    push_->deliverPendingPayload();
    // The first load of the page: the card follows the settings once more.
    if (!std::exchange(firstPageLoaded_, true)) checkNotificationBanner();
  });
  callWindow_ = std::make_unique<NativeCallWindow>(NativeCallWindow::Collaborators{
      platform::mainQueue(), *captureAuthorization_, callStrings_,
      [this] { return defaults_.boolValue(NativeCallManager::kScreenshotAccessKey); }, {},
      NativeCallWindow::kVideoFailSafeSeconds});
  callOperations_ = std::make_unique<NativeCallManagerOperations>(*callManager_);
  callWindowOperations_ = std::make_unique<AppCallWindowOperations>(*callWindow_, *callAlerts_);
  callWindowOperations_->setIncomingCallPanel([this] { return incomingCallPanel_.get(); });
  windowPlacement_ = platform::makeWindowPlacement();
  // The audio call window's GTK window, while its controller holds one.
  auto audioCallGtk = std::make_shared<AudioCallWindowGtk*>(nullptr);
  FloatingPanelHostGtk::Windows floatingWindows;
  floatingWindows.audioCallWindow = [this, audioCallGtk]() -> GtkWindow* {
    return audioCallWindow_ && audioCallWindow_->hasWindow() && *audioCallGtk ? (*audioCallGtk)->window().gobj()
                                                                              : nullptr;
  };
  floatingWindows.mainWindows = [mainWindow] {
    GtkWindow* window = mainWindow();
    return window ? std::vector<GtkWindow*>{window} : std::vector<GtkWindow*>{};
  };
  auto videoCallGtk = std::make_shared<VideoCallWindowGtk*>(nullptr);
  floatingWindows.videoCallWindow = [this, videoCallGtk]() -> GtkWindow* {
    return videoCallWindow_ && videoCallWindow_->hasWindow() && *videoCallGtk ? (*videoCallGtk)->window().gobj()
                                                                              : nullptr;
  };
  floatingWindows.raiseCallWindows = [this] {
    if (audioCallWindow_) audioCallWindow_->raiseAboveAppWindows();
    if (videoCallWindow_ && videoCallWindow_->hasWindow()) videoCallWindow_->orderFront();
  };
  floatingWindows.showVideoPictureInPicture = [this] {
    if (callVideoPiP_) callVideoPiP_->showIfActive();
  };
  floatingWindows.hideVideoPictureInPicture = [this] {
    if (callVideoPiP_) callVideoPiP_->hide();
  };
  floatingPanelHost_ = std::make_unique<FloatingPanelHostGtk>(platform::mainQueue(), *windowPlacement_,
                                                              std::move(floatingWindows));
  floatingPanel_ = NativeCallFloatingPanel::create(
      {platform::mainQueue(), *calls_, callStrings_, theme_.get(), *floatingPanelHost_,
       FloatingCallPanelGtk::factory({*windowPlacement_, callStrings_, defaultAvatarPictureURL(service_)}),
       [this](bool cameraOff) { calls_->setCameraOff(cameraOff); }});
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
       [audioCallGtk, build = AudioCallWindowGtk::factory({*windowPlacement_, callStrings_, audioView})](
           const AudioCallWindowSetup& setup, AudioCallViewModel& model, AudioCallActions actions,
           AudioCallWindowDelegate& delegate) {
         auto window = build(setup, model, std::move(actions), delegate);
         *audioCallGtk = static_cast<AudioCallWindowGtk*>(window.get());
         return window;
       }});
  callWindowOperations_->setAudioCallOpener([this](const OutgoingCallRequest& request) {
    audioCallWindow_->open({request.callee.name, request.callee.OrvikID, request.callee.avatarURL.value_or(""),
                            request.callee.isSubscribed, request.isDarkMode, false, true});
  });
  // The video call window and its picture-in-picture panel.
  VideoCallViewOptions videoView;
  videoView.defaultAvatarURL = audioView.defaultAvatarURL;
  videoView.subscriberBadgeURL = audioView.subscriberBadgeURL;
  videoView.logoFile = audioView.logoFile;
  videoView.outputRouting = audioOutputRouting_.get();
  videoView.defaults = &defaults_;
  videoView.cameraSource = [](const CameraSessionHandle& session) { return session ? session->preview : nullptr; };
  shareThumbnails_ = std::make_unique<X11ScreenShareThumbnailer>();
  videoView.thumbnailer = shareThumbnails_.get();
  videoCallWindow_ = NativeVideoCallWindow::create(
      {*calls_, *captureAuthorization_, callStrings_, theme_.get(), *floatingPanel_, *callAlerts_,
       [this] {
         const auto& kept = callManager_->state().kept;
         return LocalCallIdentity{kept.myDisplayName, kept.myUserNumber, kept.myAvatarURL};
       },
       [this] { return callVideoPiP_.get(); },
       [videoCallGtk, build = VideoCallWindowGtk::factory({*windowPlacement_, callStrings_, videoView})](
           const VideoCallWindowSetup& setup, VideoCallViewModel& model, VideoCallActions actions,
           VideoCallWindowDelegate& delegate) {
         auto window = build(setup, model, std::move(actions), delegate);
         *videoCallGtk = static_cast<VideoCallWindowGtk*>(window.get());
         return window;
       }});
  callVideoPiP_ = NativeVideoPiP::create(
      {*calls_, videoCallWindow_->model(), [this] { videoCallWindow_->bringToFront(); }, [] { return StageRect{}; },
       [this] { return calls_->isScreenshotAccessAllowed(); },
       VideoPiPPanelGtk::factory({*windowPlacement_, videoView.cameraSource, audioView.defaultAvatarURL})});
  static_cast<ShellCallWindows&>(*callWindows_)
      .setVideoCallWindow([this] { return videoCallWindow_.get(); }, [this] { return callVideoPiP_.get(); });
  callWindowOperations_->setVideoCallOpener([this](const OutgoingCallRequest& request) {
    VideoCallWindowRequest open = videoCallRequest(
        VideoCallEntry::outgoing, {request.callee.name, request.callee.OrvikID, request.callee.avatarURL.value_or("")},
        request.callee.isSubscribed, request.isDarkMode);
    open.localName = request.myName;
    open.localImageUrl = request.myImage;
    videoCallWindow_->open(open);
  });
  preCallCameras_ = makeDeviceCameraSource();
  preCallCamera_ = std::make_unique<SourcePreCallCamera>(*preCallCameras_, platform::mainQueue());
  incomingCameraPreview_ = std::make_unique<PreviewCameraForIncomingCalls>(*preCallCamera_, *captureAuthorization_);
  incomingCallPanel_ = IncomingCallPanel::create(
      {*calls_, IncomingCallPanelGtk::factory({*windowPlacement_, callStrings_, audioView.defaultAvatarURL}),
       incomingCameraPreview_.get()});
  preCallWindow_ = NativePreCallWindow::create(
      {platform::mainQueue(), *captureAuthorization_, callStrings_,
       PreCallWindowGtk::factory({callStrings_, audioView.defaultAvatarURL}), preCallCamera_.get(),
       [this] { return defaults_.boolValue(NativeCallManager::kScreenshotAccessKey); }, [this] {
         const bool open = callWindow_->window() != nullptr;
         callWindow_->closeWindow();
         return open;
       }});
  callWindowOperations_->setPreCallWindow([this] { return preCallWindow_.get(); });
  documents_ = std::make_unique<DocTransferManager>(documentsDirectory);
  images_ = std::make_unique<ImgTransferManager>(documentsDirectory);
  videos_ = std::make_unique<VideoTransferManager>(documentsDirectory);
  // Uploads and transcodings through orvikupload://, from the trusted origin only.
  uploadScheme_ = std::make_unique<OrvikUploadScheme>(*documents_, *images_, *videos_, [this](std::string_view origin) {
    return WebViewHost::isTrustedOrigin(service_, origin);
  });
  webSession_->setSchemeHandler(platform::kOrvikUploadScheme, uploadScheme_->requestHandler());

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
  wireInstallerHandOff();
  updateSchedule_ =
      std::make_unique<UpdateCheckSchedule>(platform::mainQueue(), [this] { updates_->checkForUpdates(true); });
}

void AppServices::wireInstallerHandOff() {
  installQueue_ = std::make_unique<platform::SerialQueue>("com.orvik.updateInstall");
  installerSignals_ = std::make_unique<DbusInstallerSignals>(platform::mainQueue());
  installerLauncher_ = std::make_unique<SpawnInstallerLauncher>();
  auto parent = [this]() -> Gtk::Window* {
    if (!mainWebView_) return nullptr;
    GtkRoot* root = gtk_widget_get_root(mainWebView_->host().widget());
    return GTK_IS_WINDOW(root) ? Glib::wrap(GTK_WINDOW(root)) : nullptr;
  };
  auto installed = [this, parent] {
    updates_->setShowUpdateDialog(false);
    updates_->clearUpdateInfo();
    platform::callPage(mainPage_, platform::pageFunctionCall("__orvikSetUpdateAvailable", {false}));
    // Quitting lets the installer, which waits for this process, start the new version.
    RelaunchPrompt::show(parent(), theme_->isDarkMode(), [] {
      if (auto application = Gio::Application::get_default()) application->quit();
    });
  };
  manualUpdateFallback_ = std::make_unique<ManualUpdateFallback>(ManualUpdateFallback::Dependencies{
      platform::mainQueue(), *updateAlerts_, defaults_, [this] { return updates_->updateInfo(); },
      [this](const std::filesystem::path& archive) {
        // The archive in the application the desktop opens it with; without
        // one, the file manager shows it.
        gchar* uri = g_filename_to_uri(archive.c_str(), nullptr, nullptr);
        const bool opened = uri && opener_->openURL(uri);
        g_free(uri);
        if (!opened) opener_->revealFile(archive);
      },
      [this](const std::string& url) { opener_->openURL(url); },
      [] {
        if (auto application = Gio::Application::get_default()) application->quit();
      }});
  auto manualFallback = [this](const std::optional<std::filesystem::path>& archive) {
    manualUpdateFallback_->show(archive);
  };
  installFlow_ = std::make_unique<UpdateInstallFlow>(UpdateInstallFlow::Dependencies{
      platform::mainQueue(), *installQueue_, *updateDownloader_, *installerSignals_, *installerLauncher_,
      appInfo_.installFolder, appInfo_.installFolder, pendingUpdateFolder(), appInfo_.bundleIdentifier,
      std::move(installed), std::move(manualFallback)});
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
  installFlow_.reset();
  manualUpdateFallback_.reset();
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

void AppServices::setUpNotifications() {
  notifier_->settings([this](const platform::NotificationSettings& settings) {
    if (settings.authorization == platform::NotificationAuthorization::authorized) {
      push_->registerForRemoteNotifications();
      notificationBanner_->dismiss();
    } else if (settings.authorization == platform::NotificationAuthorization::denied) {
      notificationBanner_->show();
    }
  });
}

void AppServices::checkNotificationBanner() {
  notifier_->settings([this](const platform::NotificationSettings& settings) {
    switch (settings.authorization) {
      case platform::NotificationAuthorization::notDetermined:
        break;
      case platform::NotificationAuthorization::denied:
        notificationBanner_->show();
        break;
      case platform::NotificationAuthorization::authorized:
        notificationBanner_->dismiss();
        break;
    }
  });
}

void AppServices::installMainWebView(HomeView& home) {
  if (mainWebView_) return;
  home_ = &home;
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
  viewerOverlay_ = &home.pageOverlay();
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
  web.host().coordinator().setUpdateBanner(updates_.get());
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
  auto mainWindow = [this]() -> Gtk::Window* {
    GtkRoot* root = mainWebView_ ? gtk_widget_get_root(mainWebView_->host().widget()) : nullptr;
    return root && GTK_IS_WINDOW(root) ? Glib::wrap(GTK_WINDOW(root)) : nullptr;
  };
  savePanels_ = makeGtkSavePanels(mainWindow);
  saveQueue_ = std::make_unique<platform::SerialQueue>("com.orvik.fileSaves");
  clipboard_ = makeGtkImageClipboard();
  shareMenu_ = makeGtkShareMenu(mainWindow);
  fileHelper_ = std::make_unique<OrvikHelper>(*savePanels_, *opener_, defaults_, *saveQueue_,
                                              OrvikHelper::systemDownloads(),
                                              OrvikHelper::Sharing{shareMenu_.get(), clipboard_.get()});
  saveMessages_ = std::make_unique<FileSaveMessages>(*fileHelper_, *fileAccess_);
  saveMessages_->publishRoutes(web.routes());
  push_->setPage(page);
  push_->publishRoutes(web.routes());
  localNotifications_->publishRoutes(web.routes());
  mediaAlerts_ = std::make_unique<GtkMediaPermissionAlerts>();
  mediaPermission_ = std::make_unique<MediaPermissionManager>(MediaPermissionManager::Collaborators{
      platform::mainQueue(), *captureAuthorization_, defaults_, *mediaAlerts_, page});
  mediaPermission_->publishRoutes(web.routes());
  callManager_->setWebView(page);
  callWindow_->setMainPage(page);
  preCallWindow_->setMainPage(page);
  host.setCallWindow(callWindow_.get(),
                     [this](CallPageView callPage) { callWindow_->showWindow(std::move(callPage)); });
  callMessages_ = std::make_unique<CallBridgeMessages>(CallBridgeMessages::Collaborators{
      *callOperations_, *callWindowOperations_, callStrings_, platform::mainQueue(), page,
      CredentialFetcher::authDataScript(), {}});
  callMessages_->publishRoutes(web.routes());
  readbackQueue_ = std::make_unique<platform::SerialQueue>("com.orvik.videoReadback");
  openMessages_ = std::make_unique<FileOpenMessages>(
      FileOpenMessages::Collaborators{page, *fileHelper_, *clipboard_, *opener_, *fileAccess_, *readbackQueue_});
  openMessages_->publishRoutes(web.routes());
  blockerSurface_ = makeGtkBlockerSurface([this] { return viewerOverlay_; });
  viewerBlocker_ = std::make_unique<ViewerClickBlocker>(*blockerSurface_);
  viewerFocusWatch_ = watchApplicationFocus(*viewerBlocker_);
  // At most one picture-in-picture panel: each closes the other when it opens.
  imagePiP_ = std::make_shared<NativeImagePiPWindow>(NativeImagePiPWindow::Collaborators{
      windowPlacement_.get(), [this] { videoPiP_->close(); },
      [this](const std::string& path) { viewers_->showImage(path, false); }});
  videoPiP_ = std::make_shared<NativeVideoPiPWindow>(
      NativeVideoPiPWindow::Collaborators{windowPlacement_.get(), [this] { imagePiP_->close(); }});
  imageViewer_ = std::make_shared<NativeImageViewerWindow>(NativeImageViewerWindow::Collaborators{
      *viewerBlocker_, fileHelper_.get(), [this] { return theme_->isDarkMode(); },
      [this](const std::string& path) { imagePiP_->show(path); }});
  documentViewer_ = std::make_shared<NativeDocumentViewerWindow>(NativeDocumentViewerWindow::Collaborators{
      *viewerBlocker_, *opener_, [this] { return theme_->isDarkMode(); }, [this] {
        imagePiP_->close();
        videoPiP_->close();
      }});
  videoPlayer_ = std::make_shared<NativeVideoPlayerWindow>(NativeVideoPlayerWindow::Collaborators{
      *viewerBlocker_, fileHelper_.get(), [this] { return theme_->isDarkMode(); }, [this] { imagePiP_->close(); },
      videoPiP_, {}});
  MediaViewers::Windows viewerWindows;
  viewerWindows.image = imageViewer_;
  viewerWindows.imagePiP = imagePiP_;
  viewerWindows.video = videoPlayer_;
  viewerWindows.videoPiP = videoPiP_;
  viewerWindows.document = documentViewer_;
  viewers_ = std::make_unique<MediaViewers>(std::move(viewerWindows));
  viewerMessages_ = std::make_unique<ViewerMessages>(*viewers_, page, documentsDirectory);
  viewerMessages_->publishRoutes(web.routes());
  fileDrag_ = std::make_unique<FileDragOut>(web.host().webView(), page);
  fileDrag_->publishRoutes(web.routes());
}

}  // namespace orvik
