// The overlays the main window lays over the web view while the page is not
// usable: the loading cover (gradient, moving glow, logo, spinner and
// "Loading…" text, every frame a pure function of the time), the offline
// cover with its Retry/Reload button, the "No internet" pill shown while the
// page stays visible, and the error card with its Retry button.
//
// WebOverlayLayer puts the right ones on a Gtk::Overlay from WebViewState and
// the network monitor; the overlays never touch the web view themselves, they
// only call the actions they were given.
//
// Owner: the main window's view. THREAD-SAFETY: main thread only.
#pragma once

#include <gtkmm.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/observer_list.h"

namespace orvik {

class NetworkMonitor;
class WebViewState;

// Which overlays show for a load state and connectivity.
enum class MainOverlay { none, loading, offline, error };
struct OverlaySelection {
  MainOverlay main = MainOverlay::none;
  bool offlineToast = false;
};
OverlaySelection selectOverlays(bool isLoading, bool isOffline, bool hasErrorMessage, bool isConnected);

namespace overlay_motion {
// "Loading" and one to three full stops, advancing 1.8 times a second.
std::string loadingText(double seconds);
// The glow's centre in unit coordinates of the overlay.
std::pair<double, double> glowCentre(double seconds);
// The spinner's rotation in degrees (a turn every 1.15 s) and its scale.
double spinnerDegrees(double seconds);
double spinnerScale(double seconds);
double logoScale(double seconds);
}  // namespace overlay_motion

// The offline cover's texts, which follow connectivity while it shows.
struct OfflineTexts {
  std::string subtitle;
  std::string button;
};
OfflineTexts offlineTexts(bool isConnected);

// Each cover fills the window: a cairo-drawn background under centred content.
class LoadingOverlayView : public Gtk::Overlay {
 public:
  explicit LoadingOverlayView(bool isDarkMode);
  ~LoadingOverlayView() override;
  const Gtk::Label& status() const { return status_; }
  // The logo image when it could be read, else null (the name is shown).
  Glib::RefPtr<const Gdk::Paintable> logo() const {
    return logo_.get_parent() ? logo_.get_paintable() : Glib::RefPtr<const Gdk::Paintable>();
  }

 private:
  void drawBackground(const Cairo::RefPtr<Cairo::Context>& cr, int width, int height);
  void drawSpinner(const Cairo::RefPtr<Cairo::Context>& cr, int width, int height);
  bool onTick(const Glib::RefPtr<Gdk::FrameClock>& clock);

  bool isDarkMode_;
  Gtk::DrawingArea background_;
  Gtk::Box column_{Gtk::Orientation::VERTICAL, 34};
  Gtk::Picture logo_;
  Gtk::Label logoFallback_;
  Gtk::DrawingArea spinner_;
  Gtk::Label status_;
  double seconds_ = 0;
  guint tick_ = 0;
};

class OfflineOverlayView : public Gtk::Overlay {
 public:
  OfflineOverlayView(std::function<void()> onRetry, bool isConnected);
  ~OfflineOverlayView() override;
  // Follows connectivity without being rebuilt.
  void setConnected(bool isConnected);
  const Gtk::Label& subtitle() const { return subtitle_; }
  const Gtk::Label& buttonLabel() const { return buttonLabel_; }
  Gtk::Button& button() { return button_; }

 private:
  bool onTick(const Glib::RefPtr<Gdk::FrameClock>& clock);

  std::function<void()> onRetry_;
  Gtk::DrawingArea background_;
  Gtk::Box column_{Gtk::Orientation::VERTICAL, 0};
  Gtk::Overlay iconStack_;
  Gtk::DrawingArea pulse_;
  Gtk::Image icon_;
  Gtk::Label title_;
  Gtk::Label subtitle_;
  Gtk::Button button_;
  Gtk::Box buttonBox_{Gtk::Orientation::HORIZONTAL, 7};
  Gtk::Image buttonIcon_;
  Gtk::Label buttonLabel_;
  double seconds_ = 0;
  guint tick_ = 0;
};

class OfflineToastView : public Gtk::Box {
 public:
  OfflineToastView();

 private:
  Gtk::Image icon_;
  Gtk::Label label_;
};

class ErrorOverlayView : public Gtk::Overlay {
 public:
  ErrorOverlayView(const std::string& message, std::function<void()> onRetry);
  const Gtk::Label& message() const { return message_; }
  Gtk::Button& button() { return button_; }

 private:
  std::function<void()> onRetry_;
  Gtk::DrawingArea dim_;
  Gtk::Box card_{Gtk::Orientation::VERTICAL, 20};
  Gtk::Image icon_;
  Gtk::Label title_;
  Gtk::Label message_;
  Gtk::Button button_;
  Gtk::Box buttonBox_{Gtk::Orientation::HORIZONTAL, 6};
  Gtk::Image buttonIcon_;
  Gtk::Label buttonLabel_;
};

// Keeps the overlays on `overlay` in step with the load state and the network.
class WebOverlayLayer {
 public:
  struct Actions {
    std::function<void()> retry;   // offline cover
    std::function<void()> reload;  // error card
  };
  WebOverlayLayer(Gtk::Overlay& overlay, std::shared_ptr<WebViewState> state, NetworkMonitor& networkMonitor,
                  std::function<bool()> isDarkMode, Actions actions);
  ~WebOverlayLayer();
  WebOverlayLayer(const WebOverlayLayer&) = delete;
  WebOverlayLayer& operator=(const WebOverlayLayer&) = delete;

  const OverlaySelection& shown() const { return shown_; }
  Gtk::Widget* mainOverlay() const { return main_.get(); }
  Gtk::Widget* toast() const { return toast_.get(); }

 private:
  void update();

  Gtk::Overlay& overlay_;
  std::shared_ptr<WebViewState> state_;
  NetworkMonitor& networkMonitor_;
  std::function<bool()> isDarkMode_;
  Actions actions_;
  OverlaySelection shown_;
  std::optional<std::string> shownMessage_;
  std::unique_ptr<Gtk::Widget> main_;
  std::unique_ptr<Gtk::Widget> toast_;
  platform::Subscription stateObserver_;
  platform::Subscription networkObserver_;
};

}  // namespace orvik
