#include "viewers/image_viewer_window.h"

#include <algorithm>
#include <filesystem>

#include "files/orvik_helper.h"
#include "viewers/auto_hiding_chrome.h"
#include "viewers/viewer_click_blocker.h"
#include "viewers/viewer_rules.h"
#include "viewers/viewer_toolbar.h"
#include "viewers/viewer_window_chrome.h"
#include "viewers/zoomable_image_view.h"

namespace orvik {
namespace fs = std::filesystem;

Glib::RefPtr<Gdk::Texture> loadImageTexture(const std::string& path) {
  try {
    return Gdk::Texture::create_from_filename(path);
  } catch (const Glib::Error&) {
    return {};
  }
}

NativeImageViewerWindow::NativeImageViewerWindow(Collaborators collaborators) : c_(std::move(collaborators)) {}

NativeImageViewerWindow::~NativeImageViewerWindow() {
  if (window_) c_.blocker.deactivateBlocker(this);
}

void NativeImageViewerWindow::show(GallerySelection selection) {
  if (selection.startIndex >= selection.paths.size()) return;
  // A new open replaces the window and gallery on show.
  if (window_) close();
  filePaths_ = std::move(selection.paths);
  currentIndex_ = selection.startIndex;
  currentFilePath_ = filePaths_[currentIndex_];
  messageIds_ = std::move(selection.messageIds);
  onReply_ = messageIds_ ? std::move(selection.onReply) : nullptr;
  downloadAllowed_ = std::move(selection.downloadAllowed);
  build();
}

void NativeImageViewerWindow::build() {
  auto image = loadImageTexture(*currentFilePath_);
  if (!image) return;
  const bool dark = c_.isDarkMode ? c_.isDarkMode() : true;
  const std::size_t count = filePaths_.size();
  const viewers::Size size = viewers::imageViewerSize(count, viewerScreen());

  window_ = std::make_unique<Gtk::Window>();
  window_->set_name("orvik-image-viewer");
  window_->set_title(fs::path(*currentFilePath_).filename().string());
  window_->set_default_size(int(size.width), int(size.height));
  toolbar_ = std::make_unique<ViewerToolbar>(*window_);
  applyViewerLook(*window_, dark);

  auto* overlay = Gtk::make_managed<Gtk::Overlay>();
  auto* column = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 0);
  imageView_ = Gtk::make_managed<ZoomableImageView>(image, dark);
  const auto weak = weak_from_this();
  imageView_->onPrevious = [weak] {
    if (auto self = weak.lock(); self && self->currentIndex_ > 0) self->navigate(self->currentIndex_ - 1);
  };
  imageView_->onNext = [weak] {
    if (auto self = weak.lock()) self->navigate(self->currentIndex_ + 1);
  };
  column->append(*imageView_);
  overlay->set_child(*column);

  std::vector<std::vector<ViewerToolButton>> groups = {
      {{"zoomOut", "minus.magnifyingglass", "Zoom Out",
        [weak] { if (auto s = weak.lock(); s && s->imageView_) s->imageView_->zoomBy(viewers::kZoomOutFactor); }},
       {"zoomIn", "plus.magnifyingglass", "Zoom In",
        [weak] { if (auto s = weak.lock(); s && s->imageView_) s->imageView_->zoomBy(viewers::kZoomInFactor); }}},
      {{"popOut", "pip.enter", "Pop Out", [weak] { if (auto s = weak.lock()) s->popOut(); }}},
  };
  const bool anyDownload =
      downloadAllowed_ && std::any_of(downloadAllowed_->begin(), downloadAllowed_->end(), [](bool b) { return b; });
  if (anyDownload) {
    groups.push_back({{"download", "arrow.down.to.line", "Download", [weak] {
                         if (auto s = weak.lock()) s->download();
                       }}});
  }
  if (onReply_) {
    groups.push_back({{"reply", "arrowshape.turn.up.left", "Reply", [weak] {
                         if (auto s = weak.lock()) s->reply();
                       }}});
  }
  toolbar_->setGroups(std::move(groups));
  if (anyDownload) applyDownloadRule();

  thumbs_.clear();
  previous_ = next_ = nullptr;
  strip_ = nullptr;
  std::vector<Gtk::Widget*> chromeViews;
  if (count >= 2) {
    auto makeArrow = [&](const char* icon, const char* name, Gtk::Align side, std::function<void()> action) {
      auto* arrow = Gtk::make_managed<Gtk::Button>();
      arrow->set_icon_name(icon);
      arrow->set_name(name);
      arrow->add_css_class("flat");
      arrow->set_size_request(40, 40);
      arrow->signal_clicked().connect(action);
      // The glass behind the arrow is what fades with the chrome.
      auto* glass = makeGlassBackground(20, dark);
      glass->set_size_request(40, 40);
      glass->set_halign(side);
      glass->set_valign(Gtk::Align::CENTER);
      glass->set_margin_start(16);
      glass->set_margin_end(16);
      glass->set_margin_bottom(int(viewers::kStripHeight));
      glass->append(*arrow);
      overlay->add_overlay(*glass);
      chromeViews.push_back(glass);
      return arrow;
    };
    previous_ = makeArrow("go-previous-symbolic", "orvik-viewer-previous", Gtk::Align::START, [weak] {
      if (auto s = weak.lock(); s && s->currentIndex_ > 0) s->navigate(s->currentIndex_ - 1);
    });
    next_ = makeArrow("go-next-symbolic", "orvik-viewer-next", Gtk::Align::END, [weak] {
      if (auto s = weak.lock()) s->navigate(s->currentIndex_ + 1);
    });

    strip_ = Gtk::make_managed<Gtk::ScrolledWindow>();
    strip_->set_policy(Gtk::PolicyType::EXTERNAL, Gtk::PolicyType::NEVER);
    strip_->set_size_request(-1, int(viewers::kStripHeight));
    auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    row->set_margin_start(16);
    row->set_margin_end(16);
    row->set_halign(Gtk::Align::CENTER);
    row->set_valign(Gtk::Align::CENTER);
    for (std::size_t i = 0; i < count; ++i) {
      auto* tile = Gtk::make_managed<Gtk::Button>();
      tile->set_name("orvik-thumb-" + std::to_string(i));
      tile->add_css_class("flat");
      tile->set_size_request(int(viewers::kThumbSide), int(viewers::kThumbSide));
      auto* picture = Gtk::make_managed<Gtk::Picture>();
      picture->set_can_shrink(true);
      picture->set_keep_aspect_ratio(true);
      try {
        auto pixbuf = Gdk::Pixbuf::create_from_file(filePaths_[i], 144, 144, true);
        picture->set_paintable(Gdk::Texture::create_for_pixbuf(pixbuf));
      } catch (const Glib::Error&) {
        // An unreadable file leaves its tile empty.
      }
      tile->set_child(*picture);
      tile->signal_clicked().connect([weak, i] {
        if (auto s = weak.lock()) {
          s->navigate(i);
          if (s->imageView_) s->imageView_->grab_focus();
        }
      });
      row->append(*tile);
      thumbs_.push_back(tile);
    }
    strip_->set_child(*row);
    column->append(*strip_);
    applyArrowRule();
  }

  window_->set_child(*overlay);
  window_->signal_close_request().connect(
      [weak] {
        if (auto s = weak.lock()) s->onClosed();
        return false;
      },
      false);
  c_.blocker.activateBlocker(this, [weak] {
    if (auto s = weak.lock()) s->close();
  });
  chrome_ = attachAutoHidingChrome(*overlay, std::move(chromeViews));
  presentViewerWindow(*window_);
  imageView_->grab_focus();
  applySelectionRule();
  chrome_->showChrome();
}

void NativeImageViewerWindow::navigate(std::size_t index) {
  if (!window_ || index >= filePaths_.size() || index == currentIndex_) return;
  auto image = loadImageTexture(filePaths_[index]);
  if (!image) return;
  currentIndex_ = index;
  currentFilePath_ = filePaths_[index];
  imageView_->setImage(image);
  window_->set_title(fs::path(*currentFilePath_).filename().string());
  applyArrowRule();
  applyDownloadRule();
  applySelectionRule();
}

void NativeImageViewerWindow::applyArrowRule() {
  const auto apply = [](Gtk::Button* arrow, bool enabled) {
    if (!arrow) return;
    arrow->set_sensitive(enabled);
    arrow->set_opacity(enabled ? 1.0 : 0.35);
  };
  apply(previous_, viewers::canGoPrevious(currentIndex_));
  apply(next_, viewers::canGoNext(currentIndex_, filePaths_.size()));
}

void NativeImageViewerWindow::applyDownloadRule() {
  const bool allowed = downloadAllowed_ && currentIndex_ < downloadAllowed_->size() && (*downloadAllowed_)[currentIndex_];
  toolbar_->setButtonHidden("download", !allowed);
}

void NativeImageViewerWindow::applySelectionRule() {
  for (std::size_t i = 0; i < thumbs_.size(); ++i) {
    const bool current = i == currentIndex_;
    thumbs_[i]->set_opacity(current ? 1.0 : 0.55);
    if (current) {
      thumbs_[i]->add_css_class("orvik-selected");
      thumbs_[i]->set_state_flags(Gtk::StateFlags::SELECTED, false);
    } else {
      thumbs_[i]->remove_css_class("orvik-selected");
      thumbs_[i]->unset_state_flags(Gtk::StateFlags::SELECTED);
    }
  }
  if (strip_ && currentIndex_ < thumbs_.size()) {
    auto adjustment = strip_->get_hadjustment();
    const double x = viewers::thumbX(currentIndex_);
    adjustment->clamp_page(std::max(0.0, x - 24), x + viewers::kThumbSide + 24);
  }
}

void NativeImageViewerWindow::download() {
  if (!currentFilePath_ || !c_.helper) return;
  const bool allowed = downloadAllowed_ && currentIndex_ < downloadAllowed_->size() && (*downloadAllowed_)[currentIndex_];
  if (!allowed) return;
  c_.helper->saveWithPanel(*currentFilePath_, viewers::suggestedImageName(fs::path(*currentFilePath_).filename().string()),
                           window_.get());
}

void NativeImageViewerWindow::popOut() {
  if (!currentFilePath_) return;
  if (c_.popOut) {
    Glib::signal_idle().connect_once([popOut = c_.popOut, path = *currentFilePath_] { popOut(path); });
  }
  close();
}

void NativeImageViewerWindow::reply() {
  if (!messageIds_ || currentIndex_ >= messageIds_->size()) return;
  if (onReply_) onReply_((*messageIds_)[currentIndex_]);
  close();
}

void NativeImageViewerWindow::close() {
  if (!window_) return;
  onClosed();
}

void NativeImageViewerWindow::onClosed() {
  if (!window_) return;
  auto window = std::move(window_);
  window->hide();
  toolbar_.reset();
  chrome_.reset();
  imageView_ = nullptr;
  previous_ = next_ = nullptr;
  thumbs_.clear();
  strip_ = nullptr;
  currentFilePath_.reset();
  filePaths_.clear();
  currentIndex_ = 0;
  messageIds_.reset();
  onReply_ = nullptr;
  downloadAllowed_.reset();
  c_.blocker.deactivateBlocker(this);
  // Dropped once GTK is done with the close it may be inside of.
  Glib::signal_idle().connect_once([window = std::shared_ptr<Gtk::Window>(std::move(window))] {});
}

}  // namespace orvik
