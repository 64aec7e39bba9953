#include "app/notification_permission_banner.h"

#include <gtkmm.h>

#include <utility>

#include "platform/dispatch/task_queue.h"

namespace orvik {
namespace {

constexpr const char* kCardCss = R"css(
.orvik-notification-banner {
  background-color: rgba(41, 36, 56, 0.97);
  border: 1px solid rgba(255, 255, 255, 0.1);
  border-radius: 12px;
  box-shadow: 0 4px 16px rgba(0, 0, 0, 0.5);
  transition: opacity 200ms ease-out;
}
.orvik-notification-banner.fading { opacity: 0; }
.orvik-notification-banner .icon { color: rgba(255, 255, 255, 0.65); }
.orvik-notification-banner .title { color: white; font-size: 13px; font-weight: bold; }
.orvik-notification-banner .explanation { color: rgba(255, 255, 255, 0.55); font-size: 11px; }
.orvik-notification-banner .open-settings { color: rgb(77, 140, 255); font-size: 11px; font-weight: 600;
  padding: 0; min-height: 0; background: none; border: none; box-shadow: none; }
.orvik-notification-banner .close { color: rgba(255, 255, 255, 0.45); font-size: 11px; font-weight: 500;
  padding: 0; min-height: 16px; min-width: 16px; background: none; border: none; box-shadow: none; }
)css";

void installCssOnce() {
  static bool installed = false;
  if (installed) return;
  auto display = Gdk::Display::get_default();
  if (!display) return;
  installed = true;
  auto provider = Gtk::CssProvider::create();
  provider->load_from_data(kCardCss);
  Gtk::StyleContext::add_provider_for_display(display, provider, GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

}  // namespace

struct NotificationPermissionBanner::Card {
  Gtk::Overlay* host = nullptr;
  Gtk::Box box{Gtk::Orientation::HORIZONTAL};
  Gtk::Image icon;
  Gtk::Box texts{Gtk::Orientation::VERTICAL};
  Gtk::Label title{"Notifications Disabled"};
  Gtk::Label explanation{"Enable in System Settings to receive messages."};
  Gtk::Button openSettings{"Open Settings"};
  Gtk::Button close{"✕"};
  bool fading = false;
};

NotificationPermissionBanner::NotificationPermissionBanner(std::function<Gtk::Overlay*()> host,
                                                           std::function<void()> openSettings)
    : host_(std::move(host)), openSettings_(std::move(openSettings)) {}

NotificationPermissionBanner::~NotificationPermissionBanner() {
  if (card_ && card_->host) card_->host->remove_overlay(card_->box);
}

Gtk::Widget* NotificationPermissionBanner::card() const { return card_ ? &card_->box : nullptr; }

void NotificationPermissionBanner::show() {
  platform::mainQueue().post([this, alive = std::weak_ptr<bool>(alive_)] {
    if (!alive.expired()) showNow();
  });
}

void NotificationPermissionBanner::dismiss() {
  platform::mainQueue().post([this, alive = std::weak_ptr<bool>(alive_)] {
    if (!alive.expired()) hideNow();
  });
}

void NotificationPermissionBanner::showNow() {
  if (card_) return;
  Gtk::Overlay* host = host_ ? host_() : nullptr;
  if (!host) return;
  installCssOnce();
  card_ = std::make_unique<Card>();
  Card& card = *card_;
  card.host = host;
  card.box.add_css_class("orvik-notification-banner");
  card.box.set_size_request(kWidth, kHeight);
  card.box.set_halign(Gtk::Align::END);
  card.box.set_valign(Gtk::Align::START);
  card.box.set_margin_end(kRightMargin);
  card.box.set_margin_top(kTopMargin);

  card.icon.set_from_icon_name("notifications-disabled-symbolic");
  card.icon.set_pixel_size(14);
  card.icon.add_css_class("icon");
  card.icon.set_valign(Gtk::Align::START);
  card.icon.set_margin_start(14);
  card.icon.set_margin_top(16);
  gtk_accessible_update_property(GTK_ACCESSIBLE(card.icon.gobj()), GTK_ACCESSIBLE_PROPERTY_LABEL, "Notifications disabled", -1);

  card.title.add_css_class("title");
  card.title.set_xalign(0);
  card.explanation.add_css_class("explanation");
  card.explanation.set_xalign(0);
  card.explanation.set_wrap(true);
  card.explanation.set_lines(2);
  // Wrapped within the card rather than widening it.
  card.explanation.set_max_width_chars(28);
  card.explanation.set_ellipsize(Pango::EllipsizeMode::END);
  card.explanation.set_margin_top(5);
  card.openSettings.add_css_class("open-settings");
  card.openSettings.set_has_frame(false);
  card.openSettings.set_halign(Gtk::Align::END);
  card.openSettings.set_margin_top(10);
  card.openSettings.set_margin_bottom(12);
  card.texts.set_hexpand(true);
  card.texts.set_margin_start(10);
  card.texts.set_margin_top(14);
  card.texts.set_margin_end(6);
  card.texts.append(card.title);
  card.texts.append(card.explanation);
  card.texts.append(card.openSettings);
  card.close.add_css_class("close");
  card.close.set_has_frame(false);
  card.close.set_valign(Gtk::Align::START);
  card.close.set_margin_top(12);
  card.close.set_margin_end(12);

  card.box.append(card.icon);
  card.box.append(card.texts);
  card.box.append(card.close);
  card.openSettings.signal_clicked().connect([this] {
    if (openSettings_) openSettings_();
    hideNow();
  });
  card.close.signal_clicked().connect([this] { hideNow(); });
  host->add_overlay(card.box);
}

void NotificationPermissionBanner::hideNow() {
  if (!card_ || card_->fading) return;
  card_->fading = true;
  card_->box.add_css_class("fading");
  platform::mainQueue().postAfter(kFadeSeconds, [this, alive = std::weak_ptr<bool>(alive_)] {
    if (alive.expired() || !card_) return;
    if (card_->host) card_->host->remove_overlay(card_->box);
    card_.reset();
  });
}

}  // namespace orvik
