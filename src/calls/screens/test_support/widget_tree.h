// Looking at live GTK widget trees in tests: widgets by name, the texts a
// person sees, clicks, and a picture of a widget written to a PNG file for a
// person to look at (test-output/<suite>/ in the build tree).
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtkmm/widget.h>

namespace orvik::testing {

// Starts GTK for a test process once (the cairo renderer: Xvfb has no GL);
// false without a display.
bool startGtk();

// The first widget named `name` under `root` (root included), shown or not.
Gtk::Widget* findByName(Gtk::Widget& root, const std::string& name);
// Whether the widget and all its ancestors are visible.
bool isShown(const Gtk::Widget& widget);
// The texts of the shown labels under `root`, in tree order.
std::vector<std::string> shownTexts(Gtk::Widget& root);
// Names of the shown widgets under `root` whose name starts with `prefix`.
std::vector<std::string> shownNames(Gtk::Widget& root, const std::string& prefix);

// Clicks a button as the pointer would: its "clicked" runs now.
void click(Gtk::Widget* button);

// Runs the GLib main context until `done` or the time runs out.
bool iterateUntil(const std::function<bool()>& done, double seconds = 10.0);
// Lets the window lay out and draw (a few frames).
void settle(Gtk::Widget& widget);

// Renders `widget` as it is now and writes it to
// <build>/test-output/<suite>/<name>.png; the path written.
std::filesystem::path saveScreenshot(Gtk::Widget& widget, const std::string& suite, const std::string& name);

}  // namespace orvik::testing
