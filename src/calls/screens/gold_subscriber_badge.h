// GoldSubscriberBadge: the gold mark of a paying subscriber. It shows the
// service's badge image once that has loaded, and until then, or when it
// cannot be loaded, a gold circle with a white crown at 0.48 of its size.
//
//   auto* badge = Gtk::make_managed<GoldSubscriberBadge>(34, subscriberBadgeImageURL(service));
//
// Owner: its parent widget. THREAD-SAFETY: main thread only.
#pragma once

#include <string>

#include <gtkmm/overlay.h>
#include <gtkmm/picture.h>

#include "calls/screens/call_image_loader.h"

namespace orvik {

class GoldSubscriberBadge : public Gtk::Overlay {
 public:
  GoldSubscriberBadge(int size, const std::string& imageURL);
  // Whether the badge image is shown (else the crown circle).
  bool showsImage() const { return picture_.get_visible(); }

 private:
  Gtk::Picture picture_;
  CallImageLoader::Handle loading_;
};

}  // namespace orvik
