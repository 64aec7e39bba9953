// The "Update Installed" prompt: a modal card over the main window whose one
// button, "Quit & Relaunch", quits the program so that the installer can open
// the new version. It has no other way out: closing the window is refused.
//
//   RelaunchPrompt::show(mainWindow, theme.isDarkMode(), [&app] { app.requestTermination(); });
//
// One prompt at a time: showing another replaces the one on screen.
// THREAD-SAFETY: main thread only.
#pragma once

#include <functional>

namespace Gtk {
class Button;
class Window;
}  // namespace Gtk

namespace orvik {

class RelaunchPrompt {
 public:
  static constexpr const char* kTitle = "Update Installed";
  static constexpr const char* kMessage =
      "Orvik has been updated to the latest version. Quit now and the new version will open automatically.";
  static constexpr const char* kQuitLabel = "Quit & Relaunch";

  // Shows the prompt, modal for `parent` when given; returns at once (GTK has
  // no nested modal loop), the quit action runs `onQuit` later.
  static void show(Gtk::Window* parent, bool isDarkMode, std::function<void()> onQuit);
  // The prompt on screen, and its button; null when none.
  static Gtk::Window* current();
  static Gtk::Button* quitButton();
};

}  // namespace orvik
