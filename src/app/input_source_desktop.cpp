// The keyboard input source on Linux desktops: GNOME keeps the sources and the
// most recently used one in its settings, xkeyboard-config names each XKB
// layout's languages, and GDK reports the layout's direction when it changes.
#include <gdk/gdk.h>
#include <gio/gio.h>
#include <unicode/uloc.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app/keyboard_input_direction.h"
#include "platform/dispatch/task_queue.h"

namespace orvik {
namespace {

constexpr const char* kInputSourcesSchema = "org.gnome.desktop.input-sources";
constexpr const char* kXkbRules = "/usr/share/X11/xkb/rules/evdev.xml";

// ISO 639-2 (bibliographic and terminology) → ISO 639-1, from ICU's tables
// and the bibliographic codes xkeyboard-config uses for some languages.
std::string twoLetterLanguage(const std::string& code) {
  static const std::map<std::string, std::string> table = [] {
    std::map<std::string, std::string> map = {
        {"alb", "sq"}, {"arm", "hy"}, {"baq", "eu"}, {"bur", "my"}, {"chi", "zh"}, {"cze", "cs"}, {"dut", "nl"},
        {"fre", "fr"}, {"geo", "ka"}, {"ger", "de"}, {"gre", "el"}, {"ice", "is"}, {"mac", "mk"}, {"mao", "mi"},
        {"may", "ms"}, {"per", "fa"}, {"rum", "ro"}, {"slo", "sk"}, {"tib", "bo"}, {"wel", "cy"}};
    for (const char* const* two = uloc_getISOLanguages(); two && *two; ++two) {
      const char* three = uloc_getISO3Language(*two);
      if (three && *three) map.emplace(three, *two);
    }
    return map;
  }();
  if (code.size() == 2) return code;
  auto found = table.find(code);
  return found == table.end() ? code : found->second;
}

// The languages xkeyboard-config lists for `layout`, two-letter where known.
std::vector<std::string> layoutLanguages(const std::string& layout) {
  std::ifstream file(kXkbRules);
  if (!file) return {};
  std::stringstream text;
  text << file.rdbuf();
  const std::string rules = text.str();
  const std::string nameTag = "<name>" + layout + "</name>";
  for (std::size_t at = rules.find("<layout>"); at != std::string::npos; at = rules.find("<layout>", at + 1)) {
    const std::size_t configEnd = rules.find("</configItem>", at);
    const std::size_t name = rules.find(nameTag, at);
    if (configEnd == std::string::npos || name == std::string::npos || name > configEnd) continue;
    std::vector<std::string> languages;
    const std::size_t listEnd = rules.find("</languageList>", at);
    for (std::size_t id = rules.find("<iso639Id>", at); id != std::string::npos && id < configEnd && id < listEnd;
         id = rules.find("<iso639Id>", id + 1)) {
      const std::size_t start = id + 10;
      const std::size_t end = rules.find("</iso639Id>", start);
      if (end == std::string::npos) break;
      languages.push_back(twoLetterLanguage(rules.substr(start, end - start)));
    }
    return languages;
  }
  return {};
}

class DesktopInputSource final : public InputSource {
 public:
  ~DesktopInputSource() override {
    if (settings_) g_object_unref(settings_);
    if (keyboard_ && directionHandler_) g_signal_handler_disconnect(keyboard_, directionHandler_);
  }

  std::vector<std::string> currentLanguages() const override {
    if (!settings_) return {};
    GVariant* sources = g_settings_get_value(settings_, "mru-sources");
    std::vector<std::string> languages;
    if (g_variant_n_children(sources) > 0) {
      const char* type = nullptr;
      const char* id = nullptr;
      g_variant_get_child(sources, 0, "(&s&s)", &type, &id);
      // "xkb" sources are layouts like "ara" or "us+intl"; input methods
      // ("ibus") name an engine with no language to read here.
      if (std::string_view(type) == "xkb") {
        std::string layout(id);
        layout = layout.substr(0, layout.find('+'));
        languages = layoutLanguages(layout);
      }
    }
    g_variant_unref(sources);
    return languages;
  }

  std::optional<bool> isRightToLeft() const override {
    if (!keyboard_) return std::nullopt;
    const PangoDirection direction = gdk_device_get_direction(keyboard_);
    if (direction == PANGO_DIRECTION_RTL) return true;
    if (direction == PANGO_DIRECTION_LTR) return false;
    return std::nullopt;
  }

  void start(std::function<void()> changed) override {
    changed_ = std::move(changed);
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    GSettingsSchema* schema = source ? g_settings_schema_source_lookup(source, kInputSourcesSchema, TRUE) : nullptr;
    if (schema) {
      if (g_settings_schema_has_key(schema, "mru-sources")) {
        settings_ = g_settings_new(kInputSourcesSchema);
        g_signal_connect(settings_, "changed::mru-sources", G_CALLBACK(onChanged), this);
      }
      g_settings_schema_unref(schema);
    }
    if (GdkDisplay* display = gdk_display_get_default()) {
      if (GdkSeat* seat = gdk_display_get_default_seat(display)) {
        keyboard_ = gdk_seat_get_keyboard(seat);
        if (keyboard_) {
          directionHandler_ = g_signal_connect(keyboard_, "notify::direction", G_CALLBACK(onChanged), this);
        }
      }
    }
  }

 private:
  static void onChanged(gpointer, gpointer, gpointer self) {
    auto* source = static_cast<DesktopInputSource*>(self);
    if (source->changed_) source->changed_();
  }

  std::function<void()> changed_;
  GSettings* settings_ = nullptr;
  GdkDevice* keyboard_ = nullptr;
  gulong directionHandler_ = 0;
};

}  // namespace

std::unique_ptr<InputSource> makeDesktopInputSource() { return std::make_unique<DesktopInputSource>(); }

}  // namespace orvik
