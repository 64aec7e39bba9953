#include "calls/screens/call_icon.h"

#include <algorithm>
#include <map>

#include <gtk/gtk.h>

#include "calls/screens/call_screen_css.h"

extern "C" {
void orvik_call_icons_register_resource(void);
}

namespace orvik {
namespace {

constexpr const char* kIconPath = "/com/orvik/desk/call-icons";

const std::map<std::string, std::string>& symbolTable() {
  static const std::map<std::string, std::string> table = {
      {"microphone.fill", "call_mic_fill"},      {"microphone.slash.fill", "call_mic_slash"},
      {"video.fill", "call_video_fill"},         {"video.slash.fill", "call_video_slash"},
      {"speaker.wave.3.fill", "call_speaker_on"}, {"speaker.slash.fill", "call_speaker_off"},
      {"phone.fill", "call_phone"},              {"phone.down.fill", "call_phone_down"},
  };
  return table;
}

}  // namespace

std::optional<std::string> CallIcon::resourceImageFor(const std::string& symbol) {
  const auto& table = symbolTable();
  const auto found = table.find(symbol);
  if (found == table.end()) return std::nullopt;
  return found->second;
}

std::string CallIcon::iconNameFor(const std::string& symbol) {
  if (auto resource = resourceImageFor(symbol)) return *resource + "-symbolic";
  std::string name = "sym_" + symbol;
  std::replace(name.begin(), name.end(), '.', '_');
  return name + "-symbolic";
}

void CallIcon::registerIcons() {
  static bool registered = false;
  if (!registered) {
    registered = true;
    orvik_call_icons_register_resource();
  }
  GdkDisplay* display = gdk_display_get_default();
  if (!display) return;
  GtkIconTheme* theme = gtk_icon_theme_get_for_display(display);
  if (g_object_get_data(G_OBJECT(theme), kIconPath)) return;
  g_object_set_data(G_OBJECT(theme), kIconPath, GINT_TO_POINTER(1));
  gtk_icon_theme_add_resource_path(theme, kIconPath);
}

CallIcon::CallIcon(const std::string& symbol, int size, const Rgba& colour) {
  registerIcons();
  set_pixel_size(size);
  setSymbol(symbol);
  setColour(colour);
  set_can_target(false);
}

void CallIcon::setSymbol(const std::string& symbol) {
  if (symbol == symbol_) return;
  symbol_ = symbol;
  set_from_icon_name(iconNameFor(symbol));
}

void CallIcon::setColour(const Rgba& colour) { setWidgetCss(*this, "image { color: " + cssColor(colour) + "; }"); }

}  // namespace orvik
