// GlassBackground: the backdrop the floating call controls and badges draw
// behind their content. GTK 4.8 cannot blur what lies behind a widget, so
// this is the dark glass tint alone, the same whether the window has the
// focus or not.
//
//   auto* glass = Gtk::make_managed<GlassBackground>(20.0);   // corner radius
//   overlay.set_child(*glass);
//
// Owner: its parent widget. THREAD-SAFETY: main thread only.
#pragma once

#include <gtkmm/box.h>

namespace orvik {

class GlassBackground : public Gtk::Box {
 public:
  // `cornerRadius`: how round its corners are (a capsule with half its height).
  explicit GlassBackground(double cornerRadius = 0);
};

}  // namespace orvik
