// The program's own share menu for an image: Linux has no system share sheet,
// so a small menu at the pointer offers what one would: copy the image, open
// it with another application, save it.
// Linux backend: a Gtk::Popover over the active window (share_menu_gtk.cpp),
// with Gtk::AppChooserDialog behind "Open With…".
// Test double: RecordingShareMenu (recording_share_menu.h).
// THREAD-SAFETY: main queue; actions run on the main queue after the menu
// has closed.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string_view>

namespace Gtk {
class Window;
}  // namespace Gtk

namespace orvik {

struct ShareMenuActions {
  std::function<void()> copyImage;
  std::function<void()> openWith;
  std::function<void()> saveAs;
};

class ShareMenu {
 public:
  static constexpr std::string_view kCopyImage = "Copy Image";
  static constexpr std::string_view kOpenWith = "Open With…";
  static constexpr std::string_view kSaveAs = "Save As…";

  virtual ~ShareMenu() = default;
  // Shows the menu at the pointer over the program's active window (the main
  // window when none is active), or in that window's middle when the pointer
  // is elsewhere. False, and nothing shown, when the program has no window.
  virtual bool present(ShareMenuActions actions) = 0;
  // Lets the user pick an application for `file` and opens it there.
  virtual void chooseApplication(const std::filesystem::path& file) = 0;
};

// `mainWindow` names the program's main window when there is one.
std::unique_ptr<ShareMenu> makeGtkShareMenu(std::function<Gtk::Window*()> mainWindow);

}  // namespace orvik
