#include <gtkmm.h>

#include <string>

#include "core/native_logger.h"
#include "files/share_menu.h"
#include "platform/dispatch/task_queue.h"

namespace orvik {
namespace {

constexpr const char* kMenuName = "orvik-share-menu";

Gtk::Window* activeWindow(const std::function<Gtk::Window*()>& mainWindow) {
  for (Gtk::Window* window : Gtk::Window::list_toplevels()) {
    if (window && window->is_visible() && window->is_active()) return window;
  }
  Gtk::Window* main = mainWindow ? mainWindow() : nullptr;
  return main && main->is_visible() ? main : nullptr;
}

// The pointer in `widget`'s coordinates, when it lies inside the widget.
std::optional<Gdk::Rectangle> pointerIn(Gtk::Window& window, Gtk::Widget& widget) {
  auto surface = window.get_surface();
  auto display = window.get_display();
  auto seat = display ? display->get_default_seat() : nullptr;
  auto pointer = seat ? seat->get_pointer() : nullptr;
  if (!surface || !pointer) return std::nullopt;
  double x = 0, y = 0;
  Gdk::ModifierType mask{};
  if (!surface->get_device_position(pointer, x, y, mask)) return std::nullopt;
  double offsetX = 0, offsetY = 0;
  window.get_surface_transform(offsetX, offsetY);
  double localX = 0, localY = 0;
  if (!window.translate_coordinates(widget, x - offsetX, y - offsetY, localX, localY)) return std::nullopt;
  if (localX < 0 || localY < 0 || localX >= widget.get_width() || localY >= widget.get_height()) return std::nullopt;
  return Gdk::Rectangle(static_cast<int>(localX), static_cast<int>(localY), 1, 1);
}

class GtkShareMenu final : public ShareMenu {
 public:
  explicit GtkShareMenu(std::function<Gtk::Window*()> mainWindow) : mainWindow_(std::move(mainWindow)) {}

  bool present(ShareMenuActions actions) override {
    Gtk::Window* window = activeWindow(mainWindow_);
    Gtk::Widget* anchor = window ? window->get_child() : nullptr;
    if (!anchor) return false;
    auto* popover = new Gtk::Popover();
    popover->set_name(kMenuName);
    popover->set_has_arrow(false);
    popover->set_position(Gtk::PositionType::BOTTOM);
    auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 0);
    const std::pair<std::string_view, std::function<void()>> items[] = {
        {kCopyImage, std::move(actions.copyImage)},
        {kOpenWith, std::move(actions.openWith)},
        {kSaveAs, std::move(actions.saveAs)},
    };
    for (const auto& [label, action] : items) {
      auto* button = Gtk::make_managed<Gtk::Button>(std::string(label));
      button->set_has_frame(false);
      button->signal_clicked().connect([popover, action = action] {
        popover->popdown();
        // After the menu has gone, so a chooser it opens gets the focus.
        if (action) platform::mainQueue().post(action);
      });
      box->append(*button);
    }
    popover->set_child(*box);
    popover->set_parent(*anchor);
    const auto at = pointerIn(*window, *anchor);
    popover->set_pointing_to(at ? *at
                                : Gdk::Rectangle(anchor->get_width() / 2, anchor->get_height() / 2, 1, 1));
    popover->signal_closed().connect([popover] {
      platform::mainQueue().post([popover] {
        popover->unparent();
        delete popover;
      });
    });
    popover->popup();
    return true;
  }

  void chooseApplication(const std::filesystem::path& file) override {
    Gtk::Window* window = activeWindow(mainWindow_);
    auto gioFile = Gio::File::create_for_path(file.string());
    auto* dialog = window ? new Gtk::AppChooserDialog(gioFile, *window) : nullptr;
    if (!dialog) {
      nativeLog("[Share] no window to choose an application from");
      return;
    }
    dialog->signal_response().connect([dialog, gioFile](int response) {
      if (response == Gtk::ResponseType::OK) {
        if (auto app = dialog->get_app_info()) {
          try {
            app->launch(gioFile);
          } catch (const Glib::Error& error) {
            nativeLog("[Share] could not open the image: " + std::string(error.what()));
          }
        }
      }
      dialog->hide();
      platform::mainQueue().post([dialog] { delete dialog; });
    });
    dialog->set_modal(true);
    dialog->show();
  }

 private:
  std::function<Gtk::Window*()> mainWindow_;
};

}  // namespace

std::unique_ptr<ShareMenu> makeGtkShareMenu(std::function<Gtk::Window*()> mainWindow) {
  return std::make_unique<GtkShareMenu>(std::move(mainWindow));
}

}  // namespace orvik
