// Looking at live GTK widget trees in tests: widgets by name, the texts a
// person sees, clicks, the pixels of a widget as drawn, and a picture of a
// widget written to a PNG file for a person to look at (test-output/<suite>/
// in the build tree).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtkmm/widget.h>

#include "calls/media/colour_bars.h"

typedef struct _GdkTexture GdkTexture;

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

// A widget as drawn now, downloaded from its renderer (not valid when the
// widget has no size or no window yet).
class WidgetPicture {
 public:
  explicit WidgetPicture(Gtk::Widget& widget);
  ~WidgetPicture();
  WidgetPicture(WidgetPicture&& other) noexcept;
  WidgetPicture& operator=(WidgetPicture&& other) noexcept;

  bool valid() const { return !pixels_.empty(); }
  int width() const { return width_; }
  int height() const { return height_; }
  // The colour at a point inside the picture (downloads are B, G, R, A).
  BarColour at(double x, double y) const;
  // Writes the picture as a PNG file, making its folder; false when invalid.
  bool save(const std::filesystem::path& file) const;

 private:
  int width_ = 0;
  int height_ = 0;
  GdkTexture* texture_ = nullptr;
  std::vector<std::uint8_t> pixels_;
};

// How far apart two colours are (the sum of the channels' differences), and
// which of the colour bars (calls/media/colour_bars.h) a colour is nearest.
int colourDistance(BarColour a, BarColour b);
int nearestBar(BarColour colour);

}  // namespace orvik::testing
