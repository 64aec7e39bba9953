// The update card over the main window's page: "Update Available", the
// version line or the download's progress, its error in orange, the Update
// button, the installing spinner, and the close button that puts the offer
// off for a day. It renders presentUpdateCard() of the update service's and
// the downloader's state, and re-renders whenever either changes; it fades in
// and out, and sits beside the page's side strip (with an arrow pointing at
// it) while a user is signed in, else in the lower-right corner.
//
//   auto* card = Gtk::make_managed<UpdateCard>(service, downloader, [&] { return theme.isDarkMode(); });
//   pageOverlay.add_overlay(*card);
//
// Owner: the overlay it is added to. THREAD-SAFETY: main thread only.
#pragma once

#include <functional>

#include <gtkmm.h>

#include "platform/observer_list.h"
#include "updater/update_card_presenter.h"

namespace orvik {

class UpdateDownloader;
class UpdateService;

class UpdateCard : public Gtk::Revealer {
 public:
  UpdateCard(UpdateService& service, UpdateDownloader& downloader, std::function<bool()> isDarkMode);
  ~UpdateCard() override;

  const UpdateCardModel& model() const { return model_; }
  // What the buttons do.
  void pressUpdate();
  void pressLater();

  Gtk::Label& subtitleLabel() { return subtitle_; }
  Gtk::Button& updateButton() { return updateButton_; }
  Gtk::Button& closeButton() { return closeButton_; }

 private:
  void render();
  void drawArrow(const Cairo::RefPtr<Cairo::Context>& context, int width, int height);

  UpdateService& service_;
  UpdateDownloader& downloader_;
  std::function<bool()> isDarkMode_;
  UpdateCardModel model_;
  bool dark_ = true;
  platform::Subscription serviceObserver_;
  platform::Subscription downloaderObserver_;

  Gtk::Box outer_{Gtk::Orientation::HORIZONTAL};
  Gtk::DrawingArea arrow_;
  Gtk::Overlay cardOverlay_;
  Gtk::Box card_{Gtk::Orientation::VERTICAL};
  Gtk::Box row_{Gtk::Orientation::HORIZONTAL, 16};
  Gtk::Box texts_{Gtk::Orientation::VERTICAL, 4};
  Gtk::Label title_;
  Gtk::Label subtitle_;
  Gtk::Box actions_{Gtk::Orientation::HORIZONTAL, 6};
  Gtk::Button updateButton_;
  Gtk::Spinner spinner_;
  Gtk::Label installing_;
  Gtk::ProgressBar progress_;
  Gtk::Button closeButton_;
};

}  // namespace orvik
