#include "app/application.h"

#include <webkit/webkit.h>

#include "calls/control/call_control.h"

#include "app/instance_bus.h"
#include "app/local_notification_manager.h"
#include "app/push_notification_manager.h"
#include "updater/update_service.h"
#include "core/native_logger.h"
#include "core/web_load_diagnostics.h"
#include "platform/app_info.h"
#include "platform/dispatch/clock.h"
#include "platform/dispatch/task_queue.h"
#include "platform/termination_signals.h"
#include "web/main_web_view.h"
#include "web/web_view_host.h"

namespace orvik {

Glib::RefPtr<OrvikApplication> OrvikApplication::create() {
  return Glib::make_refptr_for_instance<OrvikApplication>(new OrvikApplication());
}

OrvikApplication::OrvikApplication()
    : Gtk::Application(platform::AppInfo::current().bundleIdentifier),
      steps_(*this, [this] { return services_.get(); }),
      delegate_(steps_, platform::UserDefaults::standard(), platform::AppInfo::current().shortVersion) {}

OrvikApplication::~OrvikApplication() = default;

int OrvikApplication::runProgram(char* programName) {
  // The program reads no arguments.
  char* argv[] = {programName, nullptr};
  delegate_.applicationWillFinishLaunching();
  switch (delegate_.applicationDidFinishLaunching()) {
    case LaunchOutcome::handedOff:
    case LaunchOutcome::refusedLocation:
      return 0;
    case LaunchOutcome::handedBack:
      // Registering finds the running instance; the start is handed to it
      // (it shows its main window) and this copy ends.
    case LaunchOutcome::running:
      break;
  }
  return run(1, argv);
}

Glib::RefPtr<Gio::Menu> OrvikApplication::makeMenu() {
  add_action("check-for-updates", [this] {
    platform::mainQueue().post([this] {
      if (services_) checkForUpdatesFromMenu(services_->updates());
    });
  });
  add_action("show-web-load-diagnostics", [this] {
    if (services_) services_->webLoadDiagnostics().revealInFinder();
  });
  add_action("quit", sigc::mem_fun(*this, &OrvikApplication::requestTermination));
  set_accel_for_action("app.quit", "<Control>q");

  auto menu = Gio::Menu::create();
  auto application = Gio::Menu::create();
  application->append("Check for Updates…", "app.check-for-updates");
  menu->append_section(application);
  auto help = Gio::Menu::create();
  help->append("Show Web Load Diagnostics in File Manager", "app.show-web-load-diagnostics");
  menu->append_section(help);
  auto quit = Gio::Menu::create();
  quit->append("Quit", "app.quit");
  menu->append_section(quit);
  return menu;
}

void OrvikApplication::on_startup() {
  Gtk::Application::on_startup();
  // Ctrl+C in a terminal and a polite kill take the same quit path as the
  // menu, so a call in progress is hung up first; the process ends a few
  // seconds later in any case.
  platform::installTerminationSignals([this] { requestTermination(); });
  services_ = std::make_unique<AppServices>();
  activation_ = std::make_unique<AppActivation>(AppActivation::Collaborators{
      platform::mainQueue(), platform::systemClock(), services_->defaults(),
      [this] { return services_->pushNotifications().page(); }, [this] { return services_->calls().isCallActive(); },
      [this] { services_->localNotifications().clearBadge(); }, [this] { services_->checkNotificationBanner(); },
      [this] {
        if (!mainWindow_ || !mainWindow_->get_visible()) return false;
        GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(mainWindow_->gobj()));
        return !(surface && GDK_IS_TOPLEVEL(surface) &&
                 (gdk_toplevel_get_state(GDK_TOPLEVEL(surface)) & GDK_TOPLEVEL_STATE_MINIMIZED));
      },
      [this] { return restoreMainWindow(); },
      [this] {
        MainWebView* web = services_->mainWebView();
        if (!web) return false;
        webkit_web_view_reload(web->host().webView());
        return true;
      }});
  signal_window_added().connect([this](Gtk::Window* window) { watchActivity(window); });
  mainWindow_ = std::make_unique<MainWindow>(
      makeMenu(), MainWindowServices{services_->defaults(), services_->calls(), services_->network(),
                                     services_->theme(), services_->titlebarLayout()});
  add_window(*mainWindow_);
  // The web view is built and its load started before anything else the
  // main loop has to do.
  services_->installMainWebView(mainWindow_->home());
}

void OrvikApplication::on_activate() {
  if (!activatedOnce_) {
    activatedOnce_ = true;
    if (mainWindow_) {
      mainWindow_->present();
      services_->startUpdateChecks(*mainWindow_);
    }
    return;
  }
  if (!steps_.observesShowMainWindowRequests()) return;
  nativeLog("[Reopen] showMainWindowNotification received from a second launch attempt");
  restoreMainWindow();
}

void OrvikApplication::watchActivity(Gtk::Window* window) {
  window->property_is_active().signal_changed().connect([this] {
    bool anyActive = false;
    for (Gtk::Window* each : get_windows()) anyActive = anyActive || each->is_active();
    if (activation_) activation_->windowActivityChanged(anyActive);
  });
}

bool OrvikApplication::restoreMainWindow() {
  if (!mainWindow_) {
    nativeLog("[Reopen] no main window found to bring forward");
    return false;
  }
  GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(mainWindow_->gobj()));
  const bool minimized = surface && GDK_IS_TOPLEVEL(surface) &&
                         (gdk_toplevel_get_state(GDK_TOPLEVEL(surface)) & GDK_TOPLEVEL_STATE_MINIMIZED);
  auto flag = [](bool value) { return value ? std::string("true") : std::string("false"); };
  nativeLog("[Reopen] showing registered main window — MainWindow visible=" + flag(mainWindow_->get_visible()) +
            " mini=" + flag(minimized) + " fullScreen=" + flag(mainWindow_->is_fullscreen()) +
            " windows=" + std::to_string(get_windows().size()));
  mainWindow_->restore();
  return true;
}

void OrvikApplication::requestTermination() {
  if (!services_ || !services_->calls().isCallActive()) {
    quit();
    return;
  }
  nativeLog("[AppDelegate] terminate requested during active call — hanging up before quit");
  services_->calls().hangUpCurrentCall();
  // The end frames go out meanwhile; closing the last window must not end
  // the program before they have.
  hold();
  platform::mainQueue().postAfter(kQuitDelayAfterHangUp, [this] {
    release();
    quit();
  });
}

bool OrvikApplication::dbus_register_vfunc(const Glib::RefPtr<Gio::DBus::Connection>& connection,
                                           const Glib::ustring& objectPath) {
  if (!Gtk::Application::dbus_register_vfunc(connection, objectPath)) return false;
  instanceRegistration_ = exportInstanceObject(connection->gobj(), objectPath, platform::AppInfo::current().shortVersion,
                                               [this] { platform::mainQueue().post([this] { requestTermination(); }); });
  return true;
}

void OrvikApplication::dbus_unregister_vfunc(const Glib::RefPtr<Gio::DBus::Connection>& connection,
                                             const Glib::ustring& objectPath) {
  unexportInstanceObject(connection->gobj(), instanceRegistration_);
  instanceRegistration_ = 0;
  Gtk::Application::dbus_unregister_vfunc(connection, objectPath);
}

}  // namespace orvik
