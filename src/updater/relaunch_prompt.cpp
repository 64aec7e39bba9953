#include "updater/relaunch_prompt.h"

#include <memory>

#include <gtkmm.h>

namespace orvik {
namespace {

constexpr const char* kPromptStyle = R"(
.relaunch-card { border-radius: 22px; padding: 32px 30px; }
.relaunch-card.dark { background: linear-gradient(to bottom, rgb(41, 28, 71), rgb(18, 13, 36));
  border: 1px solid rgba(255, 255, 255, 0.14); }
.relaunch-card.light { background: linear-gradient(to bottom, rgb(247, 244, 255), white);
  border: 1px solid rgba(0, 0, 0, 0.08); }
.relaunch-badge { background: rgb(52, 199, 89); color: white; border-radius: 50%; min-width: 60px;
  min-height: 60px; font-size: 26px; font-weight: bold;
  box-shadow: 0 0 0 4px rgba(153, 122, 255, 0.5), 0 0 0 12px rgba(153, 122, 255, 0.18); }
.relaunch-title { font-size: 19px; font-weight: bold; }
.relaunch-message { font-size: 13px; }
.relaunch-card.dark .relaunch-title { color: white; }
.relaunch-card.dark .relaunch-message { color: rgba(255, 255, 255, 0.6); }
.relaunch-card.light .relaunch-title { color: rgb(26, 9, 55); }
.relaunch-card.light .relaunch-message { color: rgba(26, 9, 55, 0.6); }
.relaunch-quit { background: rgb(79, 70, 229); color: white; border-radius: 999px; padding: 7px 16px;
  font-size: 12.5px; font-weight: 600; border: none; box-shadow: none; }
.relaunch-quit:active { background: rgba(79, 70, 229, 0.75); }
)";

struct Prompt {
  std::unique_ptr<Gtk::Window> window;
  Gtk::Button* quit = nullptr;
};

// The process-wide slot of the prompt on screen.
Prompt& slot() {
  static Prompt prompt;
  return prompt;
}

void installStyleOnce() {
  static bool installed = false;
  auto display = Gdk::Display::get_default();
  if (installed || !display) return;
  installed = true;
  auto provider = Gtk::CssProvider::create();
  provider->load_from_data(kPromptStyle);
  Gtk::StyleContext::add_provider_for_display(display, provider, GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

}  // namespace

void RelaunchPrompt::show(Gtk::Window* parent, bool isDarkMode, std::function<void()> onQuit) {
  installStyleOnce();
  auto window = std::make_unique<Gtk::Window>();
  window->set_decorated(false);
  window->set_resizable(false);
  window->set_modal(true);
  window->set_default_size(340, -1);
  if (parent) window->set_transient_for(*parent);
  // Only the button ends the prompt.
  window->signal_close_request().connect([] { return true; }, false);

  auto* stack = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 20);
  stack->add_css_class("relaunch-card");
  stack->add_css_class(isDarkMode ? "dark" : "light");
  stack->set_size_request(340, -1);
  auto* badge = Gtk::make_managed<Gtk::Label>("✓");
  badge->add_css_class("relaunch-badge");
  badge->set_halign(Gtk::Align::CENTER);
  badge->set_margin_top(6 + 12);
  badge->set_margin_bottom(12);
  stack->append(*badge);
  auto* texts = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 8);
  auto* title = Gtk::make_managed<Gtk::Label>(kTitle);
  title->add_css_class("relaunch-title");
  auto* message = Gtk::make_managed<Gtk::Label>(kMessage);
  message->add_css_class("relaunch-message");
  message->set_wrap(true);
  message->set_max_width_chars(36);
  message->set_justify(Gtk::Justification::CENTER);
  message->set_margin_start(4);
  message->set_margin_end(4);
  texts->append(*title);
  texts->append(*message);
  stack->append(*texts);
  auto* quit = Gtk::make_managed<Gtk::Button>();
  auto* label = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
  label->set_halign(Gtk::Align::CENTER);
  label->append(*Gtk::make_managed<Gtk::Image>(Glib::ustring("view-refresh-symbolic")));
  label->append(*Gtk::make_managed<Gtk::Label>(kQuitLabel));
  quit->set_child(*label);
  quit->add_css_class("relaunch-quit");
  quit->set_hexpand(true);
  quit->set_margin_top(2);
  Gtk::Window* shown = window.get();
  quit->signal_clicked().connect([shown, onQuit = std::move(onQuit)] {
    // Only the prompt still in the slot is taken down; a replaced one is gone already.
    if (slot().window.get() == shown) {
      auto closing = std::shared_ptr<Gtk::Window>(slot().window.release());
      slot().quit = nullptr;
      closing->hide();
      Glib::signal_idle().connect_once([closing] {});
    }
    if (onQuit) onQuit();
  });
  stack->append(*quit);
  window->set_child(*stack);

  if (slot().window) slot().window->hide();
  slot().window = std::move(window);
  slot().quit = quit;
  slot().window->present();
}

Gtk::Window* RelaunchPrompt::current() { return slot().window.get(); }
Gtk::Button* RelaunchPrompt::quitButton() { return slot().quit; }

}  // namespace orvik
