// The document viewer: a PDF as continuous pages with zoom buttons and
// pinch, a text file as text with size buttons (0.9 at first, ±0.1 within
// 0.5..3.0), an image as a preview; every other type, and the word-processing
// formats no reader here understands, goes to the user's default
// application. Blocked types and executable files are never shown or
// opened. One document window at a time; a new document replaces it. The
// window holds the click blocker while shown.
// Widget names: "orvik-document-viewer" (window), "orvik-pdf-page-<i>",
// "orvik-document-text", "orvik-document-preview", "orvik-tool-<id>".
// THREAD-SAFETY: GTK's thread.
#pragma once

#include <gtkmm.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "viewers/media_viewers.h"

namespace orvik {
namespace platform {
class SystemOpener;
}  // namespace platform

class ViewerClickBlocker;
class ViewerToolbar;

class NativeDocumentViewerWindow final : public DocumentViewer,
                                         public std::enable_shared_from_this<NativeDocumentViewerWindow> {
 public:
  static constexpr double kPdfZoomStep = 1.25;
  static constexpr double kPdfMinScale = 0.25;
  static constexpr double kPdfMaxScale = 4.0;

  struct Collaborators {
    ViewerClickBlocker& blocker;
    platform::SystemOpener& opener;
    std::function<bool()> isDarkMode;
    std::function<void()> closePanels;  // both picture-in-picture panels
  };
  explicit NativeDocumentViewerWindow(Collaborators collaborators);
  ~NativeDocumentViewerWindow() override;

  std::optional<std::string> currentFilePath() const override { return currentFilePath_; }
  void open(const std::string& path, const std::string& fileName) override;
  void close() override;

  Gtk::Window* window() const { return window_.get(); }
  double pdfScale() const { return pdfScale_; }
  double textScale() const { return textScale_; }
  void zoomPdf(int direction);
  void stepText(int direction);
  void resetText();

 private:
  Gtk::Box* buildWindow(const std::string& fileName);
  void finishWindow(Gtk::Widget& content);
  bool showPdf(const std::string& path, const std::string& fileName);
  bool showText(const std::string& path, const std::string& fileName);
  bool showPreview(const std::string& path, const std::string& fileName);
  void layoutPdf();
  void renderText();
  void onClosed();

  Collaborators c_;
  std::unique_ptr<Gtk::Window> window_;
  std::unique_ptr<ViewerToolbar> toolbar_;
  std::optional<std::string> currentFilePath_;
  bool dark_ = true;

  struct Page {
    Gtk::Picture* picture = nullptr;
    double width = 0;   // points
    double height = 0;
  };
  std::vector<Page> pages_;
  double pdfScale_ = 1.0;

  Gtk::TextView* text_ = nullptr;
  Glib::RefPtr<Gtk::TextTag> scaleTag_;
  double textScale_ = 0.9;
};

}  // namespace orvik
