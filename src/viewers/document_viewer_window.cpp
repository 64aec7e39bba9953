#include "viewers/document_viewer_window.h"

#include <poppler.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/file_security.h"
#include "core/native_logger.h"
#include "platform/system_opener.h"
#include "viewers/image_viewer_window.h"
#include "viewers/viewer_click_blocker.h"
#include "viewers/viewer_rules.h"
#include "viewers/viewer_toolbar.h"
#include "viewers/viewer_window_chrome.h"

namespace orvik {
namespace fs = std::filesystem;
namespace {

constexpr double kPageRenderScale = 2.0;  // pages are drawn at twice their point size

std::string lowerExtension(const std::string& path) {
  std::string extension = fs::path(path).extension().string();
  if (!extension.empty()) extension.erase(0, 1);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return char(std::tolower(c)); });
  return extension;
}

Glib::RefPtr<Gdk::Texture> renderPage(PopplerPage* page, double width, double height) {
  const int w = std::max(1, int(width * kPageRenderScale)), h = std::max(1, int(height * kPageRenderScale));
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  cairo_scale(cr, kPageRenderScale, kPageRenderScale);
  poppler_page_render(page, cr);
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  GdkPixbuf* pixbuf = gdk_pixbuf_get_from_surface(surface, 0, 0, w, h);
  cairo_surface_destroy(surface);
  if (!pixbuf) return {};
  auto texture = Glib::wrap(gdk_texture_new_for_pixbuf(pixbuf));
  g_object_unref(pixbuf);
  return texture;
}

}  // namespace

NativeDocumentViewerWindow::NativeDocumentViewerWindow(Collaborators collaborators)
    : c_(std::move(collaborators)) {}

NativeDocumentViewerWindow::~NativeDocumentViewerWindow() {
  if (window_) c_.blocker.deactivateBlocker(this);
}

void NativeDocumentViewerWindow::open(const std::string& path, const std::string& fileName) {
  if (c_.closePanels) c_.closePanels();
  // Never shown, never handed on: scripts, programs, installers, launchers.
  if (blockedFileExtensions().contains(lowerExtension(path)) || ::access(path.c_str(), X_OK) == 0) {
    nativeLog("[DocumentViewer] refused: " + fs::path(path).filename().string() + " is a program or script");
    return;
  }
  switch (viewers::documentModeFor(path)) {
    case viewers::DocumentMode::pdf:
      showPdf(path, fileName);
      return;
    case viewers::DocumentMode::text:
      if (!showText(path, fileName)) showPreview(path, fileName);
      return;
    case viewers::DocumentMode::preview:
      showPreview(path, fileName);
      return;
    case viewers::DocumentMode::external:
      break;
  }
  close();
  gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
  if (uri) c_.opener.openURL(uri);
  g_free(uri);
}

Gtk::Box* NativeDocumentViewerWindow::buildWindow(const std::string& fileName) {
  close();
  dark_ = c_.isDarkMode ? c_.isDarkMode() : true;
  const viewers::Size size = viewers::singleViewerSize(viewerScreen());
  window_ = std::make_unique<Gtk::Window>();
  window_->set_name("orvik-document-viewer");
  window_->set_title(fileName);
  window_->set_default_size(int(size.width), int(size.height));
  toolbar_ = std::make_unique<ViewerToolbar>(*window_);
  applyViewerLook(*window_, dark_);
  auto* content = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 0);
  content->set_margin_start(72);
  content->set_margin_end(72);
  content->set_margin_top(20);
  content->set_margin_bottom(20);
  return content;
}

void NativeDocumentViewerWindow::finishWindow(Gtk::Widget& content) {
  window_->set_child(content);
  const auto weak = weak_from_this();
  window_->signal_close_request().connect(
      [weak] {
        if (auto s = weak.lock()) s->onClosed();
        return false;
      },
      false);
  c_.blocker.activateBlocker(this, [weak] {
    if (auto s = weak.lock()) s->close();
  });
  presentViewerWindow(*window_);
}

bool NativeDocumentViewerWindow::showPdf(const std::string& path, const std::string& fileName) {
  gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
  PopplerDocument* document = uri ? poppler_document_new_from_file(uri, nullptr, nullptr) : nullptr;
  g_free(uri);
  if (!document) {
    close();
    return false;
  }
  Gtk::Box* content = buildWindow(fileName);
  currentFilePath_ = path;
  auto* scroller = Gtk::make_managed<Gtk::ScrolledWindow>();
  scroller->set_vexpand(true);
  auto* column = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 12);
  column->set_halign(Gtk::Align::CENTER);
  pages_.clear();
  const int count = poppler_document_get_n_pages(document);
  for (int i = 0; i < count; ++i) {
    PopplerPage* page = poppler_document_get_page(document, i);
    if (!page) continue;
    Page entry;
    poppler_page_get_size(page, &entry.width, &entry.height);
    entry.picture = Gtk::make_managed<Gtk::Picture>();
    entry.picture->set_name("orvik-pdf-page-" + std::to_string(i));
    entry.picture->set_can_shrink(true);
    entry.picture->set_paintable(renderPage(page, entry.width, entry.height));
    g_object_unref(page);
    column->append(*entry.picture);
    pages_.push_back(entry);
  }
  g_object_unref(document);
  scroller->set_child(*column);
  content->append(*scroller);
  // Fitted to the window's width, then one step smaller, as a first look.
  const double available = viewers::singleViewerSize(viewerScreen()).width - 144;
  const double widest = pages_.empty() ? 1 : std::max_element(pages_.begin(), pages_.end(), [](auto& a, auto& b) {
                                               return a.width < b.width;
                                             })->width;
  pdfScale_ = std::clamp(available / std::max(widest, 1.0) / kPdfZoomStep, kPdfMinScale, kPdfMaxScale);
  layoutPdf();
  const auto weak = weak_from_this();
  toolbar_->setGroups({{{"zoomOut", "minus.magnifyingglass", "Zoom Out", [weak] {
                          if (auto s = weak.lock()) s->zoomPdf(-1);
                        }},
                        {"zoomIn", "plus.magnifyingglass", "Zoom In", [weak] {
                           if (auto s = weak.lock()) s->zoomPdf(+1);
                         }}}});
  auto pinch = Gtk::GestureZoom::create();
  auto begin = std::make_shared<double>(1.0);
  pinch->signal_begin().connect([this, begin](Gdk::EventSequence*) {
    nativeLog("[Pinch] document viewer — pinch began");
    *begin = pdfScale_;
  });
  pinch->signal_scale_changed().connect([this, begin](double scale) {
    pdfScale_ = std::clamp(*begin * scale, kPdfMinScale, kPdfMaxScale);
    layoutPdf();
  });
  scroller->add_controller(pinch);
  finishWindow(*content);
  return true;
}

void NativeDocumentViewerWindow::layoutPdf() {
  for (auto& page : pages_) page.picture->set_size_request(int(page.width * pdfScale_), int(page.height * pdfScale_));
}

void NativeDocumentViewerWindow::zoomPdf(int direction) {
  if (pages_.empty()) return;
  pdfScale_ = std::clamp(direction > 0 ? pdfScale_ * kPdfZoomStep : pdfScale_ / kPdfZoomStep, kPdfMinScale,
                         kPdfMaxScale);
  layoutPdf();
}

bool NativeDocumentViewerWindow::showText(const std::string& path, const std::string& fileName) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  std::string text = bytes.str();
  if (!g_utf8_validate(text.data(), gssize(text.size()), nullptr)) {
    gchar* fixed = g_utf8_make_valid(text.data(), gssize(text.size()));
    text = fixed;
    g_free(fixed);
  }
  Gtk::Box* content = buildWindow(fileName);
  currentFilePath_ = path;
  auto* scroller = Gtk::make_managed<Gtk::ScrolledWindow>();
  scroller->set_vexpand(true);
  text_ = Gtk::make_managed<Gtk::TextView>();
  text_->set_name("orvik-document-text");
  text_->set_editable(false);
  text_->set_cursor_visible(false);
  text_->set_wrap_mode(Gtk::WrapMode::WORD_CHAR);
  text_->set_left_margin(28);
  text_->set_right_margin(28);
  text_->set_top_margin(28);
  text_->set_bottom_margin(28);
  auto buffer = text_->get_buffer();
  buffer->set_text(text);
  scaleTag_ = buffer->create_tag("orvik-scale");
  scroller->set_child(*text_);
  content->append(*scroller);
  textScale_ = viewers::kTextScaleStart;
  renderText();
  const auto weak = weak_from_this();
  toolbar_->setGroups({{{"smaller", "minus", "Smaller", [weak] { if (auto s = weak.lock()) s->stepText(-1); }},
                        {"reset", "textformat", "Actual Size", [weak] { if (auto s = weak.lock()) s->resetText(); }},
                        {"larger", "plus", "Larger", [weak] { if (auto s = weak.lock()) s->stepText(+1); }}}});
  toolbar_->setButtonEnabled("reset", false);
  finishWindow(*content);
  return true;
}

void NativeDocumentViewerWindow::renderText() {
  if (!text_ || !scaleTag_) return;
  auto buffer = text_->get_buffer();
  scaleTag_->property_scale() = textScale_;
  buffer->apply_tag(scaleTag_, buffer->begin(), buffer->end());
}

void NativeDocumentViewerWindow::stepText(int direction) {
  textScale_ = viewers::textScaleStep(textScale_, direction);
  renderText();
  if (toolbar_) toolbar_->setButtonEnabled("reset", true);
}

void NativeDocumentViewerWindow::resetText() {
  textScale_ = 1.0;
  renderText();
  if (toolbar_) toolbar_->setButtonEnabled("reset", false);
}

bool NativeDocumentViewerWindow::showPreview(const std::string& path, const std::string& fileName) {
  auto image = loadImageTexture(path);
  if (!image) {
    // No preview here: the user's application shows it.
    close();
    gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    if (uri) c_.opener.openURL(uri);
    g_free(uri);
    return false;
  }
  Gtk::Box* content = buildWindow(fileName);
  currentFilePath_ = path;
  auto* picture = Gtk::make_managed<Gtk::Picture>(image);
  picture->set_name("orvik-document-preview");
  picture->set_vexpand(true);
  content->append(*picture);
  toolbar_->setGroups({});
  finishWindow(*content);
  return true;
}

void NativeDocumentViewerWindow::close() {
  if (window_) onClosed();
}

void NativeDocumentViewerWindow::onClosed() {
  if (!window_) return;
  auto window = std::move(window_);
  window->hide();
  toolbar_.reset();
  pages_.clear();
  text_ = nullptr;
  scaleTag_.reset();
  currentFilePath_.reset();
  c_.blocker.deactivateBlocker(this);
  Glib::signal_idle().connect_once([window = std::shared_ptr<Gtk::Window>(std::move(window))] {});
}

}  // namespace orvik
