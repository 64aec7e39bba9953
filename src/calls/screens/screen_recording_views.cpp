#include "calls/screens/screen_recording_views.h"

#include <gtkmm/gestureclick.h>

#include "calls/screens/call_colors.h"
#include "calls/screens/call_icon.h"
#include "calls/screens/call_screen_css.h"

namespace orvik {

namespace {

constexpr Rgba kIndigo{0.4, 0.44, 0.98, 1};
constexpr Rgba kPurple{0.6, 0.36, 0.98, 1};

Gtk::Label* label(const std::string& text, const std::string& css) {
  auto* l = Gtk::make_managed<Gtk::Label>(text);
  l->set_xalign(0);
  l->set_wrap(true);
  setWidgetCss(*l, "label { " + css + " }");
  return l;
}

}  // namespace

ScreenRecordingCardView* ScreenRecordingCardView::primer(std::function<void()> onContinue,
                                                         std::function<void()> onCancel) {
  return Gtk::make_managed<ScreenRecordingCardView>(kPrimerTitle, kPrimerMessage, "Continue", true,
                                                    std::move(onContinue), "Not now", onCancel, onCancel);
}

ScreenRecordingCardView* ScreenRecordingCardView::denied(std::function<void()> onDismiss) {
  return Gtk::make_managed<ScreenRecordingCardView>(kDeniedTitle, kDeniedMessage, "OK", false, onDismiss, nullptr,
                                                    std::function<void()>{}, onDismiss);
}

ScreenRecordingCardView::ScreenRecordingCardView(const char* title, const char* message, const char* primaryText,
                                                 bool withArrow, std::function<void()> onPrimary,
                                                 const char* secondaryText, std::function<void()> onSecondary,
                                                 std::function<void()> onBackdrop)
    : onBackdrop_(std::move(onBackdrop)) {
  set_name(secondaryText ? "screen-share-primer" : "screen-recording-denied");
  set_hexpand(true);
  set_vexpand(true);
  setWidgetCss(*this, "box { background-color: " + cssColor(Rgba::black(0.6)) + "; }");
  auto backdrop = Gtk::GestureClick::create();
  backdrop->signal_released().connect([this](int, double x, double y) {
    // Only clicks outside the card.
    double cx = 0, cy = 0;
    if (translate_coordinates(card_, x, y, cx, cy) && card_.contains(cx, cy)) return;
    clickBackdrop();
  });
  add_controller(backdrop);

  card_.set_size_request(360, -1);
  card_.set_halign(Gtk::Align::CENTER);
  card_.set_valign(Gtk::Align::CENTER);
  card_.set_hexpand(true);
  card_.set_vexpand(true);
  setWidgetCss(card_, "box { border-radius: 24px; background-image: linear-gradient(to bottom, " +
                          cssColor({0.12, 0.11, 0.17, 1}) + ", " + cssColor({0.06, 0.05, 0.09, 1}) +
                          "); border: 1px solid " + cssColor(Rgba::white(0.22)) + "; box-shadow: 0 14px 34px " +
                          cssColor(Rgba::black(0.55)) + ", 0 0 44px " + cssColor(kPurple.withAlpha(0.22)) + "; }");

  auto* header = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 14);
  header->set_margin_start(20);
  header->set_margin_end(20);
  header->set_margin_top(20);
  header->set_margin_bottom(20);
  auto* tile = Gtk::make_managed<Gtk::Box>();
  tile->set_size_request(46, 46);
  tile->set_valign(Gtk::Align::CENTER);
  tile->set_hexpand(false);
  setWidgetCss(*tile, "box { border-radius: 13px; background-image: linear-gradient(to bottom right, " +
                          cssColor(kIndigo) + ", " + cssColor(kPurple) + "); border: 1px solid " +
                          cssColor(Rgba::white(0.22)) + "; box-shadow: 0 4px 12px " +
                          cssColor(kPurple.withAlpha(0.55)) + "; }");
  auto* icon = Gtk::make_managed<CallIcon>("rectangle.on.rectangle.angled", 21, Rgba::white());
  icon->set_size_request(46, 46);
  icon->set_halign(Gtk::Align::CENTER);
  tile->append(*icon);
  header->append(*tile);
  auto* texts = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 3);
  texts->set_valign(Gtk::Align::CENTER);
  texts->set_hexpand(true);
  texts->append(*label(title, "font-size: 18pt; font-weight: bold; color: white;"));
  texts->append(*label(kSubtitle, "font-size: 12pt; font-weight: 500; color: " + cssColor(Rgba::white(0.5)) + ";"));
  header->append(*texts);
  card_.append(*header);

  auto* rule = Gtk::make_managed<Gtk::Box>();
  rule->set_size_request(-1, 1);
  setWidgetCss(*rule, "box { background-color: " + cssColor(Rgba::white(0.08)) + "; }");
  card_.append(*rule);

  auto* body = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 16);
  body->set_margin_start(20);
  body->set_margin_end(20);
  body->set_margin_top(20);
  body->set_margin_bottom(20);
  auto* text = label(message, "font-size: 13pt; color: " + cssColor(Rgba::white(0.72)) + ";");
  text->set_max_width_chars(40);
  body->append(*text);
  auto* buttons = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 10);
  buttons->set_homogeneous(true);
  buttons->set_margin_top(2);
  if (secondaryText) {
    secondary_ = Gtk::make_managed<Gtk::Button>(secondaryText);
    secondary_->set_has_frame(false);
    secondary_->set_hexpand(true);
    setWidgetCss(*secondary_, "button { padding: 11px 0; border-radius: 12px; border: none; font-size: 14pt;"
                              " font-weight: 600; color: " +
                                  cssColor(Rgba::white(0.75)) + "; background: " + cssColor(Rgba::white(0.07)) +
                                  "; }");
    secondary_->signal_clicked().connect([onSecondary] {
      if (onSecondary) onSecondary();
    });
    buttons->append(*secondary_);
  }
  primary_ = Gtk::make_managed<Gtk::Button>();
  primary_->set_has_frame(false);
  primary_->set_hexpand(true);
  auto* primaryLabel = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
  primaryLabel->set_halign(Gtk::Align::CENTER);
  primaryLabel->append(*Gtk::make_managed<Gtk::Label>(primaryText));
  if (withArrow) primaryLabel->append(*Gtk::make_managed<CallIcon>("arrow.right", 11, Rgba::white()));
  primary_->set_child(*primaryLabel);
  setWidgetCss(*primary_, "button { padding: 11px 0; border-radius: 12px; font-size: 14pt; font-weight: 600;"
                          " color: white; background-image: linear-gradient(to bottom right, " +
                              cssColor(kIndigo) + ", " + cssColor(kPurple) + "); border: 0.5px solid " +
                              cssColor(Rgba::white(0.18)) + "; box-shadow: 0 6px 14px " +
                              cssColor(kPurple.withAlpha(0.5)) + "; }");
  primary_->signal_clicked().connect([onPrimary] {
    if (onPrimary) onPrimary();
  });
  buttons->append(*primary_);
  body->append(*buttons);
  card_.append(*body);
  append(card_);
}

void ScreenRecordingCardView::clickBackdrop() {
  if (onBackdrop_) onBackdrop_();
}

}  // namespace orvik
