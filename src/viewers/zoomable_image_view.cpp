#include "viewers/zoomable_image_view.h"

#include <algorithm>

#include "core/native_logger.h"

namespace orvik {
using viewers::Size;

ZoomableImageView::ZoomableImageView(Glib::RefPtr<Gdk::Texture> image, bool dark)
    : image_(std::move(image)), dark_(dark) {
  set_name("orvik-zoomable-image");
  set_focusable(true);
  set_hexpand(true);
  set_vexpand(true);
  set_overflow(Gtk::Overflow::HIDDEN);
  centre_ = {imageSize().width / 2, imageSize().height / 2};

  auto motion = Gtk::EventControllerMotion::create();
  motion->signal_motion().connect([this](double x, double y) { pointer_ = {x, y}; });
  add_controller(motion);

  auto scroll = Gtk::EventControllerScroll::create();
  scroll->set_flags(Gtk::EventControllerScroll::Flags::BOTH_AXES);
  scroll->signal_scroll().connect(
      [this, weak = scroll.get()](double dx, double dy) {
        const bool wheel = weak->get_unit() == Gdk::ScrollUnit::WHEEL;
        const auto state = weak->get_current_event_state();
        onScroll(dx, dy, wheel, (state & Gdk::ModifierType::CONTROL_MASK) == Gdk::ModifierType::CONTROL_MASK);
        return true;
      },
      false);
  add_controller(scroll);

  auto zoom = Gtk::GestureZoom::create();
  zoom->signal_begin().connect([this](Gdk::EventSequence*) {
    nativeLog("[Pinch] image viewer — pinch began");
    pinchScale_ = 1.0;
  });
  zoom->signal_scale_changed().connect([this](double scale) {
    if (pinchScale_ > 0) zoomBy(scale / pinchScale_, pointer_);
    pinchScale_ = scale;
  });
  add_controller(zoom);

  auto click = Gtk::GestureClick::create();
  click->set_button(GDK_BUTTON_PRIMARY);
  click->signal_pressed().connect([this](int presses, double x, double y) {
    grab_focus();
    if (presses == 2) toggleZoom(x, y);
  });
  add_controller(click);

  auto keys = Gtk::EventControllerKey::create();
  keys->signal_key_pressed().connect(
      [this](guint keyval, guint, Gdk::ModifierType) {
        const char* name = gdk_keyval_name(keyval);
        return name && handleKey(name);
      },
      false);
  add_controller(keys);
}

void ZoomableImageView::setImage(Glib::RefPtr<Gdk::Texture> image) {
  image_ = std::move(image);
  centre_ = {imageSize().width / 2, imageSize().height / 2};
  zoomToFit();
}

Size ZoomableImageView::imageSize() const {
  return image_ ? Size{double(image_->get_width()), double(image_->get_height())} : Size{};
}

Size ZoomableImageView::viewSize() const { return {double(get_width()), double(get_height())}; }

std::optional<double> ZoomableImageView::pixelScale() const {
  if (!image_) return std::nullopt;
  return viewers::pixelScale(image_->get_width(), imageSize().width, get_scale_factor());
}

double ZoomableImageView::fitScale() const { return viewers::fitScale(imageSize(), viewSize(), pixelScale()); }

void ZoomableImageView::zoomToFit() {
  fitted_ = true;
  const double target = fitScale();
  nativeLog("[ImageViewer] zoomToFit() — bounds=" + std::to_string(get_width()) + "x" + std::to_string(get_height()) +
            " imageSize=" + std::to_string(int(imageSize().width)) + "x" + std::to_string(int(imageSize().height)) +
            " currentMag=" + std::to_string(magnification_) + " targetMag=" + std::to_string(target) +
            " minMag=" + std::to_string(viewers::kMinMagnification) +
            " maxMag=" + std::to_string(viewers::kMaxMagnification) + " allowsMagnification=true");
  magnification_ = target;
  centre_ = {imageSize().width / 2, imageSize().height / 2};
  clampCentre();
  queue_draw();
  nativeLog("[ImageViewer] zoomToFit() — after setMagnification, magnification=" + std::to_string(magnification_));
}

void ZoomableImageView::setMagnification(double magnification, Size about) {
  const Size view = viewSize();
  // The image point under `about` stays under it.
  const Size point{centre_.width + (about.width - view.width / 2) / magnification_,
                   centre_.height + (about.height - view.height / 2) / magnification_};
  magnification_ = viewers::clampMagnification(magnification);
  centre_ = {point.width - (about.width - view.width / 2) / magnification_,
             point.height - (about.height - view.height / 2) / magnification_};
  clampCentre();
  queue_draw();
}

void ZoomableImageView::zoomBy(double factor, std::optional<Size> point) {
  fitted_ = false;
  const Size view = viewSize();
  setMagnification(magnification_ * factor, point.value_or(Size{view.width / 2, view.height / 2}));
}

void ZoomableImageView::toggleZoom(double x, double y) {
  if (magnification_ <= fitScale() + 0.01) {
    fitted_ = false;
    setMagnification(2.0, {x, y});
  } else {
    zoomToFit();
  }
}

bool ZoomableImageView::handleKey(std::string_view keyName) {
  switch (viewers::viewerKeyFor(keyName)) {
    case viewers::ViewerKey::next:
      if (onNext) onNext();
      return true;
    case viewers::ViewerKey::previous:
      if (onPrevious) onPrevious();
      return true;
    case viewers::ViewerKey::zoomIn: zoomBy(viewers::kZoomInFactor); return true;
    case viewers::ViewerKey::zoomOut: zoomBy(viewers::kZoomOutFactor); return true;
    case viewers::ViewerKey::fit: zoomToFit(); return true;
    case viewers::ViewerKey::none: return false;
  }
  return false;
}

void ZoomableImageView::onScroll(double dx, double dy, bool wheel, bool zoomModifier) {
  if (wheel || zoomModifier) {
    // Scrolling away from the user (negative dy) zooms in.
    zoomBy(viewers::wheelZoomFactor(-dy, !wheel), pointer_);
    return;
  }
  centre_.width += dx / magnification_;
  centre_.height += dy / magnification_;
  clampCentre();
  queue_draw();
}

void ZoomableImageView::clampCentre() {
  const Size image = imageSize();
  const Size view = viewSize();
  const auto clampAxis = [&](double& centre, double imageSide, double viewSide) {
    const double half = viewSide / (2 * magnification_);
    // A side smaller than the view sits in the middle; a larger one scrolls
    // without showing anything beyond its edges.
    centre = imageSide <= 2 * half ? imageSide / 2 : std::clamp(centre, half, imageSide - half);
  };
  clampAxis(centre_.width, image.width, view.width);
  clampAxis(centre_.height, image.height, view.height);
}

Size ZoomableImageView::imageCentreOnView() const {
  const Size view = viewSize();
  const Size image = imageSize();
  return {view.width / 2 + (image.width / 2 - centre_.width) * magnification_,
          view.height / 2 + (image.height / 2 - centre_.height) * magnification_};
}

void ZoomableImageView::size_allocate_vfunc(int, int, int) {
  if (fitted_) {
    magnification_ = fitScale();
    centre_ = {imageSize().width / 2, imageSize().height / 2};
  }
  clampCentre();
}

void ZoomableImageView::measure_vfunc(Gtk::Orientation, int, int& minimum, int& natural, int& minimumBaseline,
                                      int& naturalBaseline) const {
  minimum = 1;
  natural = 200;
  minimumBaseline = naturalBaseline = -1;
}

void ZoomableImageView::snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshot) {
  const Size view = viewSize();
  if (!dark_) {
    const Gdk::RGBA light(0.93, 0.93, 0.93, 1.0);
    graphene_rect_t all = GRAPHENE_RECT_INIT(0.0f, 0.0f, float(view.width), float(view.height));
    snapshot->append_color(light, &all);
  }
  if (!image_) return;
  const Size image = imageSize();
  const float x = float(view.width / 2 - centre_.width * magnification_);
  const float y = float(view.height / 2 - centre_.height * magnification_);
  graphene_rect_t bounds =
      GRAPHENE_RECT_INIT(x, y, float(image.width * magnification_), float(image.height * magnification_));
  snapshot->append_texture(image_, &bounds);
}

}  // namespace orvik
