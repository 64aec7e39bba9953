#include "calls/screens/call_avatar_view.h"

#include "calls/screens/call_screen_css.h"

namespace orvik {

AvatarGradientStops avatarGradientStops(AvatarGradient gradient) {
  if (gradient == AvatarGradient::gold) {
    return {Rgba{0.788235294117647, 0.6588235294117647, 0.2980392156862745, 1},
            Rgba{0.5490196078431373, 0.43137254901960786, 0.1568627450980392, 1}};
  }
  return {Rgba{0.6078431372549019, 0.18823529411764706, 1.0, 1},
          Rgba{0.4196078431372549, 0.12941176470588237, 0.6588235294117647, 1}};
}

namespace {

std::string gradientCss(AvatarGradient gradient) {
  const AvatarGradientStops stops = avatarGradientStops(gradient);
  return "box { border-radius: 9999px; background-image: linear-gradient(to bottom right, " + cssColor(stops.from) +
         ", " + cssColor(stops.to) + "); }";
}

}  // namespace

CallAvatarView::CallAvatarView(int size, std::string defaultPictureURL)
    : size_(size), defaultPictureURL_(std::move(defaultPictureURL)) {
  set_name("call-avatar");
  set_size_request(size, size);
  set_halign(Gtk::Align::CENTER);
  set_valign(Gtk::Align::CENTER);
  set_overflow(Gtk::Overflow::HIDDEN);
  setWidgetCss(*this, "overlay { border-radius: 9999px; }");
  gradient_.set_size_request(size, size);
  set_child(gradient_);
  picture_.set_content_fit(Gtk::ContentFit::COVER);
  picture_.set_can_shrink(true);
  picture_.set_visible(false);
  add_overlay(picture_);
  initial_.set_halign(Gtk::Align::CENTER);
  initial_.set_valign(Gtk::Align::CENTER);
  initial_.set_can_target(false);
  add_overlay(initial_);
}

void CallAvatarView::setParty(const std::string& imageUrl, const std::string& name, bool isSubscribed) {
  const AvatarContent next = chooseAvatarContent(imageUrl, name, size_, isSubscribed, defaultPictureURL_);
  if (hasContent_ && next == content_) return;
  hasContent_ = true;
  content_ = next;
  loading_.reset();
  picture_.set_visible(false);
  initial_.set_text(content_.initial);
  setWidgetCss(initial_, "label { color: white; font-weight: bold; font-size: " +
                             cssPixels(content_.initialPointSize) + "; }");
  showInitials();
  if (!content_.pictureURL) return;
  loading_ = CallImageLoader::shared().load(*content_.pictureURL, [this](Glib::RefPtr<Gdk::Texture> texture) {
    if (!texture) return;  // the initials stay
    picture_.set_paintable(texture);
    picture_.set_visible(true);
    // A party's own picture stands alone; the default picture keeps the
    // initial over it.
    initial_.set_visible(content_.initialOverPicture);
  });
}

void CallAvatarView::showInitials() {
  setWidgetCss(gradient_, gradientCss(content_.gradient));
  initial_.set_visible(true);
}

}  // namespace orvik
