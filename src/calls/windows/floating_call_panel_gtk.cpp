#include "calls/windows/floating_call_panel_gtk.h"

#include <gtkmm/windowhandle.h>

#include "calls/control/call_strings.h"
#include "calls/screens/call_avatar_view.h"
#include "calls/screens/call_icon.h"
#include "calls/screens/call_screen_css.h"
#include "platform/window_placement.h"

namespace orvik {

namespace {
constexpr int kAvatarSize = 36;
constexpr int kButtonSide = 32;
}  // namespace

FloatingPanelBtn::FloatingPanelBtn(std::function<void()> action) {
  set_focus_on_click(false);
  set_size_request(kButtonSide, kButtonSide);
  set_valign(Gtk::Align::CENTER);
  icon_ = Gtk::make_managed<CallIcon>("microphone.fill", 12, Rgba::white());
  set_child(*icon_);
  signal_clicked().connect([action = std::move(action)] {
    if (action) action();
  });
}

void FloatingPanelBtn::render(const FloatingPanelButton& button, bool isDarkMode) {
  if (button == button_ && isDarkMode == isDarkMode_ && !icon_->symbol().empty() &&
      icon_->symbol() == button.icon) {
    return;
  }
  button_ = button;
  isDarkMode_ = isDarkMode;
  icon_->setSymbol(button.icon);
  restyle();
}

// The pressed scale and the hover fill are the button's own states, so GTK
// keeps them while the pointer is on it.
void FloatingPanelBtn::restyle() {
  const FloatingPanelButtonLook look = floatingPanelButtonLook(button_, isDarkMode_, false);
  const FloatingPanelButtonLook hovered = floatingPanelButtonLook(button_, isDarkMode_, true);
  icon_->setColour(look.symbol);
  setWidgetCss(*this, "button { background: " + cssColor(look.fill) +
                          "; border-radius: 16px; min-width: 32px; min-height: 32px; padding: 0; border: none;"
                          " box-shadow: none; transition: transform 120ms ease-in-out; }"
                          " button:hover { background: " +
                          cssColor(hovered.fill) + "; } button:active { transform: scale(0.91); }");
}

FloatingCallPanelView::FloatingCallPanelView(FloatingCallPanelModel& model, const CallStrings& strings,
                                             FloatingPanelActions actions, const std::string& defaultAvatarURL)
    : Gtk::Box(Gtk::Orientation::HORIZONTAL, 0), model_(model), strings_(strings), actions_(std::move(actions)) {
  set_name("floating-card");
  set_valign(Gtk::Align::FILL);
  set_size_request(NativeCallFloatingPanel::kWidth, NativeCallFloatingPanel::kHeight);
  set_overflow(Gtk::Overflow::HIDDEN);

  // The identity block: a flat button, so that blank space inside it
  // returns to the call as well.
  auto* identity = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 10);
  identity->set_valign(Gtk::Align::CENTER);
  avatar_ = Gtk::make_managed<CallAvatarView>(kAvatarSize, defaultAvatarURL);
  avatar_->set_valign(Gtk::Align::CENTER);
  identity->append(*avatar_);
  auto* lines = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 2);
  lines->set_valign(Gtk::Align::CENTER);
  for (Gtk::Label* label : {&name_, &typeText_, &timer_}) {
    label->set_single_line_mode(true);
    label->set_ellipsize(Pango::EllipsizeMode::END);
    label->set_xalign(0);
  }
  name_.set_name("floating-name");
  name_.set_max_width_chars(18);
  lines->append(name_);
  typeRow_.set_name("floating-type");
  typeIcon_ = Gtk::make_managed<CallIcon>("phone.fill", 7, floatingcolors::accentPurple);
  typeRow_.append(*typeIcon_);
  typeRow_.append(typeText_);
  lines->append(typeRow_);
  timer_.set_name("floating-timer");
  lines->append(timer_);
  identity->append(*lines);

  returnArea_ = Gtk::make_managed<Gtk::Button>();
  returnArea_->set_name("floating-return");
  returnArea_->set_focus_on_click(false);
  returnArea_->set_child(*identity);
  returnArea_->set_halign(Gtk::Align::START);
  returnArea_->set_valign(Gtk::Align::FILL);
  setWidgetCss(*returnArea_, "button { background: none; border: none; box-shadow: none; padding: 0 0 0 12px;"
                             " min-height: 0; }");
  returnArea_->signal_clicked().connect([this] {
    if (actions_.onReturnToCall) actions_.onReturnToCall();
  });
  append(*returnArea_);

  auto* spacer = Gtk::make_managed<Gtk::Box>();
  spacer->set_hexpand(true);
  append(*spacer);

  separator_.set_name("floating-separator");
  separator_.set_size_request(1, 36);
  separator_.set_valign(Gtk::Align::CENTER);
  append(separator_);

  auto* controls = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
  controls->set_name("floating-controls");
  controls->set_valign(Gtk::Align::CENTER);
  controls->set_margin_start(12);
  controls->set_margin_end(12);
  auto run = [this](std::function<void()> FloatingPanelActions::*action) {
    return [this, action] {
      if (actions_.*action) (actions_.*action)();
    };
  };
  mute_ = Gtk::make_managed<FloatingPanelBtn>(run(&FloatingPanelActions::onMute));
  mute_->set_name("floating-mute");
  camera_ = Gtk::make_managed<FloatingPanelBtn>(run(&FloatingPanelActions::onCamera));
  camera_->set_name("floating-camera");
  hangUp_ = Gtk::make_managed<FloatingPanelBtn>(run(&FloatingPanelActions::onEnd));
  hangUp_->set_name("floating-hangup");
  for (FloatingPanelBtn* button : {mute_, camera_, hangUp_}) controls->append(*button);
  append(*controls);

  modelSeen_ = model_.addObserver([this] { render(); });
  render();
}

std::vector<FloatingPanelBtn*> FloatingCallPanelView::shownButtons() {
  std::vector<FloatingPanelBtn*> shown;
  for (FloatingPanelBtn* button : {mute_, camera_, hangUp_}) {
    if (button->get_visible()) shown.push_back(button);
  }
  return shown;
}

void FloatingCallPanelView::render() {
  const FloatingCallPanelState& state = model_.state();
  const FloatingCallPanelContent content = presentFloatingCallPanel(state, strings_);
  setWidgetCss(*this, "box { background-color: " + cssColor(content.cardFill) +
                          "; border-radius: 18px; border: 1px solid " + cssColor(content.cardBorder) + "; }");
  avatar_->setParty(state.imageUrl, state.calleeName, false);
  name_.set_text(content.name);
  setWidgetCss(name_, "label { font-size: 12px; font-weight: 600; color: " + cssColor(content.primaryText) + "; }");
  typeIcon_->setSymbol(content.typeSymbol);
  typeIcon_->setColour(content.typeColour);
  typeText_.set_text(content.typeText);
  setWidgetCss(typeText_, "label { font-size: 9px; font-weight: 500; color: " + cssColor(content.typeColour) + "; }");
  timer_.set_text(content.timerText);
  setWidgetCss(timer_, "label { font-size: 10px; font-feature-settings: \"tnum\"; color: " +
                           cssColor(content.timerColour) + "; transition: color 200ms ease-in-out; }");
  setWidgetCss(separator_, "box { background-color: " + cssColor(content.separator) + "; }");

  camera_->set_visible(false);
  for (const FloatingPanelButton& button : content.buttons) {
    FloatingPanelBtn* shown = button.kind == FloatingPanelButtonKind::mute     ? mute_
                              : button.kind == FloatingPanelButtonKind::camera ? camera_
                                                                               : hangUp_;
    shown->render(button, state.isDarkMode);
    shown->set_visible(true);
  }
}

FloatingCallPanelGtk::FloatingCallPanelGtk(const Context& context, const FloatingPanelSpec& windowSpec,
                                           FloatingCallPanelModel& model, FloatingPanelActions actions)
    : placement_(context.placement), margin_(windowSpec.margin) {
  window_.set_title(kTitle);
  window_.set_name("floating-call-panel");
  window_.set_decorated(false);
  window_.set_resizable(false);
  window_.set_default_size(windowSpec.width, windowSpec.height);
  window_.set_hide_on_close(true);
  setWidgetCss(window_, "window { background: transparent; }");
  // Linux cannot keep a window out of other programs' screen captures:
  // `windowSpec.capturable` has nothing to switch here.
  view_ = Gtk::make_managed<FloatingCallPanelView>(model, context.strings, std::move(actions),
                                                   context.defaultAvatarURL);
  // Dragging the card's background moves the window; its buttons still click.
  auto* handle = Gtk::make_managed<Gtk::WindowHandle>();
  handle->set_child(*view_);
  window_.set_child(*handle);
  placement_.setNeverFocused(window_.gobj());
  placement_.setKeepAbove(window_.gobj(), true);
  placement_.setOnAllDesktops(window_.gobj(), true);
  placement_.moveToWorkAreaTopRight(window_.gobj(), margin_);
}

FloatingCallPanelGtk::~FloatingCallPanelGtk() { window_.set_visible(false); }

FloatingPanelFactory FloatingCallPanelGtk::factory(Context context) {
  return [context](const FloatingPanelSpec& windowSpec, FloatingCallPanelModel& model,
                   FloatingPanelActions actions) -> std::unique_ptr<FloatingPanelSurface> {
    return std::make_unique<FloatingCallPanelGtk>(context, windowSpec, model, std::move(actions));
  };
}

void FloatingCallPanelGtk::orderFront() { placement_.orderFrontWithoutActivating(window_.gobj()); }

void FloatingCallPanelGtk::orderOut() { window_.set_visible(false); }

// The card renders the model, whose appearance flag the controller has
// already set.
void FloatingCallPanelGtk::setDarkMode(bool) {}

void FloatingCallPanelGtk::close() { window_.set_visible(false); }

}  // namespace orvik
