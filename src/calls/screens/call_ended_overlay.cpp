#include "calls/screens/call_ended_overlay.h"

#include "calls/screens/call_avatar_view.h"
#include "calls/screens/call_colors.h"
#include "calls/screens/call_icon.h"
#include "calls/screens/call_screen_css.h"
#include "calls/screens/gold_subscriber_badge.h"

namespace orvik {

namespace {
constexpr Rgba kAccent{0.6, 0.48, 1.0, 1.0};
}  // namespace

CallEndedOverlay::CallEndedOverlay(const std::string& defaultAvatarURL, const std::string& subscriberBadgeURL)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 0) {
  set_name("call-ended-overlay");
  set_hexpand(true);
  set_vexpand(true);
  auto* top = Gtk::make_managed<Gtk::Box>();
  top->set_vexpand(true);
  append(*top);

  glow_.set_size_request(138, 138);
  glow_.set_halign(Gtk::Align::CENTER);
  glow_.set_valign(Gtk::Align::CENTER);
  cluster_.set_child(glow_);
  ring_.set_size_request(118, 118);
  ring_.set_halign(Gtk::Align::CENTER);
  ring_.set_valign(Gtk::Align::CENTER);
  cluster_.add_overlay(ring_);
  auto* avatarBox = Gtk::make_managed<Gtk::Overlay>();
  avatar_ = Gtk::make_managed<CallAvatarView>(106, defaultAvatarURL);
  avatarBox->set_child(*avatar_);
  badge_ = Gtk::make_managed<GoldSubscriberBadge>(30, subscriberBadgeURL);
  badge_->set_halign(Gtk::Align::END);
  badge_->set_valign(Gtk::Align::END);
  badge_->set_margin_end(-2);
  badge_->set_margin_bottom(-6);
  avatarBox->add_overlay(*badge_);
  avatarBox->set_halign(Gtk::Align::CENTER);
  avatarBox->set_valign(Gtk::Align::CENTER);
  cluster_.add_overlay(*avatarBox);
  cluster_.set_halign(Gtk::Align::CENTER);
  append(cluster_);

  name_.set_name("call-ended-name");
  name_.set_margin_top(22);
  name_.set_single_line_mode(true);
  name_.set_ellipsize(Pango::EllipsizeMode::END);
  name_.set_margin_start(24);
  name_.set_margin_end(24);
  append(name_);

  pill_.set_halign(Gtk::Align::CENTER);
  pill_.set_margin_top(14);
  pill_.append(*Gtk::make_managed<CallIcon>("phone.down.fill", 11, Rgba::white(0.7)));
  pillText_.set_text(kCallEnded);
  pill_.append(pillText_);
  append(pill_);

  auto* bottom = Gtk::make_managed<Gtk::Box>();
  bottom->set_vexpand(true);
  append(*bottom);
  thanks_.set_text(kThanks);
  thanks_.set_wrap(true);
  thanks_.set_justify(Gtk::Justification::CENTER);
  thanks_.set_margin_bottom(40);
  thanks_.set_margin_start(24);
  thanks_.set_margin_end(24);
  append(thanks_);
}

void CallEndedOverlay::setContent(const CallEndedContent& c) {
  if (rendered_ && c == content_) return;
  rendered_ = true;
  content_ = c;
  const bool dark = c.isDarkMode;
  const Rgba ink = dark ? Rgba::white() : callcolors::ink;
  const std::string gradient =
      dark ? "linear-gradient(to bottom, " + cssColor({0.13, 0.09, 0.24, 1}) + ", " + cssColor({0.06, 0.04, 0.11, 1}) +
                 ", " + cssColor(Rgba::black()) + ")"
           : "linear-gradient(to bottom, " + cssColor(Rgba::of255(245, 240, 255)) + ", " +
                 cssColor(Rgba::of255(234, 224, 250)) + ", " + cssColor(Rgba::white()) + ")";
  setWidgetCss(*this, "box#call-ended-overlay { background-image: " + gradient + "; }");
  const Rgba tone = c.isSubscribed ? callcolors::gold : kAccent;
  setWidgetCss(glow_, "box { border-radius: 9999px; background-color: " + cssColor(tone.withAlpha(0.28)) +
                          "; filter: blur(22px); }");
  // GTK draws no gradient along a round border: the ring takes its first colour.
  setWidgetCss(ring_, "box { border-radius: 9999px; border: 2.5px solid " +
                          cssColor(c.isSubscribed ? callcolors::gold : kAccent) + "; }");
  avatar_->setParty(c.imageUrl, c.name, false);
  badge_->set_visible(c.isSubscribed);
  name_.set_text(c.name.empty() ? "Call" : c.name);
  setWidgetCss(name_, "label { font-size: 22pt; font-weight: bold; color: " + cssColor(ink) + "; }");
  const Rgba pillInk = dark ? Rgba::white(0.7) : callcolors::ink.withAlpha(0.65);
  setWidgetCss(pillText_, "label { font-size: 13.5pt; font-weight: 500; color: " + cssColor(pillInk) + "; }");
  setWidgetCss(pill_, "box { border-radius: 9999px; padding: 7px 16px; background-color: " +
                          cssColor(dark ? Rgba::white(0.08) : Rgba::black(0.05)) + "; border: 1px solid " +
                          cssColor(dark ? Rgba::white(0.12) : Rgba::black(0.08)) + "; }");
  setWidgetCss(thanks_, "label { font-size: 13pt; font-weight: 500; color: " +
                            cssColor(dark ? Rgba::white(0.55) : callcolors::ink.withAlpha(0.5)) + "; }");
}

}  // namespace orvik
