// The image viewer's picture: fits the image to the view (never beyond one
// image pixel per screen pixel), keeps a smaller image centred, and zooms
// about a point between 0.1× and 8× by toolbar, keys (+ = - _ 0, arrows
// navigate), mouse wheel, precise scrolling with Ctrl held (without it
// precise scrolling pans), pinch and double-click. While fitted, every
// resize refits; any manual zoom leaves the fitted state until zoomToFit.
// No context menu.
// THREAD-SAFETY: GTK's thread.
#pragma once

#include <gtkmm.h>

#include <functional>
#include <optional>

#include "viewers/viewer_rules.h"

namespace orvik {

class ZoomableImageView : public Gtk::Widget {
 public:
  ZoomableImageView(Glib::RefPtr<Gdk::Texture> image, bool dark);

  void setImage(Glib::RefPtr<Gdk::Texture> image);
  void zoomToFit();
  // Multiplies the magnification about `point` (view coordinates), or about
  // the middle of the view.
  void zoomBy(double factor, std::optional<viewers::Size> point = std::nullopt);
  // Double-click: 2× at the point while fitted, else back to fit.
  void toggleZoom(double x, double y);
  bool handleKey(std::string_view keyName);

  double magnification() const { return magnification_; }
  bool isFitted() const { return fitted_; }
  double fitScale() const;
  std::optional<double> pixelScale() const;
  // Where the image's middle is drawn, for tests.
  viewers::Size imageCentreOnView() const;

  std::function<void()> onNext;
  std::function<void()> onPrevious;

 protected:
  void snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshot) override;
  void size_allocate_vfunc(int width, int height, int baseline) override;
  void measure_vfunc(Gtk::Orientation orientation, int forSize, int& minimum, int& natural, int& minimumBaseline,
                     int& naturalBaseline) const override;

 private:
  viewers::Size imageSize() const;
  viewers::Size viewSize() const;
  void setMagnification(double magnification, viewers::Size about);
  void clampCentre();
  void onScroll(double dx, double dy, bool wheel, bool zoomModifier);

  Glib::RefPtr<Gdk::Texture> image_;
  bool dark_;
  double magnification_ = 1.0;
  viewers::Size centre_;  // the image point shown in the middle of the view
  bool fitted_ = true;
  viewers::Size pointer_;
  double pinchScale_ = 1.0;
};

}  // namespace orvik
