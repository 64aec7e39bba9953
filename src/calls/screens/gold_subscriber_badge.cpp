#include "calls/screens/gold_subscriber_badge.h"

#include <gtkmm/box.h>

#include "calls/screens/call_colors.h"
#include "calls/screens/call_icon.h"
#include "calls/screens/call_screen_css.h"

namespace orvik {

GoldSubscriberBadge::GoldSubscriberBadge(int size, const std::string& imageURL) {
  set_name("gold-subscriber-badge");
  set_size_request(size, size);
  set_halign(Gtk::Align::START);
  set_valign(Gtk::Align::START);
  auto* circle = Gtk::make_managed<Gtk::Box>();
  circle->set_size_request(size, size);
  setWidgetCss(*circle, "box { background-color: " + cssColor(callcolors::gold) + "; border-radius: 9999px; }");
  auto* crown = Gtk::make_managed<CallIcon>("crown.fill", static_cast<int>(size * 0.48 + 0.5), Rgba::white());
  crown->set_hexpand(true);
  crown->set_halign(Gtk::Align::CENTER);
  crown->set_valign(Gtk::Align::CENTER);
  circle->append(*crown);
  set_child(*circle);

  picture_.set_content_fit(Gtk::ContentFit::CONTAIN);
  picture_.set_can_shrink(true);
  picture_.set_visible(false);
  add_overlay(picture_);
  loading_ = CallImageLoader::shared().load(imageURL, [this](Glib::RefPtr<Gdk::Texture> texture) {
    if (!texture) return;
    picture_.set_paintable(texture);
    picture_.set_visible(true);
  });
}

}  // namespace orvik
