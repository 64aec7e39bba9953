// The choosers through which the user picks where saved files go: a save
// chooser for one file and a folder chooser for several. The file helper
// decides what is asked and what happens with the answer; this only asks.
// Linux backend: Gtk::FileChooserNative (the desktop portal's chooser where
// there is one), transient for the first visible window it is given
// (save_panels_gtk.cpp).
// Test double: RecordingSavePanels (recording_save_panels.h).
// THREAD-SAFETY: main queue; completions run on the main queue, never inside
// the call that showed the chooser.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace Gtk {
class Window;
}  // namespace Gtk

namespace orvik {

struct SavePanelRequest {
  std::string suggestedName;
  // The folder the chooser starts in; its own default when none.
  std::optional<std::filesystem::path> folder;
  // The window the request came from (a viewer's), tried before the main
  // window as the chooser's parent; may be null.
  Gtk::Window* window = nullptr;
};

struct FolderPanelRequest {
  std::string message;
  std::string acceptLabel;
  std::optional<std::filesystem::path> folder;
};

// The chosen file or folder; none when the user cancelled.
using PanelCompletion = std::function<void(const std::optional<std::filesystem::path>& chosen)>;

class SavePanels {
 public:
  virtual ~SavePanels() = default;
  // Each completion is called exactly once, unless the chooser is destroyed
  // with the backend first.
  virtual void showSavePanel(const SavePanelRequest& request, PanelCompletion completion) = 0;
  virtual void showFolderPanel(const FolderPanelRequest& request, PanelCompletion completion) = 0;
  // Brings the open chooser to the user's attention.
  virtual void raisePanel() = 0;
};

// The GTK backend. `mainWindow` names the program's main window when there is
// one (null otherwise); it is asked each time a chooser opens.
std::unique_ptr<SavePanels> makeGtkSavePanels(std::function<Gtk::Window*()> mainWindow);

}  // namespace orvik
