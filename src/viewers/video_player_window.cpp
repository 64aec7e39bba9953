#include "viewers/video_player_window.h"

#include <filesystem>
#include <utility>

#include "files/orvik_helper.h"
#include "viewers/glass_video_player_view.h"
#include "viewers/video_playback.h"
#include "viewers/video_pip_window.h"
#include "viewers/viewer_click_blocker.h"
#include "viewers/viewer_rules.h"
#include "viewers/viewer_toolbar.h"
#include "viewers/viewer_window_chrome.h"

namespace orvik {
namespace fs = std::filesystem;

NativeVideoPlayerWindow::NativeVideoPlayerWindow(Collaborators collaborators) : c_(std::move(collaborators)) {
  if (!c_.makePlayback) c_.makePlayback = makeGstVideoPlayback;
}

NativeVideoPlayerWindow::~NativeVideoPlayerWindow() {
  if (window_) onClosed();
}

void NativeVideoPlayerWindow::open(const std::string& path, bool downloadAllowed) {
  if (c_.closeImagePiP) c_.closeImagePiP();
  // With this video in the panel, this closes the hidden window too.
  if (auto pip = c_.videoPiP.lock()) pip->close();
  if (window_) close();
  downloadAllowed_ = downloadAllowed;
  currentFilePath_ = path;
  showWindow(path);
}

void NativeVideoPlayerWindow::showWindow(const std::string& path) {
  const viewers::Size size = viewers::singleViewerSize(viewerScreen());
  const bool dark = c_.isDarkMode ? c_.isDarkMode() : true;
  window_ = std::make_unique<Gtk::Window>();
  window_->set_name("orvik-video-player");
  window_->set_title(fs::path(path).filename().string());
  window_->set_default_size(int(size.width), int(size.height));
  toolbar_ = std::make_unique<ViewerToolbar>(*window_);
  applyViewerLook(*window_, dark);

  const std::weak_ptr<NativeVideoPlayerWindow> weak = weak_from_this();
  c_.blocker.activateBlocker(this, [weak] {
    if (auto self = weak.lock()) self->close();
  });
  playerView_ = Gtk::make_managed<GlassVideoPlayerView>(c_.makePlayback(path));
  playerView_->set_size_request(kMinimumWidth, kMinimumHeight);
  window_->set_child(*playerView_);
  if (downloadAllowed_) {
    toolbar_->setGroups({{{"download", "arrow.down.to.line", "Download", [weak] {
                             if (auto self = weak.lock()) self->download();
                           }}}});
  }
  playerView_->onEnterPiP = [weak] {
    if (auto self = weak.lock()) self->enterPiP();
  };
  window_->signal_close_request().connect(
      [weak] {
        if (auto self = weak.lock()) self->onClosed();
        return false;
      },
      false);
  presentViewerWindow(*window_);
  playerView_->startPlayback();
}

void NativeVideoPlayerWindow::enterPiP() {
  auto pip = c_.videoPiP.lock();
  if (!window_ || !playerView_ || !pip) return;
  window_->hide();
  playerView_->detachPlayer();
  c_.blocker.deactivateBlocker(this);
  const std::weak_ptr<NativeVideoPlayerWindow> weak = weak_from_this();
  pip->show(
      playerView_->player(),
      [weak] {
        if (auto self = weak.lock()) self->returnFromPiP();
      },
      [weak] {
        auto self = weak.lock();
        if (!self) return;
        self->c_.blocker.deactivateBlocker(self.get());
        self->close();
      });
}

void NativeVideoPlayerWindow::returnFromPiP() {
  if (!window_) return;
  if (playerView_) playerView_->attachPlayer();
  const std::weak_ptr<NativeVideoPlayerWindow> weak = weak_from_this();
  c_.blocker.activateBlocker(this, [weak] {
    if (auto self = weak.lock()) self->close();
  });
  window_->present();
}

void NativeVideoPlayerWindow::download() {
  if (!currentFilePath_ || !c_.helper || !downloadAllowed_) return;
  c_.helper->saveWithPanel(*currentFilePath_,
                           viewers::suggestedVideoName(fs::path(*currentFilePath_).filename().string()),
                           window_.get());
}

void NativeVideoPlayerWindow::close() {
  if (!window_) return;
  onClosed();
}

void NativeVideoPlayerWindow::onClosed() {
  if (!window_) return;
  if (playerView_) playerView_->teardown();
  playerView_ = nullptr;
  auto window = std::move(window_);
  window->hide();
  toolbar_.reset();
  currentFilePath_.reset();
  c_.blocker.deactivateBlocker(this);
  // Dropped once GTK is done with the close it may be inside of; the player
  // goes with the window's view.
  Glib::signal_idle().connect_once([window = std::shared_ptr<Gtk::Window>(std::move(window))] {});
}

}  // namespace orvik
