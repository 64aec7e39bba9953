// Styling one widget of a call screen from what a presenter decided: CSS
// that applies to that widget only, replaced by the next call.
//
//   setWidgetCss(button, "button { background: " + cssColor(look.fill) + "; }");
//
// THREAD-SAFETY: main thread only.
#pragma once

#include <string>

namespace Gtk {
class Widget;
}  // namespace Gtk

namespace orvik {

// `css`: whole rules, whose selectors name the widget's own node ("button",
// "box", "label", "*"), so they match it and never its children.
void setWidgetCss(Gtk::Widget& widget, const std::string& css);

// "12.5px": a length as CSS reads it under any locale.
std::string cssPixels(double value);

}  // namespace orvik
