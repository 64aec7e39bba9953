#include "app/launch_steps.h"

#include <gtk/gtk.h>
#include <sys/statvfs.h>

#include <algorithm>

#include <glib.h>
#include <webkit/webkit.h>

#include "app/app_services.h"
#include "app/crash_backtrace_logger.h"
#include "app/distribution_log.h"
#include "app/instance_bus.h"
#include "app/instance_settler.h"
#include "app/keyboard_input_direction.h"
#include "app/push_notification_manager.h"
#include "app/system_lock_observer.h"
#include "core/launch_at_login_manager.h"
#include "core/native_logger.h"
#include "core/update_banner.h"
#include "platform/app_folders.h"
#include "platform/app_info.h"
#include "platform/dispatch/task_queue.h"
#include "platform/system_log.h"
#include "web/web_session.h"

namespace orvik {
namespace {

// The page learns when any window of the program is minimised or restored.
void onSurfaceStateChanged(GObject* surface, GParamSpec*, gpointer steps) {
  const bool minimized =
      (gdk_toplevel_get_state(GDK_TOPLEVEL(surface)) & GDK_TOPLEVEL_STATE_MINIMIZED) != 0;
  const bool wasMinimized = g_object_get_data(surface, "orvik-minimized") != nullptr;
  if (minimized == wasMinimized) return;
  g_object_set_data(surface, "orvik-minimized", minimized ? GINT_TO_POINTER(1) : nullptr);
  platform::callPage(static_cast<const ProgramLaunchSteps*>(steps)->shellPage(),
                     platform::pageFunctionCall("__setAppInactiveFromNative", {minimized}));
}

void observeSurfaceOf(Gtk::Window& window, ProgramLaunchSteps* steps) {
  GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(window.gobj()));
  if (surface && GDK_IS_TOPLEVEL(surface)) {
    g_signal_connect(surface, "notify::state", G_CALLBACK(onSurfaceStateChanged), steps);
  }
}

}  // namespace

std::weak_ptr<platform::PageScriptSink> ProgramLaunchSteps::shellPage() const {
  AppServices* services = services_();
  return services ? services->pushNotifications().page() : std::weak_ptr<platform::PageScriptSink>();
}

void checkForUpdatesFromMenu(UpdateBanner& updates) {
  updates.setShowUpdateDialog(false);
  updates.checkForUpdates(false);
}

bool isRunningFromReadOnlyImage(const std::filesystem::path& folder) {
  const std::string mountPrefix = (std::filesystem::path(g_get_tmp_dir()) / ".mount_").string();
  if (folder.string().rfind(mountPrefix, 0) != 0) return false;
  struct statvfs info {};
  return ::statvfs(folder.c_str(), &info) == 0 && (info.f_flag & ST_RDONLY) != 0;
}

ProgramLaunchSteps::ProgramLaunchSteps(Gtk::Application& application, std::function<AppServices*()> services)
    : application_(application), services_(std::move(services)) {}

ProgramLaunchSteps::~ProgramLaunchSteps() = default;

// A copy on a mounted disk image and a store copy have no Linux twin.
HandOffResult ProgramLaunchSteps::handOffFromDiskImage() { return HandOffResult::notApplicable; }
HandOffResult ProgramLaunchSteps::deferToStoreCopy() { return HandOffResult::notApplicable; }

void ProgramLaunchSteps::hideAllWindows() {
  for (Gtk::Window* window : application_.get_windows()) window->set_visible(false);
}

void ProgramLaunchSteps::installCrashLogger() { CrashBacktraceLogger::install(); }

void ProgramLaunchSteps::logDistributionSelfCheck() {
  const std::string& identifier = platform::AppInfo::current().bundleIdentifier;
  std::shared_ptr<platform::SystemLog> journal =
      platform::makeJournaldSystemLog(identifier.empty() ? "Orvik" : identifier, "Distribution");
  setDistributionSystemLog(
      [journal](const std::string& message) { journal->write(platform::SystemLogLevel::standard, message); });
  orvik::logDistributionSelfCheck(currentDistributionFacts());
}

void ProgramLaunchSteps::registerSupplementalDecoder() {
  // VP9 is decoded in software by WebRTC; there is no hardware decoder to add.
  nativeLog("[Media] VP9 supplemental decoder registered — hardware VP9 decode: false");
}

// An AppImage always runs from its own read-only mount, and Linux has no
// Applications folder to move a program into: that is a normal install, and
// no location is refused.
bool ProgramLaunchSteps::refuseDiskImageLocation() { return false; }

void ProgramLaunchSteps::setDarkAppearance() {
  // The composition root binds GTK's own widgets to the program's theme
  // setting when start-up builds it, before any window exists.
}

void ProgramLaunchSteps::observeWindowMinimising() {
  application_.signal_window_added().connect([this](Gtk::Window* window) {
    if (window->get_realized()) observeSurfaceOf(*window, this);
    window->signal_realize().connect([this, window] { observeSurfaceOf(*window, this); });
  });
}

void ProgramLaunchSteps::startSystemLockObserver() {
  if (systemLock_) return;
  auto isActive = [this] {
    const auto windows = application_.get_windows();
    return std::any_of(windows.begin(), windows.end(), [](Gtk::Window* window) { return window->is_active(); });
  };
  systemLock_ = std::make_unique<SystemLockObserver>(SystemLockObserver::Collaborators{
      platform::mainQueue(), std::move(isActive), [this] { return shellPage(); }, {}});
  systemLock_->start(platform::makeLogindSessionMonitor());
}

void ProgramLaunchSteps::queueWindowTitles() {
  platform::mainQueue().post([this] {
    for (Gtk::Window* window : application_.get_windows()) {
      window->set_title(platform::AppInfo::current().displayName);
    }
  });
}

InstanceSettlement ProgramLaunchSteps::settleRunningInstance() {
  const auto& info = platform::AppInfo::current();
  InstanceBusChannel channel(info.bundleIdentifier);
  return InstanceSettler(channel, info.shortVersion).settle();
}

std::vector<std::string> ProgramLaunchSteps::documentsFolderEntries() {
  const std::filesystem::path folder = platform::documentsFolder();
  std::vector<std::string> entries;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    entries.push_back(it->path().filename().string());
  }
  return entries;
}

namespace {

// The website data of the network session the main web view uses. Records
// are named by their site; removal removes what the last fetch found of them.
// The session is the composition root's, built at start-up: the fetch waits
// for the main loop, and never completes in a run that has no root.
class WebKitWebsiteDataStore final : public WebsiteDataStore {
 public:
  explicit WebKitWebsiteDataStore(std::function<AppServices*()> services) : services_(std::move(services)) {}
  ~WebKitWebsiteDataStore() override { keep(nullptr); }

  void fetchAllRecords(std::function<void(Records)> completion) override {
    platform::mainQueue().post([this, completion = std::move(completion)]() mutable {
      AppServices* services = services_();
      if (!services) return;
      manager_ = webkit_network_session_get_website_data_manager(services->webSession().networkSession());
      fetch(std::move(completion));
    });
  }

 private:
  void fetch(std::function<void(Records)> completion) {
    struct Fetch {
      WebKitWebsiteDataStore* store;
      std::function<void(Records)> completion;
    };
    webkit_website_data_manager_fetch(
        manager_, WEBKIT_WEBSITE_DATA_ALL, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
          std::unique_ptr<Fetch> fetch(static_cast<Fetch*>(data));
          GList* found = webkit_website_data_manager_fetch_finish(WEBKIT_WEBSITE_DATA_MANAGER(source), result, nullptr);
          fetch->store->keep(found);
          Records names;
          for (GList* node = found; node; node = node->next) {
            names.emplace_back(webkit_website_data_get_name(static_cast<WebKitWebsiteData*>(node->data)));
          }
          fetch->completion(std::move(names));
        },
        new Fetch{this, std::move(completion)});
  }

 public:
  void removeRecords(const Records& records, std::function<void()> completion) override {
    GList* chosen = nullptr;
    for (GList* node = fetched_; node; node = node->next) {
      auto* data = static_cast<WebKitWebsiteData*>(node->data);
      if (std::find(records.begin(), records.end(), webkit_website_data_get_name(data)) != records.end()) {
        chosen = g_list_prepend(chosen, data);
      }
    }
    webkit_website_data_manager_remove(
        manager_, WEBKIT_WEBSITE_DATA_ALL, chosen, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
          std::unique_ptr<std::function<void()>> completion(static_cast<std::function<void()>*>(data));
          webkit_website_data_manager_remove_finish(WEBKIT_WEBSITE_DATA_MANAGER(source), result, nullptr);
          (*completion)();
        },
        new std::function<void()>(std::move(completion)));
    g_list_free(chosen);
  }

 private:
  void keep(GList* found) {
    g_list_free_full(fetched_, reinterpret_cast<GDestroyNotify>(webkit_website_data_unref));
    fetched_ = found;
  }

  std::function<AppServices*()> services_;
  WebKitWebsiteDataManager* manager_ = nullptr;
  GList* fetched_ = nullptr;
};

}  // namespace

WebsiteDataStore* ProgramLaunchSteps::websiteDataStore() {
  if (!websiteData_) websiteData_ = std::make_unique<WebKitWebsiteDataStore>(services_);
  return websiteData_.get();
}

void ProgramLaunchSteps::registerLaunchAtLogin() {
  // After the main web view has started loading: the login item's files wait.
  platform::mainQueue().post([services = services_] {
    if (AppServices* root = services()) root->launchAtLogin().registerLaunchAtLogin();
  });
}

void ProgramLaunchSteps::setUpNotifications() {
  if (AppServices* services = services_()) services->setUpNotifications();
}

// The composition root watches every finished load from the start: the first
// one re-checks the notification card, each one hands over a waiting click.
void ProgramLaunchSteps::observeFirstPageLoad() {}

void ProgramLaunchSteps::observeKeyboardInputSource() {
  if (inputDirection_) return;
  inputSource_ = makeDesktopInputSource();
  inputDirection_ = std::make_unique<KeyboardInputDirection>(*inputSource_, [this] { return shellPage(); });
  inputDirection_->start();
}

void ProgramLaunchSteps::observeShowMainWindowRequests() { observesShowMainWindowRequests_ = true; }

}  // namespace orvik
