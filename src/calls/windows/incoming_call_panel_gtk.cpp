#include "calls/windows/incoming_call_panel_gtk.h"

#include "calls/control/call_strings.h"
#include "calls/screens/call_avatar_view.h"
#include "calls/screens/call_icon.h"
#include "calls/screens/call_screen_css.h"
#include "platform/window_placement.h"

namespace orvik {

namespace {
constexpr Rgba kAccent{0.6, 0.4, 0.98, 1.0};
constexpr Rgba kGold{0.788235294117647, 0.6588235294117647, 0.2980392156862745, 1.0};
constexpr Rgba kDecline{0.88, 0.25, 0.25, 1.0};
constexpr Rgba kAccept{0.16, 0.72, 0.40, 1.0};
}  // namespace

IncomingCallPanelGtk::IncomingCallPanelGtk(const Context& context, const IncomingCallPanelSpec& windowSpec,
                                           IncomingCallIdentityBox& identity, IncomingCallPanelActions actions,
                                           IncomingCallPanelDelegate& delegate)
    : placement_(context.placement),
      strings_(context.strings),
      identity_(identity),
      delegate_(delegate),
      isAudio_(windowSpec.isAudio),
      margin_(windowSpec.margin) {
  window_.set_title(windowSpec.title);
  window_.set_name("incoming-call-panel");
  window_.set_default_size(windowSpec.width, windowSpec.height);
  window_.set_hide_on_close(true);
  // The gradient runs under the whole window; its text stays light in
  // either appearance, as the backdrop is dark.
  setWidgetCss(window_, "window { background-image: linear-gradient(to bottom, " +
                            cssColor(kAccent.withAlpha(0.22)) + ", transparent, " +
                            cssColor(Rgba::black(0.18)) + "), linear-gradient(" +
                            cssColor(windowSpec.isDarkMode ? Rgba::of255(14, 6, 32) : Rgba::of255(40, 30, 60)) + ", " +
                            cssColor(windowSpec.isDarkMode ? Rgba::of255(14, 6, 32) : Rgba::of255(40, 30, 60)) +
                            "); color: white; }");

  column_.set_spacing(10);
  column_.set_valign(Gtk::Align::CENTER);
  column_.set_halign(Gtk::Align::CENTER);
  column_.set_margin(16);

  const int avatarSize = isAudio_ ? 104 : 54;
  avatar_ = Gtk::make_managed<CallAvatarView>(avatarSize, context.defaultAvatarURL);
  avatar_->set_name("incoming-avatar");
  avatar_->set_halign(Gtk::Align::CENTER);
  column_.append(*avatar_);

  name_.set_name("incoming-name");
  setWidgetCss(name_, std::string("label { font-weight: bold; font-size: ") + (isAudio_ ? "22pt" : "18pt") +
                          "; color: white; }");
  column_.append(name_);
  orvikId_.set_name("incoming-orvikid");
  setWidgetCss(orvikId_, "label { font-weight: 500; font-size: 13pt; color: " + cssColor(Rgba::white(0.5)) + "; }");
  column_.append(orvikId_);

  if (isAudio_) {
    auto* badge = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
    badge->set_name("incoming-badge");
    badge->set_halign(Gtk::Align::CENTER);
    badge->append(*Gtk::make_managed<CallIcon>("phone.fill", 14, Rgba::white(0.8)));
    auto* text = Gtk::make_managed<Gtk::Label>("Incoming Audio Call");
    text->set_name("incoming-badge-text");
    badge->append(*text);
    column_.append(*badge);
  } else {
    // The camera preview's place: black with a spinner until a session runs.
    previewArea_.set_name("incoming-preview");
    previewArea_.set_size_request(windowSpec.width - 60, 150);
    previewArea_.set_overflow(Gtk::Overflow::HIDDEN);
    setWidgetCss(previewArea_, "box { background: black; border-radius: 18px; }");
    previewSpinner_.set_hexpand(true);
    previewSpinner_.set_vexpand(true);
    previewSpinner_.set_halign(Gtk::Align::CENTER);
    previewSpinner_.set_valign(Gtk::Align::CENTER);
    setWidgetCss(previewSpinner_, "spinner { color: " + cssColor(Rgba::white(0.5)) + "; }");
    previewArea_.append(previewSpinner_);
    previewView_ = Gtk::make_managed<CameraPreviewView>(previewFeed_);
    previewView_->set_name("incoming-camera-preview");
    previewView_->set_hexpand(true);
    previewView_->set_vexpand(true);
    previewView_->set_visible(false);
    previewArea_.append(*previewView_);
    column_.append(previewArea_);
  }

  auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 56);
  row->set_halign(Gtk::Align::CENTER);
  row->set_margin_top(8);
  decline_ = makeCircleButton("phone.down.fill", kDecline, "Decline", "incoming-decline", std::move(actions.decline),
                              *row);
  accept_ = makeCircleButton(isAudio_ ? "phone.fill" : "video.fill", kAccept, "Accept", "incoming-accept",
                             std::move(actions.accept), *row);
  column_.append(*row);
  window_.set_child(column_);

  identitySeen_ = identity_.addObserver([this] { render(); });
  render();

  window_.signal_close_request().connect(
      [this] {
        if (closing_) return false;
        closing_ = true;
        delegate_.windowWillClose();
        return false;
      },
      false);
  placement_.setNeverFocused(window_.gobj());
}

IncomingCallPanelGtk::~IncomingCallPanelGtk() { window_.set_visible(false); }

IncomingCallPanelFactory IncomingCallPanelGtk::factory(Context context) {
  return [context](const IncomingCallPanelSpec& windowSpec, IncomingCallIdentityBox& identity,
                   IncomingCallPanelActions actions,
                   IncomingCallPanelDelegate& delegate) -> std::unique_ptr<IncomingCallPanelSurface> {
    return std::make_unique<IncomingCallPanelGtk>(context, windowSpec, identity, std::move(actions), delegate);
  };
}

// A disc with the symbol, 6 % larger and fully opaque under the pointer,
// with its caption under it.
Gtk::Button* IncomingCallPanelGtk::makeCircleButton(const std::string& symbol, const Rgba& colour,
                                                    const std::string& caption, const std::string& name,
                                                    std::function<void()> action, Gtk::Box& row) {
  auto* column = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 6);
  auto* button = Gtk::make_managed<Gtk::Button>();
  button->set_name(name);
  button->set_focus_on_click(false);
  button->set_child(*Gtk::make_managed<CallIcon>(symbol, 22, Rgba::white()));
  button->set_size_request(60, 60);
  button->set_halign(Gtk::Align::CENTER);
  setWidgetCss(*button, "button { background: " + cssColor(colour.withAlpha(0.88)) +
                            "; border-radius: 30px; min-width: 60px; min-height: 60px; padding: 0; border: none;"
                            " box-shadow: none; transition: background 120ms ease-in-out, transform 120ms "
                            "ease-in-out; }"
                            " button:hover { background: " +
                            cssColor(colour) + "; transform: scale(1.06); }");
  button->signal_clicked().connect([action = std::move(action)] {
    if (action) action();
  });
  column->append(*button);
  auto* label = Gtk::make_managed<Gtk::Label>(caption);
  setWidgetCss(*label, "label { color: " + cssColor(Rgba::white(0.65)) + "; }");
  column->append(*label);
  row.append(*column);
  return button;
}

void IncomingCallPanelGtk::render() {
  const IncomingCallIdentity& identity = identity_.state();
  const IncomingCallContent content = presentIncomingCall(identity, isAudio_, strings_);
  name_.set_text(content.shownName);
  orvikId_.set_text(content.orvikIdLine);
  avatar_->setParty(identity.imageUrl, identity.callerName, identity.isSubscribed);
  setWidgetCss(*avatar_, "overlay { border-radius: 999px; box-shadow: 0 0 0 " + cssPixels(isAudio_ ? 2.5 : 1.5) +
                             " " +
                             cssColor(content.goldRing ? kGold.withAlpha(0.9) : kAccent.withAlpha(0.55)) + "; }");
  if (!isAudio_) {
    previewSpinner_.set_visible(content.showsPreviewPlaceholder);
    previewSpinner_.set_spinning(content.showsPreviewPlaceholder);
    previewFeed_.update(content.showsPreview ? identity.preview : nullptr, /*fill=*/true);
    previewView_->set_visible(content.showsPreview);
  }
}

void IncomingCallPanelGtk::reveal(bool /*capturable*/) {
  // Linux cannot keep a window out of other programs' screen captures.
  placement_.setKeepAbove(window_.gobj(), true);
  placement_.setOnAllDesktops(window_.gobj(), true);
  placement_.moveToWorkAreaTopRight(window_.gobj(), margin_);
  placement_.orderFrontWithoutActivating(window_.gobj());
}

void IncomingCallPanelGtk::close() {
  if (closing_) return;
  closing_ = true;
  window_.set_visible(false);
}

}  // namespace orvik
