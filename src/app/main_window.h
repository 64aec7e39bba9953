// The main window: `HomeView` (the page slot, with the custom title strip
// above it) inside a GTK application window that the program owns. The page
// slot stays an empty area of the window's page colour until the web host
// places its web view there.
//
// Closing the window hides it (main_window_hooks.h); its size, maximised and
// full-screen state are restored at launch and recorded on every change
// (main_window_frame.h).
//
// Owner: the application (application.h). THREAD-SAFETY: main queue only.
#pragma once

#include <gtkmm.h>

#include <memory>
#include <optional>
#include <string>

#include "app/home_view_model.h"
#include "app/main_window_frame.h"
#include "app/main_window_hooks.h"
#include "core/theme_manager.h"
#include "web/main_web_view.h"


namespace orvik {

// The page slot's colour: the main window view's own background, shown where
// no page is drawn.
inline constexpr unsigned char kPageBackground[3] = {16, 6, 36};
// The title strip's colours.
inline constexpr unsigned char kDarkStripBackground[3] = {50, 50, 50};
inline constexpr unsigned char kDarkTitleColour[3] = {0, 0, 0};
inline constexpr unsigned char kLightTitleColour[3] = {64, 64, 64};

// The 24-point strip at the top of the main window: a metal texture (light or
// dark) with the program's name centred on it, the window buttons, and the
// program's menu. Dragging it moves the window; a double click does what the
// desktop's title-bar setting says.
class MainTitlebar : public Gtk::Widget {
 public:
  MainTitlebar(MainWindowControl& window, const Glib::RefPtr<Gio::MenuModel>& menu);
  ~MainTitlebar() override;

  // Swaps the texture and colours; logs a missing texture each time.
  void applyCustomTitlebar(bool isDarkMode);
  bool isDarkMode() const { return isDarkMode_; }
  Gtk::Label& title() { return title_; }
  // The desktop's window menu, for the click being handled.
  void showWindowMenu();

 protected:
  void snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshot) override;

 private:
  void onPressed(int pressCount, double x, double y);
  void onDragUpdate(double offsetX, double offsetY);

  MainWindowControl& window_;
  Gtk::CenterBox bar_;
  Gtk::Label title_;
  Glib::RefPtr<Gdk::Texture> texture_;
  bool isDarkMode_ = true;
  Glib::RefPtr<Gtk::GestureClick> click_;
  Glib::RefPtr<Gtk::GestureDrag> drag_;
  bool dragMoved_ = false;
};

class MainTitlebarLayout;
class NetworkMonitor;

// What the main window is built with; each outlives the window.
struct MainWindowServices {
  platform::UserDefaults& defaults;
  CallControl& calls;
  NetworkMonitor& network;
  ThemeManager& theme;
  MainTitlebarLayout& layout;
};

// The root content of the main window.
class HomeView : public Gtk::Overlay {
 public:
  HomeView(MainWindowControl& window, const Glib::RefPtr<Gio::MenuModel>& menu, const MainWindowServices& services);
  ~HomeView() override;

  // Installs the close hook, the title strip and the launch size on `window`,
  // once each however often it is called.
  void configureMainWindow(Gtk::Window& window);

  MainTitlebar& titlebar() { return titlebar_; }
  Gtk::Widget& pageSlot() { return pageSlot_; }
  HomeViewModel& model() { return model_; }

  // Where the main web view goes (AppServices::installMainWebView): the page
  // slot, and the overlay its overlays lie in, under the title strip.
  Gtk::Box& pageBox() { return pageSlot_; }
  Gtk::Overlay& pageOverlay() { return pageOverlay_; }
  // Takes the built main web view; its load state drives the view model.
  void attachWebView(std::unique_ptr<MainWebView> web);
  MainWebView* webView() { return web_.get(); }

 private:
  void applyTopInset(double inset);

  NetworkMonitor& network_;
  ThemeManager& theme_;
  MainTitlebarLayout& layout_;
  Gtk::Overlay pageOverlay_;
  Gtk::Box pageSlot_;
  MainTitlebar titlebar_;
  HomeViewModel model_;
  bool didSetInitialSize_ = false;
  bool didHookMainWindowClose_ = false;
  platform::Subscription insetObserver_;
  platform::Subscription networkObserver_;
  platform::Subscription themeObserver_;
  std::unique_ptr<MainWebView> web_;
  std::unique_ptr<PageLoadState> pageState_;
  platform::Subscription pageStateObserver_;
  bool wasPageOffline_ = false;
};

class MainWindow : public Gtk::ApplicationWindow, private MainWindowControl {
 public:
  MainWindow(const Glib::RefPtr<Gio::MenuModel>& menu, const MainWindowServices& services);
  ~MainWindow() override;

  HomeView& home() { return home_; }
  MainWindowControl& control() { return *this; }

  // Shows the window again after it was hidden or minimised.
  void restore();

 private:
  friend class HomeView;
  // MainWindowControl
  bool isFullScreen() const override { return is_fullscreen(); }
  void exitFullScreen() override { unfullscreen(); }
  void hide() override { set_visible(false); }
  void minimize() override { Gtk::Window::minimize(); }
  void toggleMaximized() override;
  void lower() override;
  void showWindowMenu() override;

  void restoreFrameAtLaunch();
  void attachFrameSaver();
  void installCloseInterceptor();

  MainTitlebarLayout& layout_;
  MainWindowFrameStore frames_;
  MainWindowCloseInterceptor closeInterceptor_;
  HomeView home_;
  Gtk::Box emptyTitlebar_;
};

// The missing-texture check and the file the title strip's texture comes
// from: "<resources>/images/<name>.png".
std::string titlebarTextureName(bool isDarkMode);

}  // namespace orvik
