// CallIcon: the icon of the call buttons and badges. Every symbol name the
// call screens use has a symbolic SVG of ours in the program's resources;
// GTK tints it with the colour given. The eight call symbols keep their
// resource names ("microphone.fill" is "call_mic_fill").
//
//   auto* icon = Gtk::make_managed<CallIcon>("phone.down.fill", 20, Rgba::white());
//
// Owner: its parent widget. THREAD-SAFETY: main thread only.
#pragma once

#include <optional>
#include <string>

#include <gtkmm/image.h>

#include "calls/screens/call_colors.h"

namespace orvik {

class CallIcon : public Gtk::Image {
 public:
  CallIcon(const std::string& symbol, int size, const Rgba& colour);

  void setSymbol(const std::string& symbol);
  void setColour(const Rgba& colour);
  const std::string& symbol() const { return symbol_; }

  // The resource image of one of the eight call symbols; nothing for others.
  static std::optional<std::string> resourceImageFor(const std::string& symbol);
  // The icon name GTK looks up for a symbol ("call_mic_fill-symbolic",
  // "sym_clock_fill-symbolic").
  static std::string iconNameFor(const std::string& symbol);
  // Registers the icons with the display's icon theme; done by every
  // CallIcon, and safe to call again.
  static void registerIcons();

 private:
  std::string symbol_;
};

}  // namespace orvik
