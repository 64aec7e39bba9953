// The video player as the bridge opens it, under Xvfb, with a clip made by
// GStreamer for the test: the video plays (its position advances), the
// picture-in-picture button hides the window and the panel keeps playing,
// expand brings the window back still playing, closing the panel pauses the
// video and closes the window with nothing left covered, the two panels
// never stand together, and deleting the shown file closes everything that
// shows it. Screenshots go to the build tree's
// test-output/VideoPlayerIntegration/ folder for a person to look at.
#include <gdk/gdk.h>
#include <gtest/gtest.h>
#include <gtkmm.h>
#include <gtkmm/init.h>

#include <cmath>
#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

#include "files/test_support/video_fixtures.h"
#include "platform/dispatch/glib_main_queue.h"
#include "platform/test_support/main_loop.h"
#include "platform/test_support/scoped_environment.h"
#include "viewers/glass_video_player_view.h"
#include "viewers/image_pip_window.h"
#include "viewers/image_viewer_window.h"
#include "viewers/media_viewers.h"
#include "viewers/video_playback.h"
#include "viewers/video_pip_window.h"
#include "viewers/video_player_window.h"
#include "viewers/viewer_click_blocker.h"
#include "viewers/viewer_click_blocker_gtk.h"
#include "viewers/viewer_messages.h"

namespace orvik {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;

fs::path outputFolder() {
  const fs::path folder = fs::path(ORVIK_BINARY_DIR) / "test-output" / "VideoPlayerIntegration";
  fs::create_directories(folder);
  return folder;
}

Gtk::Widget* findNamed(Gtk::Widget* root, const std::string& name) {
  if (!root) return nullptr;
  if (std::string(root->get_name()) == name) return root;
  for (Gtk::Widget* child = root->get_first_child(); child; child = child->get_next_sibling()) {
    if (auto* found = findNamed(child, name)) return found;
  }
  return nullptr;
}

void screenshot(Gtk::Window& window, const std::string& name) {
  GdkPaintable* paintable = gtk_widget_paintable_new(GTK_WIDGET(window.gobj()));
  GtkSnapshot* snapshot = gtk_snapshot_new();
  gdk_paintable_snapshot(paintable, snapshot, window.get_width(), window.get_height());
  GskRenderNode* node = gtk_snapshot_free_to_node(snapshot);
  GskRenderer* renderer = gtk_native_get_renderer(GTK_NATIVE(window.gobj()));
  if (node && renderer) {
    GdkTexture* texture = gsk_renderer_render_texture(renderer, node, nullptr);
    gdk_texture_save_to_png(texture, (outputFolder() / (name + ".png")).c_str());
    g_object_unref(texture);
  }
  if (node) gsk_render_node_unref(node);
  g_object_unref(paintable);
}

void writePng(const fs::path& file, int width, int height, guint32 rgba) {
  auto pixbuf = Gdk::Pixbuf::create(Gdk::Colorspace::RGB, true, 8, width, height);
  pixbuf->fill(rgba);
  pixbuf->save(file.string(), "png");
}

class VideoPlayerIntegration : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    hasDisplay_ = gtk_init_check();
    if (hasDisplay_) Gtk::init_gtkmm_internals();
  }

  void SetUp() override {
    ASSERT_TRUE(hasDisplay_) << "needs a display: run under xvfb-run";
    docs_ = home_.dataHome() / "com.orvik.desk/Documents/Orvik";
    fs::create_directories(docs_);
    clip_ = docs_ / "video_clip.mp4";
    orvik::testing::ClipRecipe recipe;
    recipe.width = 320;
    recipe.height = 240;
    recipe.fps = 30;
    recipe.frames = 150;  // five seconds
    ASSERT_TRUE(orvik::testing::makeClip(clip_, recipe));

    main_ = std::make_unique<Gtk::Window>();
    main_->set_default_size(640, 480);
    overlay_ = Gtk::make_managed<Gtk::Overlay>();
    auto* page = Gtk::make_managed<Gtk::Label>("the page");
    page->set_hexpand(true);
    page->set_vexpand(true);
    overlay_->set_child(*page);
    main_->set_child(*overlay_);
    main_->present();
    surface_ = makeGtkBlockerSurface([this] { return overlay_; });
    blocker_ = std::make_unique<ViewerClickBlocker>(*surface_);

    videoPiP_ = std::make_shared<NativeVideoPiPWindow>(NativeVideoPiPWindow::Collaborators{
        nullptr, [this] { imagePiP_->close(); }});
    imagePiP_ = std::make_shared<NativeImagePiPWindow>(NativeImagePiPWindow::Collaborators{
        nullptr, [this] { videoPiP_->close(); }, [this](const std::string& path) { viewers_->showImage(path, false); }});
    imageViewer_ = std::make_shared<NativeImageViewerWindow>(NativeImageViewerWindow::Collaborators{
        *blocker_, nullptr, [] { return true; }, [this](const std::string& path) { imagePiP_->show(path); }});
    player_ = std::make_shared<NativeVideoPlayerWindow>(NativeVideoPlayerWindow::Collaborators{
        *blocker_, nullptr, [] { return true; }, [this] { imagePiP_->close(); }, videoPiP_, {}});
    MediaViewers::Windows windows;
    windows.video = player_;
    windows.image = imageViewer_;
    windows.videoPiP = videoPiP_;
    windows.imagePiP = imagePiP_;
    viewers_ = std::make_unique<MediaViewers>(std::move(windows));
    messages_ = std::make_unique<ViewerMessages>(*viewers_, std::weak_ptr<platform::PageScriptSink>(),
                                                 [this] { return docs_; });
  }

  void TearDown() override {
    if (!main_) return;
    player_->close();
    imageViewer_->close();
    videoPiP_->close();
    imagePiP_->close();
    messages_.reset();
    viewers_.reset();
    player_.reset();
    imageViewer_.reset();
    videoPiP_.reset();
    imagePiP_.reset();
    blocker_.reset();
    surface_.reset();
    main_.reset();
    orvik::testing::drainMainLoop();
  }

  void openClip(bool downloadAllowed) {
    messages_->openVideoModal({{"localFilePath", clip_.string()}, {"downloadAllowed", downloadAllowed}});
    ASSERT_TRUE(orvik::testing::runMainLoopUntil(
        [&] { return player_->window() && player_->window()->get_mapped() && player_->window()->get_opacity() >= 1.0; },
        20.0));
  }
  // Waits until the player's position moves `by` seconds past where it is now.
  static bool advances(VideoPlayback& player, double by = 0.4) {
    const double start = std::isfinite(player.currentTime()) ? player.currentTime() : 0;
    return orvik::testing::runMainLoopUntil(
        [&] { return std::isfinite(player.currentTime()) && player.currentTime() >= start + by; }, 20.0);
  }
  static void settle(double seconds = 0.3) {
    const gint64 until = g_get_monotonic_time() + gint64(seconds * 1e6);
    orvik::testing::runMainLoopUntil([&] { return g_get_monotonic_time() >= until; }, seconds + 5);
  }
  static Gtk::Button* button(Gtk::Widget* root, const std::string& name) {
    return dynamic_cast<Gtk::Button*>(findNamed(root, name));
  }
  // A click as the button reports it (activate() would add GTK's press delay).
  static void click(Gtk::Widget* root, const std::string& name) {
    Gtk::Button* found = button(root, name);
    ASSERT_TRUE(found) << name;
    g_signal_emit_by_name(found->gobj(), "clicked");
  }
  void enterPiP() {
    click(player_->window(), "orvik-video-pip");
    ASSERT_TRUE(orvik::testing::runMainLoopUntil(
        [&] { return videoPiP_->window() && videoPiP_->window()->get_mapped(); }, 20.0));
  }

  static inline bool hasDisplay_ = false;
  orvik::testing::TestHome home_;
  platform::GlibMainQueue queue_;
  platform::ScopedMainQueue scopedMain_{queue_};
  fs::path docs_;
  fs::path clip_;
  std::unique_ptr<Gtk::Window> main_;
  Gtk::Overlay* overlay_ = nullptr;
  std::unique_ptr<BlockerSurface> surface_;
  std::unique_ptr<ViewerClickBlocker> blocker_;
  std::shared_ptr<NativeVideoPiPWindow> videoPiP_;
  std::shared_ptr<NativeImagePiPWindow> imagePiP_;
  std::shared_ptr<NativeVideoPlayerWindow> player_;
  std::shared_ptr<NativeImageViewerWindow> imageViewer_;
  std::unique_ptr<MediaViewers> viewers_;
  std::unique_ptr<ViewerMessages> messages_;
};

TEST_F(VideoPlayerIntegration, PlaysMovesIntoThePanelAndBackStillPlayingAndClosingThePanelPauses) {
  openClip(true);
  Gtk::Window& window = *player_->window();
  EXPECT_EQ(std::string(window.get_title()), "video_clip.mp4");
  EXPECT_EQ(player_->currentFilePath(), clip_.string());
  EXPECT_TRUE(button(&window, "orvik-tool-download"));
  int width = 0, height = 0;
  window.get_default_size(width, height);
  EXPECT_LE(width, 960);
  EXPECT_LE(height, 600);
  EXPECT_TRUE(blocker_->isCovering());
  EXPECT_EQ(blocker_->activeCount(), 1);
  int minimumWidth = 0, minimumHeight = 0;
  player_->playerView()->get_size_request(minimumWidth, minimumHeight);
  EXPECT_EQ(minimumWidth, 360);
  EXPECT_EQ(minimumHeight, 260);

  auto playback = player_->playerView()->player();
  ASSERT_TRUE(advances(*playback)) << "the video does not play";
  EXPECT_FALSE(playback->isPaused());
  EXPECT_EQ(player_->playerView()->playPauseSymbol(), "pause.fill");
  EXPECT_EQ(gdk_paintable_get_intrinsic_width(playback->paintable()), 320);
  auto* elapsed = dynamic_cast<Gtk::Label*>(findNamed(&window, "orvik-video-current-time"));
  auto* total = dynamic_cast<Gtk::Label*>(findNamed(&window, "orvik-video-duration"));
  ASSERT_TRUE(elapsed && total);
  ASSERT_TRUE(orvik::testing::runMainLoopUntil([&] { return std::string(total->get_text()) == "0:05"; }, 10.0));
  screenshot(window, "video-window-playing");

  enterPiP();
  EXPECT_FALSE(window.get_visible());
  EXPECT_FALSE(blocker_->isCovering());
  EXPECT_EQ(blocker_->activeCount(), 0);
  int pipWidth = 0, pipHeight = 0;
  videoPiP_->window()->get_default_size(pipWidth, pipHeight);
  EXPECT_EQ(pipWidth, 440);
  EXPECT_EQ(pipHeight, 248);
  EXPECT_TRUE(advances(*playback)) << "the panel stopped the video";
  settle();
  screenshot(*videoPiP_->window(), "video-panel-playing");

  click(videoPiP_->window(), "orvik-pip-expand");
  ASSERT_TRUE(orvik::testing::runMainLoopUntil([&] { return window.get_visible() && !videoPiP_->window(); }, 10.0));
  EXPECT_FALSE(playback->isPaused());
  EXPECT_TRUE(advances(*playback, 0.2)) << "expanding stopped the video";
  EXPECT_TRUE(blocker_->isCovering());
  EXPECT_EQ(blocker_->activeCount(), 1);

  enterPiP();
  click(videoPiP_->window(), "orvik-pip-close");
  ASSERT_TRUE(orvik::testing::runMainLoopUntil([&] { return !player_->window(); }, 10.0));
  EXPECT_TRUE(playback->isPaused());
  EXPECT_FALSE(videoPiP_->window());
  EXPECT_FALSE(player_->currentFilePath());
  EXPECT_FALSE(blocker_->isCovering());
  EXPECT_EQ(blocker_->activeCount(), 0);
  EXPECT_FALSE(findNamed(main_.get(), "orvik-viewer-click-blocker"));
}

TEST_F(VideoPlayerIntegration, PressingThePictureTogglesPlaybackAndPlayAtTheEndStartsAgain) {
  openClip(false);
  EXPECT_FALSE(button(player_->window(), "orvik-tool-download"));
  GlassVideoPlayerView& view = *player_->playerView();
  auto playback = view.player();
  ASSERT_TRUE(advances(*playback, 0.2));
  click(player_->window(), "orvik-video-play-pause");
  EXPECT_TRUE(playback->isPaused());
  EXPECT_EQ(view.playPauseSymbol(), "play.fill");

  // A press on the picture, as GTK delivers it, plays again.
  bool pressed = false;
  auto controllers = findNamed(&view, "orvik-video-picture")->observe_controllers();
  for (guint i = 0; i < controllers->get_n_items(); ++i) {
    auto gesture = std::dynamic_pointer_cast<Gtk::GestureClick>(controllers->get_object(i));
    if (!gesture) continue;
    g_signal_emit_by_name(gesture->gobj(), "pressed", 1, 10.0, 10.0);
    pressed = true;
  }
  ASSERT_TRUE(pressed);
  EXPECT_FALSE(playback->isPaused());
  EXPECT_EQ(view.playPauseSymbol(), "pause.fill");

  // A forward skip lands on the end; the end pauses and a play starts over.
  ASSERT_TRUE(orvik::testing::runMainLoopUntil([&] { return view.controls().knownDuration() > 0; }, 10.0));
  click(player_->window(), "orvik-video-forward");
  ASSERT_TRUE(orvik::testing::runMainLoopUntil([&] { return view.playPauseSymbol() == "play.fill"; }, 20.0))
      << "the end was not reached";
  EXPECT_TRUE(playback->isPaused());
  EXPECT_TRUE(view.controls().isAtEnd());
  view.controls().togglePlayPause();
  EXPECT_FALSE(playback->isPaused());
  ASSERT_TRUE(orvik::testing::runMainLoopUntil(
      [&] { return std::isfinite(playback->currentTime()) && playback->currentTime() < 2.0; }, 10.0));
  EXPECT_TRUE(advances(*playback, 0.2));
}

TEST_F(VideoPlayerIntegration, DeletingTheVideoInThePanelClosesThePanelAndTheHiddenWindow) {
  openClip(false);
  enterPiP();
  messages_->deleteLocalFiles({{"filePaths", {clip_.string()}}});
  EXPECT_FALSE(fs::exists(clip_));
  ASSERT_TRUE(orvik::testing::runMainLoopUntil([&] { return !player_->window() && !videoPiP_->window(); }, 10.0));
  EXPECT_FALSE(blocker_->isCovering());
  EXPECT_EQ(blocker_->activeCount(), 0);
}

TEST_F(VideoPlayerIntegration, DeletingTheShownVideoClosesItsWindow) {
  openClip(false);
  auto playback = player_->playerView()->player();
  messages_->deleteLocalFiles({{"filePaths", {clip_.string()}}});
  EXPECT_FALSE(fs::exists(clip_));
  ASSERT_TRUE(orvik::testing::runMainLoopUntil([&] { return !player_->window(); }, 10.0));
  EXPECT_TRUE(playback->isPaused());
  EXPECT_FALSE(blocker_->isCovering());
}

TEST_F(VideoPlayerIntegration, ThePanelsNeverStandTogether) {
  const fs::path image = docs_ / "wide.png";
  writePng(image, 4000, 3000, 0x3366ccff);
  openClip(false);
  auto playback = player_->playerView()->player();
  enterPiP();

  // The image panel closes the video panel, which counts as a close.
  imagePiP_->show(image.string());
  ASSERT_TRUE(imagePiP_->window());
  ASSERT_TRUE(orvik::testing::runMainLoopUntil([&] { return !videoPiP_->window() && !player_->window(); }, 10.0));
  EXPECT_TRUE(playback->isPaused());
  int width = 0, height = 0;
  imagePiP_->window()->get_default_size(width, height);
  EXPECT_LE(width, 420);
  EXPECT_GE(width, 160);
  EXPECT_EQ(imagePiP_->currentFilePath(), image.string());
  settle();
  screenshot(*imagePiP_->window(), "image-panel");

  // And a new video closes the image panel.
  openClip(false);
  EXPECT_FALSE(imagePiP_->window());
  EXPECT_FALSE(imagePiP_->currentFilePath());
}

TEST_F(VideoPlayerIntegration, AnImagePoppedOutComesBackAloneInTheViewer) {
  const fs::path image = docs_ / "tall.png";
  writePng(image, 300, 600, 0x22aa44ff);
  messages_->openImageGallery({{"localFilePaths", {image.string()}},
                               {"messageIds", {"m1"}},
                               {"downloadAllowed", {true}}});
  ASSERT_TRUE(orvik::testing::runMainLoopUntil(
      [&] { return imageViewer_->window() && imageViewer_->window()->get_mapped(); }, 20.0));
  EXPECT_TRUE(button(imageViewer_->window(), "orvik-tool-reply"));
  click(imageViewer_->window(), "orvik-tool-popOut");
  ASSERT_TRUE(orvik::testing::runMainLoopUntil([&] { return imagePiP_->window() && !imageViewer_->window(); }, 10.0));
  EXPECT_EQ(imagePiP_->currentFilePath(), image.string());
  EXPECT_FALSE(blocker_->isCovering());  // the panel holds no blocker

  click(imagePiP_->window(), "orvik-pip-expand");
  ASSERT_TRUE(orvik::testing::runMainLoopUntil(
      [&] { return imageViewer_->window() && imageViewer_->window()->get_mapped(); }, 20.0));
  EXPECT_FALSE(imagePiP_->window());
  EXPECT_EQ(imageViewer_->filePaths(), std::vector<std::string>{image.string()});
  EXPECT_FALSE(button(imageViewer_->window(), "orvik-tool-reply"));
  EXPECT_FALSE(button(imageViewer_->window(), "orvik-tool-download"));
  EXPECT_TRUE(blocker_->isCovering());
}

}  // namespace
}  // namespace orvik
