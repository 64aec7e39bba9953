// The image viewer as the bridge opens it, under Xvfb: a gallery whose middle
// file is missing opens on the right image, the arrows and the strip move
// the selection, and a click on the main window closes the viewer and leaves
// nothing covered. Screenshots of the viewer are kept in the build tree's
// test-output/ImageViewerIntegration/ folder for a person to look at.
#include <gtest/gtest.h>
#include <gtkmm.h>
#include <gtkmm/init.h>

#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/dispatch/glib_main_queue.h"
#include "platform/test_support/main_loop.h"
#include "platform/test_support/scoped_environment.h"
#include "platform/test_support/temp_dir.h"
#include "viewers/auto_hiding_chrome.h"
#include "viewers/image_viewer_window.h"
#include "viewers/media_viewers.h"
#include "viewers/viewer_click_blocker.h"
#include "viewers/viewer_click_blocker_gtk.h"
#include "viewers/viewer_messages.h"
#include "viewers/viewer_toolbar.h"
#include "viewers/zoomable_image_view.h"

namespace orvik {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;

fs::path outputFolder() {
  const fs::path folder = fs::path(ORVIK_BINARY_DIR) / "test-output" / "ImageViewerIntegration";
  fs::create_directories(folder);
  return folder;
}

void writePng(const fs::path& file, int width, int height, guint32 rgba) {
  auto pixbuf = Gdk::Pixbuf::create(Gdk::Colorspace::RGB, true, 8, width, height);
  pixbuf->fill(rgba);
  pixbuf->save(file.string(), "png");
}

// Finds the descendant of `root` named `name`.
Gtk::Widget* findNamed(Gtk::Widget* root, const std::string& name) {
  if (!root) return nullptr;
  if (std::string(root->get_name()) == name) return root;
  for (Gtk::Widget* child = root->get_first_child(); child; child = child->get_next_sibling()) {
    if (auto* found = findNamed(child, name)) return found;
  }
  return nullptr;
}

// The window as it is drawn now, saved as PNG.
void screenshot(Gtk::Window& window, const std::string& name) {
  GdkPaintable* paintable = gtk_widget_paintable_new(GTK_WIDGET(window.gobj()));
  const int width = window.get_width(), height = window.get_height();
  GtkSnapshot* snapshot = gtk_snapshot_new();
  gdk_paintable_snapshot(paintable, snapshot, width, height);
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

class ImageViewerIntegration : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    hasDisplay_ = gtk_init_check();
    if (hasDisplay_) Gtk::init_gtkmm_internals();
  }

  void SetUp() override {
    ASSERT_TRUE(hasDisplay_) << "needs a display: run under xvfb-run";
    docs_ = home_.dataHome() / "com.orvik.desk/Documents/Orvik";
    fs::create_directories(docs_);
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
    viewer_ = std::make_shared<NativeImageViewerWindow>(
        NativeImageViewerWindow::Collaborators{*blocker_, nullptr, [this] { return dark_; }, {}});
    MediaViewers::Windows windows;
    windows.image = viewer_;
    viewers_ = std::make_unique<MediaViewers>(std::move(windows));
    messages_ = std::make_unique<ViewerMessages>(*viewers_, std::weak_ptr<platform::PageScriptSink>(),
                                                 [this] { return docs_; });
  }

  void TearDown() override {
    if (!main_) return;
    viewer_->close();
    messages_.reset();
    viewers_.reset();
    viewer_.reset();
    blocker_.reset();
    surface_.reset();
    main_.reset();
    orvik::testing::drainMainLoop();
  }

  void openGallery(const std::vector<fs::path>& files, int start) {
    json paths = json::array();
    for (const auto& file : files) paths.push_back(file.string());
    messages_->openImageGallery({{"localFilePaths", paths}, {"startIndex", start}});
    ASSERT_TRUE(orvik::testing::runMainLoopUntil(
        [&] { return viewer_->window() && viewer_->window()->get_mapped() && viewer_->window()->get_opacity() >= 1.0; },
        20.0));
    settle();
  }
  static void settle(double seconds = 0.3) {
    const gint64 until = g_get_monotonic_time() + gint64(seconds * 1e6);
    orvik::testing::runMainLoopUntil([&] { return g_get_monotonic_time() >= until; }, seconds + 5);
  }
  Gtk::Button* button(const std::string& name) {
    return dynamic_cast<Gtk::Button*>(findNamed(viewer_->window(), name));
  }

  static inline bool hasDisplay_ = false;
  orvik::testing::TestHome home_;
  platform::GlibMainQueue queue_;
  platform::ScopedMainQueue scopedMain_{queue_};
  fs::path docs_;
  bool dark_ = true;
  std::unique_ptr<Gtk::Window> main_;
  Gtk::Overlay* overlay_ = nullptr;
  std::unique_ptr<BlockerSurface> surface_;
  std::unique_ptr<ViewerClickBlocker> blocker_;
  std::shared_ptr<NativeImageViewerWindow> viewer_;
  std::unique_ptr<MediaViewers> viewers_;
  std::unique_ptr<ViewerMessages> messages_;
};

TEST_F(ImageViewerIntegration, AGalleryWithAMissingFileOpensOnTheRightImageAndItsControlsMoveTheSelection) {
  const fs::path red = docs_ / "red.png", blue = docs_ / "blue.png", green = docs_ / "green.png";
  writePng(red, 800, 600, 0xcc2222ff);
  writePng(green, 300, 500, 0x22aa44ff);
  openGallery({red, blue, green}, 2);

  EXPECT_EQ(viewer_->filePaths(), (std::vector<std::string>{red.string(), green.string()}));
  EXPECT_EQ(viewer_->currentIndex(), 1u);
  EXPECT_EQ(viewer_->currentFilePath(), green.string());
  EXPECT_EQ(std::string(viewer_->window()->get_title()), "green.png");
  ASSERT_TRUE(button("orvik-viewer-previous") && button("orvik-viewer-next"));
  EXPECT_TRUE(button("orvik-viewer-previous")->get_sensitive());
  EXPECT_FALSE(button("orvik-viewer-next")->get_sensitive());
  EXPECT_NEAR(button("orvik-viewer-next")->get_opacity(), 0.35, 0.01);
  ASSERT_TRUE(button("orvik-thumb-0") && button("orvik-thumb-1"));
  EXPECT_FALSE(button("orvik-thumb-2"));
  EXPECT_DOUBLE_EQ(button("orvik-thumb-1")->get_opacity(), 1.0);
  EXPECT_NEAR(button("orvik-thumb-0")->get_opacity(), 0.55, 0.01);
  // No download flags and no message ids: neither group.
  EXPECT_TRUE(button("orvik-tool-zoomIn"));
  EXPECT_TRUE(button("orvik-tool-popOut"));
  EXPECT_FALSE(button("orvik-tool-download"));
  EXPECT_FALSE(button("orvik-tool-reply"));
  // Fitted, never beyond one image pixel per screen pixel.
  EXPECT_TRUE(viewer_->imageView()->isFitted());
  EXPECT_LE(viewer_->imageView()->magnification(), 1.0);
  EXPECT_TRUE(blocker_->isCovering());
  screenshot(*viewer_->window(), "gallery-second-of-two-dark");

  // The arrows fade when the mouse rests; a movement brings them back first.
  viewer_->chrome()->showChrome();
  button("orvik-viewer-previous")->activate();
  // GTK reports an activated button's click a moment later.
  ASSERT_TRUE(orvik::testing::runMainLoopUntil([&] { return viewer_->currentIndex() == 0u; }, 10.0));
  settle();
  EXPECT_EQ(viewer_->currentIndex(), 0u);
  EXPECT_EQ(std::string(viewer_->window()->get_title()), "red.png");
  EXPECT_FALSE(button("orvik-viewer-previous")->get_sensitive());
  EXPECT_TRUE(button("orvik-viewer-next")->get_sensitive());
  EXPECT_DOUBLE_EQ(button("orvik-thumb-0")->get_opacity(), 1.0);
  screenshot(*viewer_->window(), "gallery-first-of-two-dark");

  button("orvik-thumb-1")->activate();
  ASSERT_TRUE(orvik::testing::runMainLoopUntil([&] { return viewer_->currentIndex() == 1u; }, 10.0));
  settle();
  EXPECT_EQ(viewer_->currentIndex(), 1u);
  EXPECT_TRUE(viewer_->imageView()->handleKey("Left"));
  EXPECT_EQ(viewer_->currentIndex(), 0u);
  EXPECT_TRUE(viewer_->imageView()->handleKey("Left"));  // taken, nothing before the first
  EXPECT_EQ(viewer_->currentIndex(), 0u);

  // Keys zoom about the middle and leave the fitted state; "0" refits.
  const double fitted = viewer_->imageView()->magnification();
  viewer_->imageView()->handleKey("plus");
  EXPECT_NEAR(viewer_->imageView()->magnification(), fitted * 1.25, 1e-9);
  EXPECT_FALSE(viewer_->imageView()->isFitted());
  viewer_->imageView()->handleKey("0");
  EXPECT_TRUE(viewer_->imageView()->isFitted());
}

TEST_F(ImageViewerIntegration, AClickOnTheMainWindowClosesTheViewerAndNothingStaysCovered) {
  dark_ = false;
  const fs::path one = docs_ / "one.png";
  writePng(one, 400, 300, 0x3366ccff);
  messages_->openImageModal({{"localFilePath", one.string()}, {"downloadAllowed", true}});
  ASSERT_TRUE(orvik::testing::runMainLoopUntil(
      [&] { return viewer_->window() && viewer_->window()->get_mapped(); }, 20.0));
  settle();
  EXPECT_FALSE(button("orvik-viewer-previous"));
  EXPECT_FALSE(button("orvik-thumb-0"));
  EXPECT_TRUE(button("orvik-tool-download"));
  screenshot(*viewer_->window(), "single-image-light");

  Gtk::Widget* cover = findNamed(main_.get(), "orvik-viewer-click-blocker");
  ASSERT_TRUE(cover);
  // A press on the cover, as GTK delivers it.
  bool clicked = false;
  auto controllers = cover->observe_controllers();
  for (guint i = 0; i < controllers->get_n_items(); ++i) {
    auto gesture = std::dynamic_pointer_cast<Gtk::GestureClick>(controllers->get_object(i));
    if (!gesture) continue;
    g_signal_emit_by_name(gesture->gobj(), "pressed", 1, 10.0, 10.0);
    clicked = true;
  }
  ASSERT_TRUE(clicked);
  ASSERT_TRUE(orvik::testing::runMainLoopUntil([&] { return !viewer_->window(); }, 10.0));
  EXPECT_FALSE(blocker_->isCovering());
  EXPECT_EQ(blocker_->activeCount(), 0);
  EXPECT_FALSE(findNamed(main_.get(), "orvik-viewer-click-blocker"));
  EXPECT_FALSE(viewer_->currentFilePath());
}

TEST_F(ImageViewerIntegration, DeletingTheShownFileClosesTheViewerAndRemovesIt) {
  const fs::path shown = docs_ / "shown.png";
  writePng(shown, 200, 200, 0x888888ff);
  openGallery({shown}, 0);
  messages_->deleteLocalFiles({{"filePaths", {shown.string()}}});
  EXPECT_FALSE(fs::exists(shown));
  ASSERT_TRUE(orvik::testing::runMainLoopUntil([&] { return !viewer_->window(); }, 10.0));
  EXPECT_FALSE(blocker_->isCovering());
}

}  // namespace
}  // namespace orvik
