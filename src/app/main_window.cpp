#include "app/main_window.h"

#include <gtk/gtk.h>
#ifdef GDK_WINDOWING_X11
#include <gdk/x11/gdkx.h>
#endif

#include <filesystem>

#include "app/main_titlebar_layout.h"
#include "core/native_logger.h"
#include "core/network_monitor.h"
#include "platform/app_info.h"

namespace orvik {
namespace {

constexpr int kPageMinWidth = 1080;
constexpr int kPageMinHeight = 600;
constexpr int kLeadingTitleMargin = 80;

const char* kStyleSheet = R"css(
.orvik-titlebar .orvik-title { font-size: 14px; font-weight: normal; }
.orvik-titlebar.dark .orvik-title {
  color: rgb(0, 0, 0);
  /* Black on the dark strip is close to invisible: a light halo keeps the
     title readable without changing its colour. */
  text-shadow: 0 0 1px rgba(255, 255, 255, 0.9), 0 0 2px rgba(255, 255, 255, 0.9), 0 0 3px rgba(255, 255, 255, 0.8),
               0 0 3px rgba(255, 255, 255, 0.8);
}
.orvik-titlebar.light .orvik-title { color: rgb(64, 64, 64); }
.orvik-titlebar windowcontrols { margin: 0 4px; }
.orvik-titlebar windowcontrols button { min-height: 18px; min-width: 18px; padding: 0; margin: 0 2px; }
.orvik-titlebar windowcontrols button image { min-height: 14px; min-width: 14px; padding: 2px; margin: 0; -gtk-icon-size: 12px; }
.orvik-titlebar menubutton > button { min-height: 18px; min-width: 18px; padding: 0 4px; margin: 0; }
.orvik-titlebar menubutton > button image { -gtk-icon-size: 14px; }
.orvik-page { background-color: rgb(16, 6, 36); }
/* The window's title bar is an empty widget: the theme would give it a title
   bar's height and colour above the strip. It takes no room at all, so the
   strip is the window's top edge. */
window.orvik-main > .titlebar.orvik-empty-titlebar {
  min-height: 0; padding: 0; margin: 0; border-width: 0; background: none; box-shadow: none;
}
/* Square corners: the strip is drawn to the window's edges. Without a
   compositor the theme frames the window for its resize edges; the frame
   stays on the sides and at the bottom but not above the strip. */
window.orvik-main.csd, window.orvik-main.solid-csd { border-radius: 0; }
window.orvik-main.solid-csd { padding-top: 0; border-top-width: 0; }
)css";

// Once per display: a window may open on a display other than the first.
void installStyleSheet() {
  static constexpr const char* kInstalledKey = "orvik-main-window-style";
  auto display = Gdk::Display::get_default();
  if (!display || g_object_get_data(G_OBJECT(display->gobj()), kInstalledKey)) return;
  g_object_set_data(G_OBJECT(display->gobj()), kInstalledKey, GINT_TO_POINTER(1));
  auto provider = Gtk::CssProvider::create();
  provider->load_from_data(kStyleSheet);
  Gtk::StyleContext::add_provider_for_display(display, provider, GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

std::optional<std::string> desktopDoubleClickSetting() {
  GtkSettings* settings = gtk_settings_get_default();
  if (!settings) return std::nullopt;
  gchar* value = nullptr;
  g_object_get(settings, "gtk-titlebar-double-click", &value, nullptr);
  if (!value) return std::nullopt;
  std::string text = value;
  g_free(value);
  return text;
}

// The work area of the first monitor: GTK 4 tells neither where the window
// will appear nor which monitor is the primary one.
std::optional<FrameRect> firstMonitorWorkArea() {
  GdkDisplay* display = gdk_display_get_default();
  if (!display) return std::nullopt;
  GListModel* monitors = gdk_display_get_monitors(display);
  if (g_list_model_get_n_items(monitors) == 0) return std::nullopt;
  auto* monitor = static_cast<GdkMonitor*>(g_list_model_get_item(monitors, 0));
  GdkRectangle area{};
  gdk_monitor_get_geometry(monitor, &area);
#ifdef GDK_WINDOWING_X11
  if (GDK_IS_X11_MONITOR(monitor)) gdk_x11_monitor_get_workarea(monitor, &area);
#endif
  g_object_unref(monitor);
  return FrameRect{static_cast<double>(area.x), static_cast<double>(area.y), static_cast<double>(area.width),
                   static_cast<double>(area.height)};
}

}  // namespace

std::string titlebarTextureName(bool isDarkMode) { return isDarkMode ? "titlebar_metal_dark" : "titlebar_metal"; }

// ---- MainTitlebar

MainTitlebar::MainTitlebar(MainWindowControl& window, const Glib::RefPtr<Gio::MenuModel>& menu) : window_(window) {
  installStyleSheet();
  set_layout_manager(Gtk::BinLayout::create());
  add_css_class("orvik-titlebar");
  set_size_request(-1, static_cast<int>(MainTitlebarLayout::kStripHeight));
  set_valign(Gtk::Align::START);

  auto* leading = Gtk::make_managed<Gtk::Box>();
  leading->set_size_request(kLeadingTitleMargin, -1);
  leading->append(*Gtk::make_managed<Gtk::WindowControls>(Gtk::PackType::START));
  auto* trailing = Gtk::make_managed<Gtk::Box>();
  if (menu) {
    auto* menuButton = Gtk::make_managed<Gtk::MenuButton>();
    menuButton->set_icon_name("open-menu-symbolic");
    menuButton->set_has_frame(false);
    menuButton->set_menu_model(menu);
    menuButton->set_valign(Gtk::Align::CENTER);
    trailing->append(*menuButton);
  }
  trailing->append(*Gtk::make_managed<Gtk::WindowControls>(Gtk::PackType::END));

  title_.set_text(platform::AppInfo::current().displayName);
  title_.add_css_class("orvik-title");
  title_.set_ellipsize(Pango::EllipsizeMode::END);
  title_.set_valign(Gtk::Align::CENTER);
  title_.set_can_target(false);  // clicks fall through to the strip

  bar_.set_start_widget(*leading);
  bar_.set_center_widget(title_);
  bar_.set_end_widget(*trailing);
  bar_.set_parent(*this);

  click_ = Gtk::GestureClick::create();
  click_->set_button(GDK_BUTTON_PRIMARY);
  click_->signal_pressed().connect(sigc::mem_fun(*this, &MainTitlebar::onPressed));
  add_controller(click_);
  drag_ = Gtk::GestureDrag::create();
  drag_->set_button(GDK_BUTTON_PRIMARY);
  drag_->signal_drag_begin().connect([this](double, double) { dragMoved_ = false; });
  drag_->signal_drag_update().connect(sigc::mem_fun(*this, &MainTitlebar::onDragUpdate));
  add_controller(drag_);
}

MainTitlebar::~MainTitlebar() { bar_.unparent(); }

void MainTitlebar::applyCustomTitlebar(bool isDarkMode) {
  isDarkMode_ = isDarkMode;
  remove_css_class(isDarkMode ? "light" : "dark");
  add_css_class(isDarkMode ? "dark" : "light");
  const std::string name = titlebarTextureName(isDarkMode);
  const auto file = platform::AppInfo::current().resourcesFolder / "images" / (name + ".png");
  texture_.reset();
  std::error_code ec;
  if (std::filesystem::is_regular_file(file, ec)) {
    try {
      texture_ = Gdk::Texture::create_from_filename(file.string());
    } catch (const Glib::Error&) {
      texture_.reset();
    }
  }
  if (!texture_) nativeLog("[MainWindow] custom titlebar: asset " + name + " missing");
  queue_draw();
}

void MainTitlebar::snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshot) {
  graphene_rect_t rect = GRAPHENE_RECT_INIT(0.0f, 0.0f, static_cast<float>(get_width()),
                                            static_cast<float>(get_height()));
  if (isDarkMode_) {
    const GdkRGBA colour{kDarkStripBackground[0] / 255.0f, kDarkStripBackground[1] / 255.0f,
                         kDarkStripBackground[2] / 255.0f, 1.0f};
    gtk_snapshot_append_color(snapshot->gobj(), &colour, &rect);
  }
  if (texture_) gtk_snapshot_append_texture(snapshot->gobj(), texture_->gobj(), &rect);
  snapshot_child(bar_, snapshot);
}

void MainTitlebar::onPressed(int pressCount, double, double) {
  if (pressCount != 2) return;
  performTitlebarDoubleClickAction(window_, desktopDoubleClickSetting());
}

void MainTitlebar::showWindowMenu() {
  GtkNative* native = gtk_widget_get_native(gobj());
  GdkSurface* surface = native ? gtk_native_get_surface(native) : nullptr;
  GdkEvent* event = gtk_event_controller_get_current_event(GTK_EVENT_CONTROLLER(click_->gobj()));
  if (surface && GDK_IS_TOPLEVEL(surface) && event) gdk_toplevel_show_window_menu(GDK_TOPLEVEL(surface), event);
}

void MainTitlebar::onDragUpdate(double offsetX, double offsetY) {
  if (dragMoved_ || window_.isFullScreen()) return;
  int threshold = 8;
  g_object_get(gtk_settings_get_default(), "gtk-dnd-drag-threshold", &threshold, nullptr);
  if (offsetX * offsetX + offsetY * offsetY < static_cast<double>(threshold * threshold)) return;
  dragMoved_ = true;

  GtkGesture* gesture = GTK_GESTURE(drag_->gobj());
  GtkNative* native = gtk_widget_get_native(gobj());
  GdkSurface* surface = native ? gtk_native_get_surface(native) : nullptr;
  GdkEventSequence* sequence = gtk_gesture_single_get_current_sequence(GTK_GESTURE_SINGLE(gesture));
  GdkEvent* event = gtk_gesture_get_last_event(gesture, sequence);
  if (!surface || !GDK_IS_TOPLEVEL(surface) || !event) return;
  double startX = 0;
  double startY = 0;
  gtk_gesture_drag_get_start_point(GTK_GESTURE_DRAG(gesture), &startX, &startY);
  double x = 0;
  double y = 0;
  gtk_widget_translate_coordinates(gobj(), GTK_WIDGET(native), startX, startY, &x, &y);
  double surfaceX = 0;
  double surfaceY = 0;
  gtk_native_get_surface_transform(native, &surfaceX, &surfaceY);
  const int button = static_cast<int>(gtk_gesture_single_get_current_button(GTK_GESTURE_SINGLE(gesture)));
  gdk_toplevel_begin_move(GDK_TOPLEVEL(surface), gdk_event_get_device(event), button, x + surfaceX, y + surfaceY,
                          gdk_event_get_time(event));
  gtk_event_controller_reset(GTK_EVENT_CONTROLLER(gesture));
}

// ---- HomeView

HomeView::HomeView(MainWindowControl& window, const Glib::RefPtr<Gio::MenuModel>& menu,
                   const MainWindowServices& services)
    // The page's load state joins when the web view is installed.
    : network_(services.network),
      theme_(services.theme),
      layout_(services.layout),
      titlebar_(window, menu),
      model_(nullptr, network_.isConnected()) {
  pageSlot_.add_css_class("orvik-page");
  pageSlot_.set_size_request(kPageMinWidth, kPageMinHeight);
  pageSlot_.set_hexpand(true);
  pageSlot_.set_vexpand(true);
  pageOverlay_.set_child(pageSlot_);
  set_child(pageOverlay_);
  add_overlay(titlebar_);
  applyTopInset(layout_.contentTopInset());
  insetObserver_ = layout_.addObserver([this](double inset) { applyTopInset(inset); });
  networkObserver_ = network_.addObserver([this](bool connected) { model_.handleConnectivityChange(connected); });
}

namespace {

// The web view's load state as the view model reads it.
class WebPageLoadState final : public PageLoadState {
 public:
  explicit WebPageLoadState(std::shared_ptr<WebViewState> state) : state_(std::move(state)) {}
  bool isOffline() const override { return state_->isOffline(); }
  void retry() override { state_->retry(); }

 private:
  std::shared_ptr<WebViewState> state_;
};

}  // namespace

void HomeView::attachWebView(std::unique_ptr<MainWebView> web) {
  if (web_ || !web) return;
  web_ = std::move(web);
  pageState_ = std::make_unique<WebPageLoadState>(web_->state());
  model_.attachPage(pageState_.get());
  wasPageOffline_ = web_->state()->isOffline();
  pageStateObserver_ = web_->state()->addObserver([this] {
    const bool offline = web_->state()->isOffline();
    if (offline == wasPageOffline_) return;
    wasPageOffline_ = offline;
    model_.handleOfflineChange(offline);
  });
}

HomeView::~HomeView() {
  pageStateObserver_.reset();
  model_.attachPage(nullptr);
  web_.reset();
  insetObserver_.reset();
  networkObserver_.reset();
  themeObserver_.reset();
}

void HomeView::applyTopInset(double inset) {
  pageSlot_.set_margin_top(static_cast<int>(inset));
  titlebar_.set_visible(inset > 0);
}

void HomeView::configureMainWindow(Gtk::Window& window) {
  auto* main = dynamic_cast<MainWindow*>(&window);
  if (!main) return;
  if (!didHookMainWindowClose_) {
    didHookMainWindowClose_ = true;
    main->installCloseInterceptor();
    // The custom title strip follows the theme from now on.
    titlebar_.applyCustomTitlebar(theme_.isDarkMode());
    themeObserver_ = theme_.addObserver([this](bool dark) { titlebar_.applyCustomTitlebar(dark); });
    layout_.setContentTopInset(window.is_fullscreen() ? 0 : MainTitlebarLayout::kStripHeight);
  }
  if (!didSetInitialSize_) {
    didSetInitialSize_ = true;
    main->restoreFrameAtLaunch();
    main->attachFrameSaver();
  }
}

// ---- MainWindow

MainWindow::MainWindow(const Glib::RefPtr<Gio::MenuModel>& menu, const MainWindowServices& services)
    : layout_(services.layout),
      frames_(services.defaults),
      closeInterceptor_(control(), services.calls),
      home_(control(), menu, services) {
  set_title(platform::AppInfo::current().displayName);
  // An empty title bar keeps the window's own decorations (resize edges,
  // shadow) while the strip in the content takes the title bar's place; the
  // style sheet gives the empty one no height.
  add_css_class("orvik-main");
  emptyTitlebar_.add_css_class("orvik-empty-titlebar");
  set_titlebar(emptyTitlebar_);
  set_child(home_);
  home_.configureMainWindow(*this);
}

MainWindow::~MainWindow() = default;

void MainWindow::restore() { present(); }

void MainWindow::toggleMaximized() {
  if (is_maximized()) unmaximize();
  else maximize();
}

void MainWindow::lower() {
  GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(gobj()));
  if (surface && GDK_IS_TOPLEVEL(surface)) gdk_toplevel_lower(GDK_TOPLEVEL(surface));
}

void MainWindow::showWindowMenu() { home_.titlebar().showWindowMenu(); }

void MainWindow::installCloseInterceptor() {
  signal_close_request().connect(
      [this] {
        (void)closeInterceptor_.handleMainWindowCloseButton();
        return true;  // never closed: the page keeps its state
      },
      false);
  nativeLog("[MainWindow] close interceptor installed (prev delegate=nil)");
}

void MainWindow::restoreFrameAtLaunch() {
  int width = 0;
  int height = 0;
  get_default_size(width, height);
  const FrameRect current{0, 0, static_cast<double>(width), static_cast<double>(height)};
  const LaunchFrame frame = frames_.launchFrame(current, firstMonitorWorkArea());
  set_default_size(frame.width, frame.height);
  if (frame.maximized) maximize();
  if (frame.fullScreen) fullscreen();
}

void MainWindow::attachFrameSaver() {
  // GTK keeps the windowed (not maximised, not full-screen) size as the
  // window's default size.
  auto recordSize = [this] {
    int width = 0;
    int height = 0;
    get_default_size(width, height);
    if (!is_maximized()) frames_.recordSize(width, height, is_fullscreen());
  };
  property_default_width().signal_changed().connect(recordSize);
  property_default_height().signal_changed().connect(recordSize);
  property_maximized().signal_changed().connect([this] { frames_.recordMaximized(is_maximized()); });
  property_fullscreened().signal_changed().connect([this] {
    const bool fullScreen = is_fullscreen();
    layout_.setContentTopInset(fullScreen ? 0 : MainTitlebarLayout::kStripHeight);
    int width = 0;
    int height = 0;
    get_default_size(width, height);
    frames_.recordFullScreen(fullScreen, width, height);
    if (!fullScreen) closeInterceptor_.onFullScreenExited();
  });
}

}  // namespace orvik
