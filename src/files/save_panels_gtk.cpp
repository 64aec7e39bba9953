#include <gtkmm.h>

#include "files/save_panels.h"
#include <algorithm>
#include <vector>

#include "platform/dispatch/task_queue.h"
#include "platform/lifetime_token.h"

namespace orvik {
namespace {

bool isMinimized(Gtk::Window& window) {
  GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(window.gobj()));
  return surface && GDK_IS_TOPLEVEL(surface) &&
         (gdk_toplevel_get_state(GDK_TOPLEVEL(surface)) & GDK_TOPLEVEL_STATE_MINIMIZED) != 0;
}

class GtkSavePanels final : public SavePanels {
 public:
  explicit GtkSavePanels(std::function<Gtk::Window*()> mainWindow) : mainWindow_(std::move(mainWindow)) {}

  ~GtkSavePanels() override {
    for (auto& chooser : open_) chooser->hide();
  }

  void showSavePanel(const SavePanelRequest& request, PanelCompletion completion) override {
    auto chooser = Gtk::FileChooserNative::create("Save", Gtk::FileChooser::Action::SAVE, "_Save", "_Cancel");
    chooser->set_current_name(request.suggestedName);
    present(chooser, request.folder, request.window, std::move(completion));
  }

  void showFolderPanel(const FolderPanelRequest& request, PanelCompletion completion) override {
    auto chooser = Gtk::FileChooserNative::create(request.message, Gtk::FileChooser::Action::SELECT_FOLDER,
                                                  request.acceptLabel, "_Cancel");
    chooser->set_create_folders(true);
    chooser->set_select_multiple(false);
    present(chooser, request.folder, nullptr, std::move(completion));
  }

  // A native chooser (the portal's) cannot be raised from here; the
  // parent window is, so the user sees where the chooser belongs.
  void raisePanel() override {
    if (open_.empty()) return;
    if (auto* parent = open_.back()->get_transient_for()) parent->present();
  }

 private:
  // The chooser is modal for the first of the caller's window and the main
  // window that is on screen; with neither it stands on its own.
  Gtk::Window* parentFor(Gtk::Window* window) const {
    for (Gtk::Window* candidate : {window, mainWindow_ ? mainWindow_() : nullptr}) {
      if (candidate && candidate->get_visible() && !isMinimized(*candidate)) return candidate;
    }
    return nullptr;
  }

  void present(const Glib::RefPtr<Gtk::FileChooserNative>& chooser, const std::optional<std::filesystem::path>& folder,
               Gtk::Window* window, PanelCompletion completion) {
    if (folder) {
      try {
        chooser->set_current_folder(Gio::File::create_for_path(folder->string()));
      } catch (const Glib::Error&) {
        // The chooser opens in its own default folder.
      }
    }
    if (Gtk::Window* parent = parentFor(window)) {
      chooser->set_transient_for(*parent);
      chooser->set_modal(true);
    }
    open_.push_back(chooser);
    // The chooser is kept in open_ (not in its own handler, which would keep
    // it alive for ever) until its answer has been handed on.
    Gtk::FileChooserNative* raw = chooser.get();
    auto onResponse = [weak = lifetime_.weak(this), raw, completion = std::move(completion)](int response) {
      std::optional<std::filesystem::path> chosen;
      if (response == Gtk::ResponseType::ACCEPT) {
        if (auto file = raw->get_file()) {
          if (auto path = file->get_path(); !path.empty()) chosen = std::filesystem::path(path);
        }
      }
      platform::mainQueue().post([weak, raw, completion, chosen] {
        if (auto* self = weak.get()) {
          std::erase_if(self->open_, [raw](const auto& open) { return open.get() == raw; });
        }
        completion(chosen);
      });
    };
    raw->signal_response().connect(std::move(onResponse));
    chooser->show();
  }

  std::function<Gtk::Window*()> mainWindow_;
  std::vector<Glib::RefPtr<Gtk::FileChooserNative>> open_;
  platform::LifetimeToken lifetime_;  // last member: goes first
};

}  // namespace

std::unique_ptr<SavePanels> makeGtkSavePanels(std::function<Gtk::Window*()> mainWindow) {
  return std::make_unique<GtkSavePanels>(std::move(mainWindow));
}

}  // namespace orvik
