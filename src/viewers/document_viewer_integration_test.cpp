// The document viewer as the bridge opens it, under Xvfb: a generated PDF
// shows its pages and zooms, a text file shows its text with its size
// steps, and programs are refused. Screenshots are kept in the build tree's
// test-output/DocumentViewerIntegration/ folder for a person to look at.
#include <cairo-pdf.h>
#include <gtest/gtest.h>
#include <gtkmm.h>
#include <gtkmm/init.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/dispatch/glib_main_queue.h"
#include "platform/recording_system_opener.h"
#include "platform/test_support/main_loop.h"
#include "platform/test_support/scoped_environment.h"
#include "platform/test_support/temp_dir.h"
#include "viewers/document_viewer_window.h"
#include "viewers/media_viewers.h"
#include "viewers/viewer_click_blocker.h"
#include "viewers/viewer_click_blocker_gtk.h"
#include "viewers/viewer_messages.h"

namespace orvik {
namespace {
namespace fs = std::filesystem;
using orvik::testing::TempDir;

Gtk::Widget* findNamed(Gtk::Widget* root, const std::string& name) {
  if (!root) return nullptr;
  if (std::string(root->get_name()) == name) return root;
  for (Gtk::Widget* child = root->get_first_child(); child; child = child->get_next_sibling()) {
    if (auto* found = findNamed(child, name)) return found;
  }
  return nullptr;
}

void screenshot(Gtk::Window& window, const std::string& name) {
  const fs::path folder = fs::path(ORVIK_BINARY_DIR) / "test-output" / "DocumentViewerIntegration";
  fs::create_directories(folder);
  GdkPaintable* paintable = gtk_widget_paintable_new(GTK_WIDGET(window.gobj()));
  GtkSnapshot* snapshot = gtk_snapshot_new();
  gdk_paintable_snapshot(paintable, snapshot, window.get_width(), window.get_height());
  GskRenderNode* node = gtk_snapshot_free_to_node(snapshot);
  GskRenderer* renderer = gtk_native_get_renderer(GTK_NATIVE(window.gobj()));
  if (node && renderer) {
    GdkTexture* texture = gsk_renderer_render_texture(renderer, node, nullptr);
    gdk_texture_save_to_png(texture, (folder / (name + ".png")).c_str());
    g_object_unref(texture);
  }
  if (node) gsk_render_node_unref(node);
  g_object_unref(paintable);
}

void writePdf(const fs::path& file, int pages) {
  cairo_surface_t* surface = cairo_pdf_surface_create(file.c_str(), 595, 842);
  cairo_t* cr = cairo_create(surface);
  for (int i = 0; i < pages; ++i) {
    cairo_set_source_rgb(cr, 0.1, 0.2, 0.6);
    cairo_rectangle(cr, 60, 60, 475, 120);
    cairo_fill(cr);
    cairo_move_to(cr, 60, 260);
    cairo_set_font_size(cr, 36);
    cairo_show_text(cr, ("Page " + std::to_string(i + 1)).c_str());
    cairo_show_page(cr);
  }
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
}

class DocumentViewerIntegration : public ::testing::Test {
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
    overlay_ = Gtk::make_managed<Gtk::Overlay>();
    overlay_->set_child(*Gtk::make_managed<Gtk::Label>("the page"));
    main_->set_child(*overlay_);
    main_->present();
    surface_ = makeGtkBlockerSurface([this] { return overlay_; });
    blocker_ = std::make_unique<ViewerClickBlocker>(*surface_);
    viewer_ = std::make_shared<NativeDocumentViewerWindow>(
        NativeDocumentViewerWindow::Collaborators{*blocker_, opener_, [] { return true; }, {}});
    MediaViewers::Windows windows;
    windows.document = viewer_;
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

  bool openAndWait(const fs::path& file, const std::string& name) {
    messages_->openDocumentModal({{"localFilePath", file.string()}, {"fileName", name}});
    const bool shown = orvik::testing::runMainLoopUntil(
        [&] { return viewer_->window() && viewer_->window()->get_mapped() && viewer_->window()->get_opacity() >= 1.0; },
        10.0);
    settle();
    return shown;
  }
  static void settle(double seconds = 0.4) {
    const gint64 until = g_get_monotonic_time() + gint64(seconds * 1e6);
    orvik::testing::runMainLoopUntil([&] { return g_get_monotonic_time() >= until; }, seconds + 5);
  }

  static inline bool hasDisplay_ = false;
  orvik::testing::TestHome home_;
  platform::GlibMainQueue queue_;
  platform::ScopedMainQueue scopedMain_{queue_};
  fs::path docs_;
  platform::RecordingSystemOpener opener_;
  std::unique_ptr<Gtk::Window> main_;
  Gtk::Overlay* overlay_ = nullptr;
  std::unique_ptr<BlockerSurface> surface_;
  std::unique_ptr<ViewerClickBlocker> blocker_;
  std::shared_ptr<NativeDocumentViewerWindow> viewer_;
  std::unique_ptr<MediaViewers> viewers_;
  std::unique_ptr<ViewerMessages> messages_;
};

TEST_F(DocumentViewerIntegration, AGeneratedPdfShowsItsPagesAndZooms) {
  const fs::path pdf = docs_ / "Report.PDF";
  writePdf(pdf, 3);
  ASSERT_TRUE(openAndWait(pdf, "Report.PDF"));
  EXPECT_EQ(std::string(viewer_->window()->get_title()), "Report.PDF");
  EXPECT_EQ(viewer_->currentFilePath(), pdf.string());
  auto* first = findNamed(viewer_->window(), "orvik-pdf-page-0");
  ASSERT_TRUE(first);
  EXPECT_TRUE(findNamed(viewer_->window(), "orvik-pdf-page-2"));
  EXPECT_FALSE(findNamed(viewer_->window(), "orvik-pdf-page-3"));
  EXPECT_TRUE(blocker_->isCovering());
  screenshot(*viewer_->window(), "pdf-opened");

  int width = 0, height = 0;
  first->get_size_request(width, height);
  const double before = viewer_->pdfScale();
  viewer_->zoomPdf(+1);
  settle(0.2);
  EXPECT_NEAR(viewer_->pdfScale(), before * NativeDocumentViewerWindow::kPdfZoomStep, 1e-9);
  int zoomedWidth = 0;
  first->get_size_request(zoomedWidth, height);
  EXPECT_GT(zoomedWidth, width);
  for (int i = 0; i < 30; ++i) viewer_->zoomPdf(+1);
  EXPECT_DOUBLE_EQ(viewer_->pdfScale(), NativeDocumentViewerWindow::kPdfMaxScale);
  for (int i = 0; i < 60; ++i) viewer_->zoomPdf(-1);
  EXPECT_DOUBLE_EQ(viewer_->pdfScale(), NativeDocumentViewerWindow::kPdfMinScale);
  viewer_->zoomPdf(+1);
  settle(0.2);
  screenshot(*viewer_->window(), "pdf-zoomed-out");

  // Deleting it closes the viewer and removes the file.
  messages_->deleteLocalFiles({{"filePaths", {pdf.string()}}});
  EXPECT_FALSE(fs::exists(pdf));
  ASSERT_TRUE(orvik::testing::runMainLoopUntil([&] { return !viewer_->window(); }, 10.0));
  EXPECT_FALSE(blocker_->isCovering());
}

TEST_F(DocumentViewerIntegration, TextShowsWithItsSizeStepsAndProgramsAreRefused) {
  const fs::path notes = docs_ / "notes.TXT";
  TempDir::writeFile(notes, "Plain words, in a plain file.\nA second line.\n");
  ASSERT_TRUE(openAndWait(notes, "notes.TXT"));
  ASSERT_TRUE(findNamed(viewer_->window(), "orvik-document-text"));
  EXPECT_DOUBLE_EQ(viewer_->textScale(), 0.9);
  EXPECT_FALSE(findNamed(viewer_->window(), "orvik-tool-reset")->get_sensitive());
  for (int i = 0; i < 10; ++i) viewer_->stepText(-1);
  EXPECT_DOUBLE_EQ(viewer_->textScale(), 0.5);
  EXPECT_TRUE(findNamed(viewer_->window(), "orvik-tool-reset")->get_sensitive());
  viewer_->resetText();
  EXPECT_DOUBLE_EQ(viewer_->textScale(), 1.0);
  settle(0.2);
  screenshot(*viewer_->window(), "text");
  viewer_->close();

  const fs::path script = docs_ / "run.sh";
  const fs::path program = docs_ / "tool";
  TempDir::writeFile(script, "#!/bin/sh\n");
  TempDir::writeFile(program, "binary");
  ::chmod(program.c_str(), 0755);
  const fs::path letter = docs_ / "letter.docx";
  TempDir::writeFile(letter, "PK");
  for (const auto& file : {script, program, letter}) {
    messages_->openDocumentModal({{"localFilePath", file.string()}, {"fileName", file.filename().string()}});
  }
  settle(0.3);
  EXPECT_FALSE(viewer_->window());
  // Only the document goes to the user's application.
  gchar* uri = g_filename_to_uri(letter.c_str(), nullptr, nullptr);
  EXPECT_EQ(opener_.openedURLs, std::vector<std::string>{uri});
  g_free(uri);
}

}  // namespace
}  // namespace orvik
