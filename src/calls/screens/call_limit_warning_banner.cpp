#include "calls/screens/call_limit_warning_banner.h"

#include "calls/screens/call_icon.h"
#include "calls/screens/call_screen_css.h"

namespace orvik {

CallLimitWarningBanner::CallLimitWarningBanner(Rgba accent) : Gtk::Box(Gtk::Orientation::HORIZONTAL, 10) {
  set_name("call-limit-banner");
  set_halign(Gtk::Align::CENTER);
  set_valign(Gtk::Align::START);
  set_margin_top(52);
  set_margin_start(20);
  set_margin_end(20);
  setWidgetCss(*this, "box { padding: 10px 8px 10px 18px; border-radius: 9999px; background-color: " +
                          cssColor(Rgba{0.16, 0.14, 0.22, 0.98}) + "; border: 1px solid " + cssColor(Rgba::white(0.12)) +
                          "; box-shadow: 0 4px 12px " + cssColor(Rgba::black(0.4)) + "; }");

  auto* clock = Gtk::make_managed<CallIcon>("clock.fill", 14, accent);
  clock->set_valign(Gtk::Align::CENTER);
  append(*clock);

  text_.set_wrap(true);
  text_.set_wrap_mode(Pango::WrapMode::WORD_CHAR);
  text_.set_xalign(0);
  text_.set_max_width_chars(48);
  text_.set_valign(Gtk::Align::CENTER);
  setWidgetCss(text_, "label { color: white; font-size: 13px; font-weight: 500; }");
  append(text_);

  auto* extendRow = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 5);
  extendRow->append(*Gtk::make_managed<CallIcon>("plus.circle.fill", 12, Rgba::white()));
  auto* extendText = Gtk::make_managed<Gtk::Label>(kExtend);
  setWidgetCss(*extendText, "label { color: white; font-size: 12px; font-weight: 600; }");
  extendRow->append(*extendText);
  extend_.set_child(*extendRow);
  extend_.set_name("call-limit-extend");
  extend_.set_margin_start(2);
  extend_.set_valign(Gtk::Align::CENTER);
  setWidgetCss(extend_, "button { background: " + cssColor(accent) +
                            "; background-image: none; border: none; box-shadow: none; border-radius: 9999px;"
                            " padding: 6px 12px; min-height: 0; }");
  extend_.signal_clicked().connect([this] {
    if (onExtend) onExtend();
  });
  append(extend_);

  close_.set_child(*Gtk::make_managed<CallIcon>("xmark", 11, Rgba::white(0.55)));
  close_.set_name("call-limit-close");
  close_.set_margin_start(2);
  close_.set_valign(Gtk::Align::CENTER);
  close_.set_tooltip_text("Close");
  setWidgetCss(close_, "button { background: none; border: none; box-shadow: none; padding: 6px; min-height: 0;"
                       " min-width: 0; }");
  close_.signal_clicked().connect([this] {
    if (onClose) onClose();
  });
  append(close_);
}

void CallLimitWarningBanner::setContent(const std::string& text, bool canExtend) {
  text_.set_text(text);
  extend_.set_visible(canExtend);
}

}  // namespace orvik
