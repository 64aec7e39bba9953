#include "web/load_overlays.h"

#include <cmath>

#include "core/network_monitor.h"
#include "platform/app_info.h"
#include "web/web_view_state.h"

namespace orvik {
namespace {

struct Rgb {
  double r, g, b;
};
constexpr Rgb rgb(int r, int g, int b) { return {r / 255.0, g / 255.0, b / 255.0}; }

constexpr Rgb kAccent = rgb(155, 48, 255);
constexpr Rgb kAccentLight = rgb(201, 139, 255);
constexpr Rgb kDarkGradient[] = {rgb(36, 11, 71), rgb(18, 6, 43), rgb(10, 4, 26)};
constexpr Rgb kLightGradient[] = {rgb(245, 240, 255), rgb(234, 224, 250), rgb(255, 255, 255)};
constexpr Rgb kOfflineBackground = rgb(16, 6, 36);
constexpr Rgb kOfflineAccent = {0.62, 0.13, 0.94};

// The system's icon-theme names for the symbols the covers show.
constexpr const char* kNoNetworkIcon = "network-wireless-offline-symbolic";
constexpr const char* kNetworkErrorIcon = "network-error-symbolic";
constexpr const char* kReloadIcon = "view-refresh-symbolic";

// Seconds since 1 January 2001, the reference date the animations are
// written against.
double animationSeconds() { return static_cast<double>(g_get_real_time()) / 1e6 - 978307200.0; }

void installStyle() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  auto css = Gtk::CssProvider::create();
  css->load_from_data(R"CSS(
    .orvik-loading-status { font-size: 13px; font-weight: 500; font-feature-settings: "tnum"; letter-spacing: 1.5px; }
    .orvik-loading-status.dark { color: rgba(255,255,255,0.55); }
    .orvik-loading-status.light { color: rgba(0,0,0,0.55); }
    .orvik-logo-fallback { font-size: 34px; font-weight: 700; }
    .orvik-logo-fallback.dark { color: white; }
    .orvik-logo-fallback.light { color: black; }
    .orvik-offline-title { font-size: 22px; font-weight: 600; color: white; }
    .orvik-offline-subtitle { font-size: 14px; color: rgba(255,255,255,0.45); }
    .orvik-offline-icon { color: rgb(158,33,240); }
    .orvik-offline-button { background: rgb(158,33,240); color: white; border-radius: 999px; padding: 12px 28px;
                            border: none; box-shadow: none; }
    .orvik-offline-button label { font-size: 14px; font-weight: 600; }
    .orvik-toast { background: rgba(0,0,0,0.75); color: white; border-radius: 999px; padding: 8px 12px; }
    .orvik-toast label { font-size: 12px; font-weight: 500; }
    .orvik-error-card { background: alpha(@theme_bg_color, 0.95); border-radius: 16px; padding: 40px;
                        box-shadow: 0 10px 20px rgba(0,0,0,0.3); }
    .orvik-error-icon { color: red; }
    .orvik-error-title { font-size: 18px; font-weight: 600; color: white; }
    .orvik-error-message { font-size: 14px; color: grey; }
    .orvik-error-button { background: rgb(0,122,255); color: white; border-radius: 8px; padding: 10px 24px;
                          border: none; box-shadow: none; }
  )CSS");
  Gtk::StyleContext::add_provider_for_display(Gdk::Display::get_default(), css,
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

void fill(Gtk::Widget& widget) {
  widget.set_hexpand(true);
  widget.set_vexpand(true);
}

void centre(Gtk::Widget& widget) {
  widget.set_halign(Gtk::Align::CENTER);
  widget.set_valign(Gtk::Align::CENTER);
}

}  // namespace

OverlaySelection selectOverlays(bool isLoading, bool isOffline, bool hasErrorMessage, bool isConnected) {
  OverlaySelection selection;
  // What went wrong stays in sight while a retry loads: "No Connection"
  // and the error card go above the loading cover.
  if (isOffline) {
    selection.main = MainOverlay::offline;
  } else if (hasErrorMessage) {
    selection.main = MainOverlay::error;
  } else if (isLoading) {
    selection.main = MainOverlay::loading;
  }
  selection.offlineToast = !isConnected && !isOffline;
  return selection;
}

namespace overlay_motion {

std::string loadingText(double seconds) {
  const int dots = static_cast<int>(std::fmod(1.8 * seconds, 3.0)) + 1;
  return "Loading" + std::string(static_cast<std::size_t>(std::clamp(dots, 1, 3)), '.');
}

std::pair<double, double> glowCentre(double seconds) {
  return {0.5 + 0.28 * std::sin(0.28 * seconds), 0.5 + 0.22 * std::cos(0.21 * seconds)};
}

double spinnerDegrees(double seconds) { return std::fmod(seconds, 1.15) / 1.15 * 360.0; }
double spinnerScale(double seconds) { return 1.0 + 0.05 * std::sin(2.2 * seconds); }
double logoScale(double seconds) { return 1.0 + 0.02 * std::sin(1.6 * seconds); }

}  // namespace overlay_motion

OfflineTexts offlineTexts(bool isConnected) {
  if (isConnected) return {"Connection restored. Tap reload to continue.", "Reload"};
  return {"Check your network and try again.", "Try Again"};
}

// ---------------------------------------------------------------- loading

LoadingOverlayView::LoadingOverlayView(bool isDarkMode) : isDarkMode_(isDarkMode) {
  installStyle();
  fill(*this);
  const char* mode = isDarkMode_ ? "dark" : "light";
  background_.set_draw_func(sigc::mem_fun(*this, &LoadingOverlayView::drawBackground));
  fill(background_);
  set_child(background_);

  // Drawn from its SVG source (gdk-pixbuf's SVG loader), sharp at any scale.
  const auto logoFile = platform::AppInfo::current().resourcesFolder / "images" /
                        (isDarkMode_ ? "orvik_desktop_logo.svg" : "orvik_desktop_logo_light.svg");
  Glib::RefPtr<Gdk::Texture> logo;
  std::error_code ec;
  if (std::filesystem::is_regular_file(logoFile, ec)) {
    try {
      logo = Gdk::Texture::create_from_filename(logoFile.string());
    } catch (const Glib::Error&) {
      logo.reset();
    }
  }
  if (logo) {
    logo_.set_paintable(logo);
    logo_.set_can_shrink(true);
    logo_.set_size_request(250, -1);
    column_.append(logo_);
  } else {
    logoFallback_.set_text(platform::AppInfo::current().displayName);
    logoFallback_.add_css_class("orvik-logo-fallback");
    logoFallback_.add_css_class(mode);
    column_.append(logoFallback_);
  }
  spinner_.set_content_width(46);
  spinner_.set_content_height(46);
  spinner_.set_halign(Gtk::Align::CENTER);
  spinner_.set_draw_func(sigc::mem_fun(*this, &LoadingOverlayView::drawSpinner));
  column_.append(spinner_);
  status_.add_css_class("orvik-loading-status");
  status_.add_css_class(mode);
  status_.set_xalign(0.0);
  status_.set_size_request(80, -1);
  status_.set_halign(Gtk::Align::CENTER);
  column_.append(status_);
  column_.set_margin(40);
  centre(column_);
  add_overlay(column_);

  seconds_ = animationSeconds();
  status_.set_text(overlay_motion::loadingText(seconds_));
  // Every frame is computed from the time; nothing runs once the cover is gone.
  tick_ = add_tick_callback(sigc::mem_fun(*this, &LoadingOverlayView::onTick));
}

LoadingOverlayView::~LoadingOverlayView() {
  if (tick_) remove_tick_callback(tick_);
}

bool LoadingOverlayView::onTick(const Glib::RefPtr<Gdk::FrameClock>&) {
  seconds_ = animationSeconds();
  status_.set_text(overlay_motion::loadingText(seconds_));
  if (logo_.get_parent()) logo_.set_size_request(static_cast<int>(250 * overlay_motion::logoScale(seconds_)), -1);
  background_.queue_draw();
  spinner_.queue_draw();
  return true;
}

void LoadingOverlayView::drawBackground(const Cairo::RefPtr<Cairo::Context>& cr, int width, int height) {
  const auto& colours = isDarkMode_ ? kDarkGradient : kLightGradient;
  auto gradient = Cairo::LinearGradient::create(0, 0, width, height);
  for (int i = 0; i < 3; ++i) gradient->add_color_stop_rgb(i / 2.0, colours[i].r, colours[i].g, colours[i].b);
  cr->set_source(gradient);
  cr->paint();
  const auto [x, y] = overlay_motion::glowCentre(seconds_);
  auto glow = Cairo::RadialGradient::create(x * width, y * height, 0, x * width, y * height, 440);
  glow->add_color_stop_rgba(0, kAccent.r, kAccent.g, kAccent.b, isDarkMode_ ? 0.3 : 0.18);
  glow->add_color_stop_rgba(1, kAccent.r, kAccent.g, kAccent.b, 0);
  cr->set_source(glow);
  cr->set_operator(Cairo::Context::Operator::ADD);  // the glow lightens what lies under it
  cr->paint();
}

void LoadingOverlayView::drawSpinner(const Cairo::RefPtr<Cairo::Context>& cr, int width, int height) {
  const double scale = overlay_motion::spinnerScale(seconds_);
  cr->translate(width / 2.0, height / 2.0);
  cr->scale(scale, scale);
  const double radius = 46 / 2.0 - 2.5;
  const double track = isDarkMode_ ? 1.0 : 0.0;
  cr->set_line_width(5);
  cr->set_line_cap(Cairo::Context::LineCap::BUTT);
  cr->set_source_rgba(track, track, track, 0.08);
  cr->arc(0, 0, radius, 0, 2 * M_PI);
  cr->stroke();
  cr->rotate(overlay_motion::spinnerDegrees(seconds_) * M_PI / 180.0);
  // The arc's angular gradient (accent clear → accent → light accent), drawn
  // as short segments; a wider, fainter pass under it stands for the blur.
  constexpr int kSegments = 48;
  const double sweep = 0.85 * 2 * M_PI;
  for (int pass = 0; pass < 2; ++pass) {
    cr->set_line_width(pass == 0 ? 9 : 5);
    cr->set_line_cap(Cairo::Context::LineCap::ROUND);
    for (int i = 0; i < kSegments; ++i) {
      const double f = static_cast<double>(i) / kSegments;
      const Rgb colour = f < 0.5 ? kAccent
                                 : Rgb{kAccent.r + (kAccentLight.r - kAccent.r) * (f - 0.5) * 2,
                                       kAccent.g + (kAccentLight.g - kAccent.g) * (f - 0.5) * 2,
                                       kAccent.b + (kAccentLight.b - kAccent.b) * (f - 0.5) * 2};
      const double alpha = std::min(1.0, f * 2) * (pass == 0 ? 0.7 * 0.15 : 1.0);
      cr->set_source_rgba(colour.r, colour.g, colour.b, alpha);
      cr->arc(0, 0, radius, sweep * f, sweep * (f + 1.0 / kSegments));
      cr->stroke();
    }
  }
}

// ---------------------------------------------------------------- offline

OfflineOverlayView::OfflineOverlayView(std::function<void()> onRetry, bool isConnected) : onRetry_(std::move(onRetry)) {
  installStyle();
  fill(*this);
  background_.set_draw_func([](const Cairo::RefPtr<Cairo::Context>& cr, int, int) {
    cr->set_source_rgb(kOfflineBackground.r, kOfflineBackground.g, kOfflineBackground.b);
    cr->paint();
  });
  fill(background_);
  set_child(background_);

  pulse_.set_content_width(115);
  pulse_.set_content_height(115);
  pulse_.set_draw_func([this](const Cairo::RefPtr<Cairo::Context>& cr, int width, int height) {
    // 1.0 → 1.15 and back, ease-in-out over 1.8 s each way.
    const double phase = std::fmod(seconds_, 3.6) / 1.8;
    const double linear = phase <= 1.0 ? phase : 2.0 - phase;
    const double eased = 0.5 - 0.5 * std::cos(linear * M_PI);
    const double outer = 50 * (1.0 + 0.15 * eased);
    cr->set_source_rgba(kOfflineAccent.r, kOfflineAccent.g, kOfflineAccent.b, 0.08);
    cr->arc(width / 2.0, height / 2.0, outer, 0, 2 * M_PI);
    cr->fill();
    cr->set_source_rgba(kOfflineAccent.r, kOfflineAccent.g, kOfflineAccent.b, 0.14);
    cr->arc(width / 2.0, height / 2.0, 36, 0, 2 * M_PI);
    cr->fill();
  });
  iconStack_.set_child(pulse_);
  icon_.set_from_icon_name(kNoNetworkIcon);
  icon_.set_pixel_size(28);
  icon_.add_css_class("orvik-offline-icon");
  centre(icon_);
  iconStack_.add_overlay(icon_);
  iconStack_.set_halign(Gtk::Align::CENTER);
  iconStack_.set_margin_bottom(28);
  column_.append(iconStack_);

  title_.set_text("No Connection");
  title_.add_css_class("orvik-offline-title");
  title_.set_margin_bottom(8);
  column_.append(title_);
  subtitle_.add_css_class("orvik-offline-subtitle");
  subtitle_.set_justify(Gtk::Justification::CENTER);
  subtitle_.set_wrap(true);
  subtitle_.set_margin_start(40);
  subtitle_.set_margin_end(40);
  subtitle_.set_margin_bottom(36);
  column_.append(subtitle_);

  buttonIcon_.set_from_icon_name(kReloadIcon);
  buttonBox_.append(buttonIcon_);
  buttonBox_.append(buttonLabel_);
  button_.set_child(buttonBox_);
  button_.add_css_class("orvik-offline-button");
  button_.set_halign(Gtk::Align::CENTER);
  button_.signal_clicked().connect([this] {
    if (onRetry_) onRetry_();
  });
  column_.append(button_);
  centre(column_);
  add_overlay(column_);
  setConnected(isConnected);

  seconds_ = animationSeconds();
  tick_ = add_tick_callback(sigc::mem_fun(*this, &OfflineOverlayView::onTick));
}

OfflineOverlayView::~OfflineOverlayView() {
  if (tick_) remove_tick_callback(tick_);
}

void OfflineOverlayView::setConnected(bool isConnected) {
  const auto texts = offlineTexts(isConnected);
  subtitle_.set_text(texts.subtitle);
  buttonLabel_.set_text(texts.button);
}

bool OfflineOverlayView::onTick(const Glib::RefPtr<Gdk::FrameClock>&) {
  seconds_ = animationSeconds();
  pulse_.queue_draw();
  return true;
}

// ---------------------------------------------------------------- toast

OfflineToastView::OfflineToastView() : Gtk::Box(Gtk::Orientation::HORIZONTAL, 6) {
  installStyle();
  icon_.set_from_icon_name(kNoNetworkIcon);
  icon_.set_pixel_size(12);
  label_.set_text("No internet");
  append(icon_);
  append(label_);
  add_css_class("orvik-toast");
  set_halign(Gtk::Align::CENTER);
  set_valign(Gtk::Align::START);
  set_margin_top(16);
  set_can_target(false);
}

// ---------------------------------------------------------------- error

ErrorOverlayView::ErrorOverlayView(const std::string& message, std::function<void()> onRetry)
    : onRetry_(std::move(onRetry)) {
  installStyle();
  fill(*this);
  dim_.set_draw_func([](const Cairo::RefPtr<Cairo::Context>& cr, int, int) {
    cr->set_source_rgba(0, 0, 0, 0.7);
    cr->paint();
  });
  fill(dim_);
  set_child(dim_);

  icon_.set_from_icon_name(kNetworkErrorIcon);
  icon_.set_pixel_size(40);
  icon_.add_css_class("orvik-error-icon");
  card_.append(icon_);
  title_.set_text("Connection Error");
  title_.add_css_class("orvik-error-title");
  card_.append(title_);
  message_.set_text(message);
  message_.add_css_class("orvik-error-message");
  message_.set_justify(Gtk::Justification::CENTER);
  message_.set_wrap(true);
  message_.set_max_width_chars(48);
  card_.append(message_);
  buttonIcon_.set_from_icon_name(kReloadIcon);
  buttonLabel_.set_text("Retry");
  buttonBox_.append(buttonIcon_);
  buttonBox_.append(buttonLabel_);
  button_.set_child(buttonBox_);
  button_.add_css_class("orvik-error-button");
  button_.set_halign(Gtk::Align::CENTER);
  button_.signal_clicked().connect([this] {
    if (onRetry_) onRetry_();
  });
  card_.append(button_);
  card_.add_css_class("orvik-error-card");
  centre(card_);
  add_overlay(card_);
}

// ---------------------------------------------------------------- layer

WebOverlayLayer::WebOverlayLayer(Gtk::Overlay& overlay, std::shared_ptr<WebViewState> state,
                                 NetworkMonitor& networkMonitor, std::function<bool()> isDarkMode, Actions actions)
    : overlay_(overlay),
      state_(std::move(state)),
      networkMonitor_(networkMonitor),
      isDarkMode_(std::move(isDarkMode)),
      actions_(std::move(actions)) {
  if (!actions_.retry) actions_.retry = [state = std::weak_ptr<WebViewState>(state_)] {
    if (auto alive = state.lock()) alive->retry();
  };
  if (!actions_.reload) actions_.reload = [state = std::weak_ptr<WebViewState>(state_)] {
    if (auto alive = state.lock()) {
      alive->setErrorMessage(std::nullopt);
      alive->setLoading(true);
      alive->reload();
    }
  };
  stateObserver_ = state_->addObserver([this] { update(); });
  networkObserver_ = networkMonitor_.addObserver([this](bool) { update(); });
  shown_.main = MainOverlay::none;
  update();
}

WebOverlayLayer::~WebOverlayLayer() {
  stateObserver_.reset();
  networkObserver_.reset();
  if (main_) overlay_.remove_overlay(*main_);
  if (toast_) overlay_.remove_overlay(*toast_);
}

void WebOverlayLayer::update() {
  const bool connected = networkMonitor_.isConnected();
  const auto wanted =
      selectOverlays(state_->isLoading(), state_->isOffline(), state_->errorMessage().has_value(), connected);
  const bool rebuild = !main_ || wanted.main != shown_.main ||
                       (wanted.main == MainOverlay::error && state_->errorMessage() != shownMessage_);
  if (rebuild) {
    if (main_) overlay_.remove_overlay(*main_);
    main_.reset();
    switch (wanted.main) {
      case MainOverlay::loading:
        main_ = std::make_unique<LoadingOverlayView>(isDarkMode_ ? isDarkMode_() : true);
        break;
      case MainOverlay::offline:
        main_ = std::make_unique<OfflineOverlayView>(actions_.retry, connected);
        break;
      case MainOverlay::error:
        main_ = std::make_unique<ErrorOverlayView>(*state_->errorMessage(), actions_.reload);
        break;
      case MainOverlay::none:
        break;
    }
    if (main_) overlay_.add_overlay(*main_);
    shownMessage_ = state_->errorMessage();
  } else if (auto* offline = dynamic_cast<OfflineOverlayView*>(main_.get())) {
    offline->setConnected(connected);
  }
  if (wanted.offlineToast && !toast_) {
    toast_ = std::make_unique<OfflineToastView>();
    overlay_.add_overlay(*toast_);
  } else if (!wanted.offlineToast && toast_) {
    overlay_.remove_overlay(*toast_);
    toast_.reset();
  }
  shown_ = wanted;
}

}  // namespace orvik
