// The program: one GTK application with the id "com.orvik.desk", unique on
// the session bus. It runs the launch sequence (app_delegate.h), then the one
// main loop; it owns the main window and the menu commands. A second launch
// hands its start to the running instance, which brings its main window
// forward.
//
// THREAD-SAFETY: main queue only.
#pragma once

#include <gtkmm.h>

#include <memory>

#include "app/app_activation.h"
#include "app/app_delegate.h"
#include "app/app_services.h"
#include "app/launch_steps.h"
#include "app/main_window.h"

namespace orvik {

class OrvikApplication : public Gtk::Application {
 public:
  static constexpr double kQuitDelayAfterHangUp = 1.6;

  static Glib::RefPtr<OrvikApplication> create();
  ~OrvikApplication() override;

  // The launch sequence, then the main loop; the exit status.
  int runProgram(char* programName);

  // The normal quit path: a call in progress is hung up first and the
  // program quits shortly after.
  void requestTermination();
  // Brings the main window forward; false when there is none.
  bool restoreMainWindow();
  MainWindow* mainWindow() { return mainWindow_.get(); }
  // The composition root; none before start-up.
  AppServices* services() { return services_.get(); }

 protected:
  OrvikApplication();
  void on_startup() override;
  void on_activate() override;
  bool dbus_register_vfunc(const Glib::RefPtr<Gio::DBus::Connection>& connection,
                           const Glib::ustring& objectPath) override;
  void dbus_unregister_vfunc(const Glib::RefPtr<Gio::DBus::Connection>& connection,
                             const Glib::ustring& objectPath) override;

 private:
  Glib::RefPtr<Gio::Menu> makeMenu();
  // Follows the focus of every window the program opens.
  void watchActivity(Gtk::Window* window);

  ProgramLaunchSteps steps_;
  AppDelegate delegate_;
  // Outlives the main window, whose web view its wiring serves.
  std::unique_ptr<AppServices> services_;
  std::unique_ptr<MainWindow> mainWindow_;
  std::unique_ptr<AppActivation> activation_;
  bool activatedOnce_ = false;
  unsigned instanceRegistration_ = 0;
};

}  // namespace orvik
