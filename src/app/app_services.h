// The composition root: the one object that builds the program's services,
// in dependency order and by constructor injection, and wires them together.
// Created by OrvikApplication::on_startup; everything else receives what it
// needs from here instead of reaching for process-wide instances.
//
//   logger, defaults, application identity, service configuration
//   → web session (context, network session, local schemes) and the files'
//     scheme handler → network monitor, theme, web-load diagnostics
//   → the main web view (built first among the windows' contents, so its load
//     starts as early as it can) and the bridge routes of each subsystem
//   → the call manager (its signalling, peer connection and tones are made
//     when a call first needs them)
//   → the updater: update check, downloader, their alerts (the card joins the
//     main window with the web view; the checks start when it is shown)
//   → on first use: device identity, launch at login, call audio and tones,
//     audio hardware, signalling (the call engine is loaded only when used).
//
// Slots still to be filled: the call windows (the call manager drives them
// through a port that only knows the main window so far).
//
// The logger (NativeLogger::shared, behind nativeLog) and the platform
// defaults (AppInfo::current, UserDefaults::standard, AudioHardware::shared,
// SoundPlayer::shared) stay process-wide: every layer logs, and they are
// what the root hands on.
//
// Owner: OrvikApplication, for the life of the main loop; it outlives the main
// window. THREAD-SAFETY: main queue only.
#pragma once

#include <memory>
#include <string>

#include "calls/control/call_strings.h"
#include "calls/media/call_audio_device_slot.h"
#include "core/service_config.h"
#include "platform/observer_list.h"
#include "platform/page_call.h"
#include "platform/secret_store.h"

namespace Gtk {
class Window;
class Overlay;
}  // namespace Gtk

namespace orvik {

class AppBridgeMessages;
class CallAlerts;
class CallAudioManager;
class AppCallWindowOperations;
class CallBridgeMessages;
class CallCapture;
class CallControl;
class CallCredentialsSink;
class CallScreenShare;
class CallSignalingService;
struct CallPeerConnectionOptions;
class CallTones;
class CallWindows;
class CallAudioRouter;
class AudioOutputRouting;
class FloatingCallPanelControl;
class FloatingPanelHost;
class NativeCallFloatingPanel;
class CredentialFetcher;
class DebugLogManager;
class DeviceUdidProvider;
class DocTransferManager;
class FileAccessPolicy;
class FileDragOut;
class FileOpenMessages;
class FileSaveMessages;
class FileTransferMessages;
class HomeView;
class ImageClipboard;
class ImgTransferManager;
class LaunchAtLoginManager;
class LoadDiagnostics;
class LocalNotificationManager;
class NotificationPermissionBanner;
class MainTitlebarLayout;
class MainWebView;
class MediaPermissionAlerts;
class MediaPermissionManager;
class IncomingCallPanel;
class NativeAudioCallWindow;
class NativeVideoCallWindow;
class NativeVideoPiP;
class ScreenShareThumbnailer;
class NativeCallManager;
class NativeCallManagerOperations;
class NativeCallWindow;
class NativePreCallWindow;
class CameraSource;
class IncomingCameraPreview;
class PreCallCamera;
class NativeLogger;
class NetworkMonitor;
class OrvikHelper;
class OrvikFileSchemeHandler;
class OrvikUploadScheme;
class PushNotificationManager;
class IncomingCallPushTarget;
class SavePanels;
class ShareMenu;
class ThemeManager;
class UpdateAlerts;
class UpdateCheckSchedule;
class UpdateDownloader;
class UpdateInstallFlow;
class ManualUpdateFallback;
class DbusInstallerSignals;
class SpawnInstallerLauncher;
class UpdateFeedSource;
class UpdateService;
class VideoTransferManager;
class BlockerSurface;
class NativeDocumentViewerWindow;
class NativeImageViewerWindow;
class NativeImagePiPWindow;
class NativeVideoPiPWindow;
class NativeVideoPlayerWindow;
class ViewerClickBlocker;
class ViewerEntryPoints;
class ViewerMessages;
class WebLoadDiagnostics;
class WebSession;
namespace platform {
struct AppInfo;
class Badge;
class Notifier;
class AudioHardware;
class CaptureAuthorization;
class DisplaySleepInhibitor;
class LoginItem;
class SerialQueue;
class SystemLog;
class SystemOpener;
class UserDefaults;
class WindowPlacement;
class WorkerPool;
}  // namespace platform

class AppServices {
 public:
  struct Options {
    // Tests: a web session that keeps nothing.
    bool ephemeralWebSession = false;
    // Where the device identity is kept; empty: the Secret Service.
    std::unique_ptr<platform::SecretStore> secretStore;
  };

  explicit AppServices(Options options);
  AppServices() : AppServices(Options{}) {}
  ~AppServices();
  AppServices(const AppServices&) = delete;
  AppServices& operator=(const AppServices&) = delete;

  NativeLogger& logger() { return logger_; }
  platform::UserDefaults& defaults() { return defaults_; }
  const platform::AppInfo& appInfo() const { return appInfo_; }
  const ServiceConfig& service() const { return service_; }
  WebSession& webSession() { return *webSession_; }
  FileAccessPolicy& fileAccess() { return *fileAccess_; }
  NetworkMonitor& network() { return *network_; }
  ThemeManager& theme() { return *theme_; }
  MainTitlebarLayout& titlebarLayout() { return *titlebarLayout_; }
  DebugLogManager& debugLog() { return *debugLog_; }
  WebLoadDiagnostics& webLoadDiagnostics() { return *webLoadDiagnostics_; }

  // Built on first use.
  DeviceUdidProvider& deviceUdid();
  LaunchAtLoginManager& launchAtLogin();
  platform::AudioHardware& audioHardware();
  CallAudioManager& callAudio();
  CallSignalingService& signaling();
  // Whether call audio or signalling has been built yet.
  bool isCallEngineLoaded() const { return callAudio_ || signaling_; }

  // What each peer connection takes from the program: the custom audio
  // device flag from the defaults and a device factory that publishes each
  // call's device in callAudioDevices(), where the audio router finds it.
  CallPeerConnectionOptions peerConnectionOptions();
  CallAudioDeviceSlot& callAudioDevices() { return callAudioDevices_; }

  NativeCallManager& callManager() { return *callManager_; }
  // The shell's and the bridge's views of the call manager.
  CallControl& calls() { return *calls_; }
  CallCredentialsSink& callCredentials();
  PushNotificationManager& pushNotifications() { return *push_; }
  LocalNotificationManager& localNotifications() { return *localNotifications_; }
  platform::Notifier& notifier() { return *notifier_; }
  // Asks whether the user lets the program notify: when they do, the push
  // registration (which this desktop refuses) and no card; when they refused,
  // the notification-permission card.
  void setUpNotifications();
  // The notification settings decide the card: shown while refused, gone once allowed.
  void checkNotificationBanner();
  // The web call window (around the call page the main page opens).
  NativeCallWindow& callWindow() { return *callWindow_; }
  // The audio call window; the page opens it with "openNativeAudioUI".
  NativeAudioCallWindow& audioCallWindow() { return *audioCallWindow_; }
  UpdateService& updates() { return *updates_; }
  UpdateDownloader& updateDownloader() { return *updateDownloader_; }
  // The silent checks: 2 s from now, every 1800 s, and whenever `window`
  // becomes the active window; once.
  void startUpdateChecks(Gtk::Window& window);

  // Builds the main web view into the home view's page slot, starts its
  // load, and publishes every subsystem's page messages on its bridge; once.
  void installMainWebView(HomeView& home);
  // The main web view while the main window holds it.
  MainWebView* mainWebView() { return mainWebView_; }
  // The main web view's page while it exists; empty before and after.
  std::weak_ptr<platform::PageScriptSink> mainPage() const { return mainPage_; }
  AppBridgeMessages* appMessages() { return appMessages_.get(); }
  CredentialFetcher* credentialFetcher() { return credentials_.get(); }

 private:
  // The verified archive goes to orvik-installer; its answer to the card and the relaunch prompt.
  void wireInstallerHandOff();
  void publishRoutes(MainWebView& web);

  // In dependency order: each is built from those above it.
  NativeLogger& logger_;
  platform::UserDefaults& defaults_;
  const platform::AppInfo& appInfo_;
  const ServiceConfig service_;
  std::unique_ptr<WebSession> webSession_;
  std::unique_ptr<FileAccessPolicy> fileAccess_;
  std::shared_ptr<OrvikFileSchemeHandler> fileScheme_;
  std::unique_ptr<NetworkMonitor> network_;
  std::unique_ptr<ThemeManager> theme_;
  platform::Subscription themeBinding_;  // GTK's widgets follow the theme
  std::unique_ptr<MainTitlebarLayout> titlebarLayout_;
  std::unique_ptr<DebugLogManager> debugLog_;
  std::unique_ptr<platform::SystemLog> webLoadLog_;
  std::unique_ptr<platform::SystemOpener> opener_;
  std::unique_ptr<WebLoadDiagnostics> webLoadDiagnostics_;
  std::unique_ptr<LoadDiagnostics> loadRecorder_;
  std::unique_ptr<platform::CaptureAuthorization> captureAuthorization_;
  std::unique_ptr<platform::DisplaySleepInhibitor> displaySleep_;
  std::unique_ptr<CallTones> callTones_;
  std::unique_ptr<CallWindows> callWindows_;
  std::unique_ptr<CallAlerts> callAlerts_;
  std::unique_ptr<CallCapture> callCapture_;
  std::unique_ptr<CallScreenShare> screenShare_;
  // One table for the call manager and every call window.
  CallStrings callStrings_;
  std::shared_ptr<NativeCallManager> callManager_;
  std::unique_ptr<CallControl> calls_;
  std::unique_ptr<NativeCallWindow> callWindow_;
  std::unique_ptr<NativeCallManagerOperations> callOperations_;
  std::unique_ptr<AppCallWindowOperations> callWindowOperations_;
  std::unique_ptr<platform::WindowPlacement> windowPlacement_;
  std::unique_ptr<FloatingPanelHost> floatingPanelHost_;
  std::shared_ptr<NativeCallFloatingPanel> floatingPanel_;
  std::shared_ptr<CallAudioRouter> audioRouter_;
  std::unique_ptr<AudioOutputRouting> audioOutputRouting_;
  std::shared_ptr<NativeAudioCallWindow> audioCallWindow_;
  std::unique_ptr<ScreenShareThumbnailer> shareThumbnails_;
  std::shared_ptr<NativeVideoCallWindow> videoCallWindow_;
  std::shared_ptr<NativeVideoPiP> callVideoPiP_;
  // The camera outlives the panel and the window that start previews on it.
  std::unique_ptr<CameraSource> preCallCameras_;
  std::unique_ptr<PreCallCamera> preCallCamera_;
  std::unique_ptr<IncomingCameraPreview> incomingCameraPreview_;
  std::shared_ptr<IncomingCallPanel> incomingCallPanel_;
  std::shared_ptr<NativePreCallWindow> preCallWindow_;
  std::unique_ptr<DocTransferManager> documents_;
  std::unique_ptr<ImgTransferManager> images_;
  std::unique_ptr<VideoTransferManager> videos_;
  std::unique_ptr<OrvikUploadScheme> uploadScheme_;
  std::unique_ptr<platform::Notifier> notifier_;
  std::unique_ptr<platform::Badge> badge_;
  std::unique_ptr<IncomingCallPushTarget> pushCalls_;
  std::unique_ptr<PushNotificationManager> push_;
  std::unique_ptr<LocalNotificationManager> localNotifications_;
  platform::Subscription pageLoads_;  // hands a waiting notification click to each new page
  bool firstPageLoaded_ = false;
  std::unique_ptr<NotificationPermissionBanner> notificationBanner_;
  HomeView* home_ = nullptr;
  std::unique_ptr<UpdateFeedSource> updateFeed_;
  std::unique_ptr<UpdateAlerts> updateAlerts_;
  std::unique_ptr<UpdateService> updates_;
  std::unique_ptr<UpdateDownloader> updateDownloader_;
  std::unique_ptr<platform::SerialQueue> installQueue_;
  std::unique_ptr<DbusInstallerSignals> installerSignals_;
  std::unique_ptr<SpawnInstallerLauncher> installerLauncher_;
  std::unique_ptr<ManualUpdateFallback> manualUpdateFallback_;
  std::unique_ptr<UpdateInstallFlow> installFlow_;
  std::unique_ptr<UpdateCheckSchedule> updateSchedule_;
  bool updateChecksStarted_ = false;

  // First use.
  std::unique_ptr<platform::SecretStore> secretStore_;
  // Kept for the life of the process: see deviceUdid().
  DeviceUdidProvider* deviceUdid_ = nullptr;
  std::unique_ptr<platform::LoginItem> loginItem_;
  std::unique_ptr<LaunchAtLoginManager> launchAtLogin_;
  std::unique_ptr<CallAudioManager> callAudio_;
  std::shared_ptr<CallSignalingService> signaling_;
  CallAudioDeviceSlot callAudioDevices_;

  // The main web view's wiring; the view itself belongs to the home view.
  MainWebView* mainWebView_ = nullptr;
  std::weak_ptr<platform::PageScriptSink> mainPage_;
  std::unique_ptr<CredentialFetcher> credentials_;
  std::unique_ptr<AppBridgeMessages> appMessages_;
  std::unique_ptr<CallBridgeMessages> callMessages_;
  std::unique_ptr<platform::WorkerPool> thumbnailQueue_;
  std::unique_ptr<FileTransferMessages> fileMessages_;
  // Saves to places the user picks: copies run on their own queue, so a
  // large video does not hold the window or the thumbnails.
  std::unique_ptr<SavePanels> savePanels_;
  std::unique_ptr<platform::SerialQueue> saveQueue_;
  std::unique_ptr<OrvikHelper> fileHelper_;
  std::unique_ptr<FileSaveMessages> saveMessages_;
  std::unique_ptr<ImageClipboard> clipboard_;
  std::unique_ptr<ShareMenu> shareMenu_;
  std::unique_ptr<platform::SerialQueue> readbackQueue_;
  std::unique_ptr<FileOpenMessages> openMessages_;
  Gtk::Overlay* viewerOverlay_ = nullptr;
  std::unique_ptr<BlockerSurface> blockerSurface_;
  std::unique_ptr<ViewerClickBlocker> viewerBlocker_;
  std::shared_ptr<void> viewerFocusWatch_;
  std::shared_ptr<NativeImageViewerWindow> imageViewer_;
  std::shared_ptr<NativeDocumentViewerWindow> documentViewer_;
  std::shared_ptr<NativeImagePiPWindow> imagePiP_;
  std::shared_ptr<NativeVideoPiPWindow> videoPiP_;
  std::shared_ptr<NativeVideoPlayerWindow> videoPlayer_;
  std::unique_ptr<ViewerEntryPoints> viewers_;
  std::unique_ptr<ViewerMessages> viewerMessages_;
  std::unique_ptr<FileDragOut> fileDrag_;
  std::unique_ptr<MediaPermissionAlerts> mediaAlerts_;
  std::unique_ptr<MediaPermissionManager> mediaPermission_;
};

}  // namespace orvik
