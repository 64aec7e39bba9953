#include "viewers/viewer_click_blocker_gtk.h"

#include <utility>

namespace orvik {
namespace {

constexpr const char* kCoverName = "orvik-viewer-click-blocker";

class GtkBlockerSurface final : public BlockerSurface {
 public:
  explicit GtkBlockerSurface(std::function<Gtk::Overlay*()> overlay) : overlay_(std::move(overlay)) {}
  ~GtkBlockerSurface() override { hide(); }

  void show(std::function<void()> onClick) override {
    hide();
    Gtk::Overlay* overlay = overlay_ ? overlay_() : nullptr;
    if (!overlay) return;
    cover_ = Gtk::make_managed<Gtk::Box>();
    cover_->set_name(kCoverName);
    cover_->set_hexpand(true);
    cover_->set_vexpand(true);
    cover_->set_can_target(true);
    auto click = Gtk::GestureClick::create();
    click->set_button(0);  // every button
    click->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
    click->signal_pressed().connect([click = click.get(), onClick = std::move(onClick)](int, double, double) {
      click->set_state(Gtk::EventSequenceState::CLAIMED);
      // Not inside the press: the dismissal removes this very cover.
      Glib::signal_idle().connect_once(onClick);
    });
    cover_->add_controller(click);
    overlay->add_overlay(*cover_);
    overlay_widget_ = overlay;
  }

  void hide() override {
    if (cover_ && overlay_widget_) overlay_widget_->remove_overlay(*cover_);
    cover_ = nullptr;
    overlay_widget_ = nullptr;
  }

 private:
  std::function<Gtk::Overlay*()> overlay_;
  Gtk::Overlay* overlay_widget_ = nullptr;
  Gtk::Box* cover_ = nullptr;
};

// Watches every toplevel's "is-active"; focus moving between two windows of
// the program passes through a moment with neither active, so the check
// waits for the main loop to settle.
class FocusWatch {
 public:
  explicit FocusWatch(ViewerClickBlocker& blocker) : blocker_(blocker) {
    auto toplevels = Gtk::Window::get_toplevels();
    connection_ = toplevels->signal_items_changed().connect([this](guint, guint, guint) { watchAll(); });
    toplevels_ = toplevels;
    watchAll();
  }
  ~FocusWatch() {
    connection_.disconnect();
    for (auto& watched : watched_) watched.disconnect();
    pending_.disconnect();
  }

 private:
  void watchAll() {
    for (auto& watched : watched_) watched.disconnect();
    watched_.clear();
    for (guint i = 0; i < toplevels_->get_n_items(); ++i) {
      auto window = std::dynamic_pointer_cast<Gtk::Window>(toplevels_->get_object(i));
      if (!window) continue;
      watched_.push_back(window->property_is_active().signal_changed().connect([this] { schedule(); }));
    }
  }
  void schedule() {
    pending_.disconnect();
    pending_ = Glib::signal_timeout().connect(
        [this] {
          if (!blocker_.isCovering()) return false;
          for (Gtk::Window* window : Gtk::Window::list_toplevels()) {
            if (window->is_active()) return false;
          }
          blocker_.applicationDeactivated();
          return false;
        },
        100);
  }

  ViewerClickBlocker& blocker_;
  Glib::RefPtr<Gio::ListModel> toplevels_;
  sigc::connection connection_;
  std::vector<sigc::connection> watched_;
  sigc::connection pending_;
};

}  // namespace

std::unique_ptr<BlockerSurface> makeGtkBlockerSurface(std::function<Gtk::Overlay*()> overlay) {
  return std::make_unique<GtkBlockerSurface>(std::move(overlay));
}

std::shared_ptr<void> watchApplicationFocus(ViewerClickBlocker& blocker) {
  return std::make_shared<FocusWatch>(blocker);
}

}  // namespace orvik
